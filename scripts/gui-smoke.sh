#!/bin/bash
# Runs the real veltplayer on a virtual X display against velt-matchd, with velt-gamesim in
# Warcraft III's place, and drives it with real mouse clicks: Connect, a row of the match list,
# Window Mode, Watch!. Saves a screenshot of the window after Connect. Passes when the simulated
# game joined the watched match and received time slots, the launch started the game from the
# folder in VELT.ini with -window, and the check box wrote VELT.ini. Ends by itself within a few
# minutes and stops every process it started.
#
# On a Linux build the launch runs "wine", which a stand-in records. On a Windows build
# (veltplayer.exe) every program runs under Wine, in a Wine prefix of the run's own, and the
# launcher starts the launcher tests' stand-in war3.exe through CreateProcess.
#
# Needs: xvfb, xdotool, imagemagick (import), a build with the desktop client, and wine for a
# Windows build.
# Usage: scripts/gui-smoke.sh [BUILD_DIR] [SCREENSHOT]
#        (defaults: build/debug and BUILD_DIR/gui-smoke-connected.png)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/debug}" && pwd)
SHOT=${2:-$BUILD/gui-smoke-connected.png}
WAIT_S=120         # for each process to come up, and for the window to close, on a loaded machine
GAME_TIMEOUT_S=300 # for the whole watched session, the window's start included

WINDOWS=0
EXE=""
RUN=()
if [ -f "$BUILD/app/veltplayer.exe" ]; then
    WINDOWS=1
    EXE=.exe
    RUN=(wine)
fi
TOOLS=(Xvfb xdotool import)
[ "$WINDOWS" = 0 ] || TOOLS+=(wine wineserver winepath)
for tool in "${TOOLS[@]}"; do
    command -v "$tool" >/dev/null || { echo "gui-smoke: needs $tool (xvfb, xdotool, imagemagick, wine)" >&2; exit 1; }
done
TARGETS=(veltplayer velt-matchd velt-gamesim gui_layout_probe)
if [ "$WINDOWS" = 1 ]; then TARGETS+=(velt_fake_war3); else TARGETS+=(close_window); fi
# The test suite runs this on a finished build; building here would rewrite programs that other
# tests of the same run may be executing.
if [ -z "${VELT_GUI_SMOKE_PREBUILT:-}" ]; then
    cmake --build "$BUILD" --target "${TARGETS[@]}"
fi
# The run drives a real X display: a QT_QPA_PLATFORM=offscreen left in the environment (as the
# offscreen GUI tests use) would keep every window off it.
export QT_QPA_PLATFORM=xcb

WORK=$(mktemp -d)
PIDS=()
cleanup() {
    local pid
    for pid in "${PIDS[@]}" ${XVFB_PID:-}; do
        kill "$pid" 2>/dev/null || true
    done
    # Wine's programs run on in its server after their loader is gone.
    if [ "$WINDOWS" = 1 ]; then
        wineserver -k 2>/dev/null || true
    fi
    for pid in "${PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

NAME=gui-smoke
# shellcheck source=scripts/run-lines.sh
. "$ROOT/scripts/run-lines.sh"

# A display of its own, taking connections.
# shellcheck source=scripts/xvfb-display.sh
. "$ROOT/scripts/xvfb-display.sh"
start_xvfb "$WORK" || fail "Xvfb did not start"
PIDS+=("$XVFB_PID")

if [ "$WINDOWS" = 1 ]; then
    # A prefix of the run's own, created with this display: a Wine server that started without
    # one cannot make windows.
    export WINEPREFIX="$WORK/wine" WINEDEBUG=-all
    mkdir -p "$WINEPREFIX"
    (wineserver -p && wine cmd /c exit) </dev/null >"$WORK/wineboot.log" 2>&1 ||
        fail "no Wine prefix"
fi

"${RUN[@]}" "$BUILD/tools/matchd/velt-matchd$EXE" --listen 127.0.0.1:0 --synthetic 8 --live 1 --seed 3 \
    >"$WORK/matchd.log" 2>&1 &
PIDS+=($!)
SERVER=$(await_line "$WORK/matchd.log" '^listening on ' "velt-matchd did not listen")
SERVER=${SERVER#listening on }

# The game has no map files here, so it force-starts from the lobby instead of typing /start.
"${RUN[@]}" "$BUILD/tools/gamesim/velt-gamesim$EXE" --announce-port 0 --lobby /fs --no-start --leave-at 20000 \
    --timeout "$GAME_TIMEOUT_S" >"$WORK/gamesim.log" 2>&1 &
GAME_PID=$!
PIDS+=("$GAME_PID")
ANNOUNCE=$(await_line "$WORK/gamesim.log" '^listening for announcements on UDP port ' \
    "velt-gamesim did not listen")
ANNOUNCE=${ANNOUNCE##* }

# The game the launch starts, recording how it was called, and the settings of the run. On
# Linux that is wine with the folder's war3.exe; on Windows war3.exe itself.
mkdir -p "$WORK/bin" "$WORK/run" "$WORK/Warcraft III"
if [ "$WINDOWS" = 1 ]; then
    # The launcher tests' war3.exe: notes "program|command line" in launches.txt beside itself.
    cp "$BUILD/tests/platform/velt_fake_war3.exe" "$WORK/Warcraft III/war3.exe"
    FOLDER="$(winepath -w "$WORK/Warcraft III" | tr -d '\r')\\"
else
    : >"$WORK/Warcraft III/war3.exe"
    printf '#!/bin/sh\nprintf "%%s\\n" "$@" >"%s/wine-args"\n' "$WORK" >"$WORK/bin/wine"
    chmod +x "$WORK/bin/wine"
    FOLDER="$WORK/Warcraft III/"
fi
printf '[SETTINGS]\r\nwarcraftpath=%s\r\n' "$FOLDER" >"$WORK/run/VELT.ini"

# Where the controls are on this display, as the program lays them out.
(cd "$WORK/run" && "${RUN[@]}" "$BUILD/tests/app/gui_layout_probe$EXE") >"$WORK/layout" 2>"$WORK/probe.log"
at() { tr -d '\r' <"$WORK/layout" | grep -m1 "^$1 " | cut -d' ' -f2-; }
[ -n "$(at connect)" ] || fail "no layout"

(cd "$WORK/run" && PATH="$WORK/bin:$PATH" WINEPREFIX="${WINEPREFIX:-$WORK/wine}" exec "${RUN[@]}" \
    "$BUILD/app/veltplayer$EXE" --server "$SERVER" --announce-port "$ANNOUNCE" --port-base 0) \
    >"$WORK/veltplayer.log" 2>&1 &
PLAYER_PID=$!
PIDS+=("$PLAYER_PID")
WINDOW=""
for ((i = 0; i < WAIT_S * 2; i++)); do
    WINDOW=$(xdotool search --name '^VELT BETA 0\.4$' 2>/dev/null | head -n1) || true
    [ -n "$WINDOW" ] && break
    kill -0 "$PLAYER_PID" 2>/dev/null || fail "veltplayer ended before its window appeared"
    sleep 0.5
done
[ -n "$WINDOW" ] || fail "the main window did not appear within $WAIT_S s"

click() {
    local xy
    read -r -a xy <<<"$(at "$1")"
    xdotool mousemove --sync --window "$WINDOW" "${xy[0]}" "${xy[1]}" click 1
}

click connect
# The list arrives from loopback in a moment; give the window time to show it.
sleep 2
if [ "$WINDOWS" = 1 ]; then
    # Wine's window reads back black; the screen at its place holds what it drew.
    eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
    import -window root -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$SHOT" || fail "no screenshot"
else
    import -window "$WINDOW" "$SHOT" || fail "no screenshot"
fi
echo "gui-smoke: screenshot after Connect: $SHOT"

click row0
click windowmode
click watch

wait "$GAME_PID" || true
tr -d '\r' <"$WORK/gamesim.log" >"$WORK/gamesim.txt"
grep -E '^(joined port|time slots|game time|leave ack)' "$WORK/gamesim.txt" || true
JOINED=$(sed -n 's/^joined port: //p' "$WORK/gamesim.txt")
SLOTS=$(sed -n 's/^time slots: \([0-9]*\).*/\1/p' "$WORK/gamesim.txt")
[ -n "$JOINED" ] && [ "$JOINED" != 0 ] || fail "the game did not join"
[ -n "$SLOTS" ] && [ "$SLOTS" -gt 0 ] || fail "the game received no time slots"
if [ "$WINDOWS" = 1 ]; then
    # CreateProcess on the folder's war3.exe, " -window" ending its command line.
    LAUNCH=$(await_line "$WORK/Warcraft III/launches.txt" '.' "the game was not launched")
    [ "${LAUNCH%%|*}" = "${FOLDER}war3.exe" ] && [ "${LAUNCH% -window}" != "$LAUNCH" ] ||
        fail "launched as: $LAUNCH"
else
    [ -f "$WORK/wine-args" ] || fail "the game was not launched"
    EXPECTED_ARGS=$(printf '%s\n%s' "${FOLDER}war3.exe" "-window")
    [ "$(cat "$WORK/wine-args")" = "$EXPECTED_ARGS" ] ||
        fail "launched as: $(tr '\n' ' ' <"$WORK/wine-args")"
fi
grep -q '^windowmode=1' "$WORK/run/VELT.ini" || fail "Window Mode was not saved"

# Escape leaves the main window open; its close box ends the program. Under Wine the game's window
# has come to the front, over the top left corner: a click on the window's bottom right corner
# (between the scroll bars) gives it the keyboard back first, and Alt+F4 is the close box there.
if [ "$WINDOWS" = 1 ]; then
    eval "$(xdotool getwindowgeometry --shell "$WINDOW")"
    xdotool mousemove --window "$WINDOW" $((WIDTH - 4)) $((HEIGHT - 4)) click 1 sleep 0.5 key Escape
    sleep 1
    kill -0 "$PLAYER_PID" 2>/dev/null || fail "veltplayer ended on Escape"
    xdotool key alt+F4
else
    xdotool mousemove --window "$WINDOW" 5 5 key Escape
    sleep 1
    kill -0 "$PLAYER_PID" 2>/dev/null || fail "veltplayer ended on Escape"
    "$BUILD/tests/app/close_window" "$WINDOW" || fail "the window could not be asked to close"
fi
for ((i = 0; i < WAIT_S * 10; i++)); do
    kill -0 "$PLAYER_PID" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$PLAYER_PID" 2>/dev/null; then
    fail "veltplayer did not end when its window was closed"
fi
echo "gui-smoke: OK: the game joined port $JOINED and received $SLOTS time slots"
