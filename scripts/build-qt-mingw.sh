#!/bin/bash
# Builds Qt 6 for Windows (x86_64, MinGW-w64) from Debian's own qt6-base source package: QtCore,
# QtGui, QtWidgets and QtTest as DLLs, with the windows, offscreen and minimal platform plugins.
# The version is the one of the installed qt6-base-dev, whose moc, rcc and uic the cross build
# uses. About 35 minutes on 2 cores; about 70 MB installed.
#
# Usage: scripts/build-qt-mingw.sh [--configure-only] [--jobs N] [PREFIX [WORK_DIR]]
#   PREFIX    where Qt is installed (default: build/qt-mingw/qt6-mingw)
#   WORK_DIR  source and build folders (default: build/qt-mingw-work); removable afterwards
# Needs root (or sudo) for apt: adds a deb-src entry for bookworm and installs the cross
# compiler, zlib for MinGW and dpkg-dev when they are missing.
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
HERE="$ROOT/scripts/qt-mingw"

CONFIGURE_ONLY=0
JOBS=2
while [ $# -gt 0 ]; do
    case $1 in
        --configure-only) CONFIGURE_ONLY=1; shift ;;
        --jobs) JOBS=$2; shift 2 ;;
        -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
        -*) echo "build-qt-mingw: unknown option $1" >&2; exit 2 ;;
        *) break ;;
    esac
done
PREFIX=${1:-$ROOT/build/qt-mingw/qt6-mingw}
WORK=${2:-$ROOT/build/qt-mingw-work}
mkdir -p "$PREFIX" "$WORK"
PREFIX=$(cd "$PREFIX" && pwd)
WORK=$(cd "$WORK" && pwd)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# The host tools must be exactly the version being built.
QT_VERSION=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null || true)
if [ -z "$QT_VERSION" ]; then
    echo "build-qt-mingw: qt6-base-dev is not installed (scripts/setup-debian.sh installs it)" >&2
    exit 1
fi
echo "build-qt-mingw: qt6-base $QT_VERSION into $PREFIX"

# 1. Debian's source package.
SOURCES=/etc/apt/sources.list.d/velt-deb-src.sources
if ! apt-get source --download-only --print-uris "qt6-base=$QT_VERSION" >/dev/null 2>&1; then
    if [ ! -f "$SOURCES" ]; then
        printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' \
            'Suites: bookworm bookworm-updates' 'Components: main' \
            'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' | $SUDO tee "$SOURCES" >/dev/null
    fi
    $SUDO apt-get -o DPkg::Lock::Timeout=600 update
fi
$SUDO apt-get -o DPkg::Lock::Timeout=600 install -y --no-upgrade --no-install-recommends dpkg-dev g++-mingw-w64-x86-64-posix \
    libz-mingw-w64-dev cmake ninja-build qt6-base-dev-tools
SRC="$WORK/src"
if [ ! -f "$SRC/.velt-patched" ]; then
    rm -rf "$SRC" "$WORK/dl"
    mkdir -p "$WORK/dl"
    (cd "$WORK/dl" && apt-get source --download-only "qt6-base=$QT_VERSION")
    dpkg-source -x "$WORK"/dl/qt6-base_*.dsc "$SRC"
    # 2. 6.4.2's windows plugin uses the DirectWrite font database whenever DirectWrite 3 is
    # on, but QtGui builds it only with Direct2D, which MinGW's headers cannot give: without
    # this, qwindows.dll fails to link.
    (cd "$SRC" && patch -p1 <"$HERE/directwrite3-without-direct2d.patch")
    touch "$SRC/.velt-patched"
fi

# 3. Configure. Only what a Widgets program needs; tablet events off because neither Debian's
# source nor MinGW has the wintab headers; the bundled FreeType because the offscreen plugin is
# built only with it.
BUILD="$WORK/build"
mkdir -p "$BUILD"
cmake -G Ninja -S "$SRC" -B "$BUILD" \
    -DCMAKE_TOOLCHAIN_FILE="$HERE/toolchain-mingw64.cmake" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DQT_BUILD_TOOLS_WHEN_CROSSCOMPILING=OFF -DFEATURE_pkg_config=OFF \
    -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_printsupport=OFF \
    -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
    -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_vulkan=OFF -DFEATURE_direct2d=OFF \
    -DFEATURE_tabletevent=OFF \
    -DFEATURE_zstd=OFF -DFEATURE_icu=OFF -DFEATURE_jpeg=OFF \
    -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF \
    -DFEATURE_system_zlib=ON -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_png=OFF -DFEATURE_system_doubleconversion=OFF
if [ "$CONFIGURE_ONLY" = 1 ]; then
    echo "build-qt-mingw: configured in $BUILD"
    exit 0
fi

# 4. Build and install (about 900 steps).
cmake --build "$BUILD" --parallel "$JOBS"
cmake --install "$BUILD"
echo "build-qt-mingw: installed into $PREFIX"
