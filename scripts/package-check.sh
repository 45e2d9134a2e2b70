#!/bin/bash
# Builds the Debian package and checks it as a user would meet it: its contents (dpkg-deb -c),
# its dependencies, lintian (no errors allowed), the desktop entry; then installs it with
# apt-get, checks that .w3g files are registered to it, runs the installed "veltplayer --demo"
# on a virtual X display with a fresh home, takes a screenshot, and removes the package again,
# also when a step fails.
#
# Needs: root (or sudo), dpkg-dev, lintian, desktop-file-utils, shared-mime-info, xvfb, xdotool,
# imagemagick.
# Usage: scripts/package-check.sh [BUILD_DIR]   (default: build/package)
#        VELT_PACKAGE_BUILD_TYPE=Debug ... builds the programs without optimisation (faster)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-$ROOT/build/package}
WAIT_S=60 # for the installed program's window, on a loaded machine
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

fail() {
    echo "package-check: FAILED: $*" >&2
    exit 1
}

cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE="${VELT_PACKAGE_BUILD_TYPE:-Release}" \
    -DVELT_BUILD_TESTS=OFF \
    -DCMAKE_INSTALL_PREFIX=/usr
cmake --build "$BUILD"
rm -f "$BUILD"/veltplayer_*.deb
(cd "$BUILD" && cpack -G DEB)
DEB=$(cd "$BUILD" && ls "$PWD"/veltplayer_*_amd64.deb) # apt-get takes a file by its path
echo "package-check: built $(basename "$DEB")"

echo "-- contents"
dpkg-deb -c "$DEB" | tee "$BUILD/package-contents.txt"
for path in usr/bin/veltplayer usr/bin/velt usr/bin/velt-matchd usr/bin/velt-gamesim \
    usr/share/applications/veltplayer.desktop usr/share/metainfo/veltplayer.metainfo.xml \
    usr/share/icons/hicolor/48x48/apps/veltplayer.png \
    usr/share/icons/hicolor/128x128/apps/veltplayer.png \
    usr/share/icons/hicolor/scalable/apps/veltplayer.svg \
    usr/share/man/man1/veltplayer.1.gz usr/share/man/man1/velt.1.gz \
    usr/share/man/man1/velt-matchd.1.gz usr/share/man/man1/velt-gamesim.1.gz \
    usr/share/doc/veltplayer/copyright usr/share/mime/packages/veltplayer.xml; do
    grep -q " \./$path\$" "$BUILD/package-contents.txt" || fail "the package lacks /$path"
done

echo "-- dependencies"
DEPENDS=$(dpkg-deb -f "$DEB" Depends)
echo "Depends: $DEPENDS"
for library in libqt6widgets6 libc6 libsqlite3; do
    grep -q "$library" <<<"$DEPENDS" || fail "no dependency on $library"
done

echo "-- desktop entry"
desktop-file-validate "$ROOT/res/linux/veltplayer.desktop"
grep -qx 'MimeType=application/x-w3g;' "$ROOT/res/linux/veltplayer.desktop" ||
    fail "the desktop entry does not open replay files (application/x-w3g)"
grep -q 'Exec=veltplayer %f' "$ROOT/res/linux/veltplayer.desktop" ||
    fail "the desktop entry does not pass the file to veltplayer"

echo "-- lintian"
lintian --fail-on error --tag-display-limit 0 "$DEB" || fail "lintian reports errors"

echo "-- install, run, remove"
WORK=$(mktemp -d)
PIDS=()
INSTALLED=0
cleanup() {
    local pid
    for pid in "${PIDS[@]}" ${XVFB_PID:-}; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    if [ "$INSTALLED" = 1 ]; then
        $SUDO apt-get remove -y veltplayer >/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT

$SUDO apt-get install -y "$DEB"
INSTALLED=1
[ -x /usr/bin/veltplayer ] || fail "veltplayer is not installed in /usr/bin"
man -w veltplayer >/dev/null || fail "no manual page for veltplayer"
# The triggers of shared-mime-info and desktop-file-utils have run: a .w3g file is a replay,
# and veltplayer is offered for it.
grep -qx 'application/x-w3g:\*\.w3g' /usr/share/mime/globs ||
    fail "the MIME database does not know .w3g files"
grep -q '^application/x-w3g=.*veltplayer\.desktop' /usr/share/applications/mimeinfo.cache ||
    fail "veltplayer is not registered for application/x-w3g"

# shellcheck source=scripts/xvfb-display.sh
. "$ROOT/scripts/xvfb-display.sh"
start_xvfb "$WORK" || fail "Xvfb did not start"
PIDS+=("$XVFB_PID")
# As the desktop menu starts it: in the home folder, which holds no VELT.ini.
mkdir -p "$WORK/home"
(cd "$WORK/home" && HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" \
    exec /usr/bin/veltplayer --demo) >"$WORK/veltplayer.log" 2>&1 &
PLAYER_PID=$!
PIDS+=("$PLAYER_PID")
WINDOW=$(timeout "$WAIT_S" xdotool search --sync --name '^VELT BETA 0\.4$' | head -n1) || {
    cat "$WORK/veltplayer.log" >&2
    fail "the installed program showed no window"
}
[ -d "$WORK/home/.config/veltplayer" ] || fail "the configuration folder was not created"
sleep 1
import -window "$WINDOW" "$BUILD/installed-demo.png" || fail "no screenshot"
echo "package-check: screenshot of the installed program: $BUILD/installed-demo.png"
kill "$PLAYER_PID"
wait "$PLAYER_PID" 2>/dev/null || true

$SUDO apt-get remove -y veltplayer
INSTALLED=0
[ ! -e /usr/bin/veltplayer ] || fail "veltplayer is still installed after the removal"
echo "package-check: OK"
