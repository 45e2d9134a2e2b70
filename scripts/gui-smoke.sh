#!/bin/bash
# Runs the real veltplayer on a virtual X display against velt-matchd, with velt-gamesim in
# Warcraft III's place, and drives it with real mouse clicks: Connect, a row of the match list,
# Window Mode, Watch!. Saves a screenshot of the window after Connect. Passes when the simulated
# game joined the watched match and received time slots, the launch ran "wine" with the folder
# from VELT.ini and -window, and the check box wrote VELT.ini. Ends by itself within a few
# minutes and stops every process it started.
#
# Needs: xvfb, xdotool, imagemagick (import), and a build with the desktop client.
# Usage: scripts/gui-smoke.sh [BUILD_DIR] [SCREENSHOT]
#        (defaults: build/debug and BUILD_DIR/gui-smoke-connected.png)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/debug}" && pwd)
SHOT=${2:-$BUILD/gui-smoke-connected.png}
WAIT_S=120         # for each process to come up, and for the window to close, on a loaded machine
GAME_TIMEOUT_S=300 # for the whole watched session, the window's start included

for tool in Xvfb xdotool import; do
    command -v "$tool" >/dev/null || { echo "gui-smoke: needs $tool (xvfb, xdotool, imagemagick)" >&2; exit 1; }
done
# The test suite runs this on a finished build; building here would rewrite programs that other
# tests of the same run may be executing.
if [ -z "${VELT_GUI_SMOKE_PREBUILT:-}" ]; then
    cmake --build "$BUILD" --target veltplayer velt-matchd velt-gamesim gui_layout_probe close_window
fi
# The run drives a real X display: a QT_QPA_PLATFORM=offscreen left in the environment (as the
# offscreen GUI tests use) would keep every window off it.
export QT_QPA_PLATFORM=xcb

WORK=$(mktemp -d)
PIDS=()
cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    echo "gui-smoke: FAILED: $*" >&2
    local log
    for log in "$WORK"/*.log; do
        if [ -s "$log" ]; then
            echo "--- $(basename "$log")" >&2
            tail -n 20 "$log" >&2
        fi
    done
    exit 1
}

# Waits until a file holds a line matching a pattern; prints that line.
await_line() {
    local file=$1 pattern=$2 what=$3 i
    for ((i = 0; i < WAIT_S * 10; i++)); do
        if grep -m1 -E "$pattern" "$file" 2>/dev/null; then
            return 0
        fi
        sleep 0.1
    done
    fail "$what"
}

# A display of its own: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.log" &
PIDS+=($!)
DISPLAY_NUMBER=$(await_line "$WORK/display" '^[0-9]+$' "Xvfb did not start")
export DISPLAY=":$DISPLAY_NUMBER"

"$BUILD/tools/matchd/velt-matchd" --listen 127.0.0.1:0 --synthetic 8 --live 1 --seed 3 \
    >"$WORK/matchd.log" 2>&1 &
PIDS+=($!)
SERVER=$(await_line "$WORK/matchd.log" '^listening on ' "velt-matchd did not listen")
SERVER=${SERVER#listening on }

# The game has no map files here, so it force-starts from the lobby instead of typing /start.
"$BUILD/tools/gamesim/velt-gamesim" --announce-port 0 --lobby /fs --no-start --leave-at 20000 \
    --timeout "$GAME_TIMEOUT_S" >"$WORK/gamesim.log" 2>&1 &
GAME_PID=$!
PIDS+=("$GAME_PID")
ANNOUNCE=$(await_line "$WORK/gamesim.log" '^listening for announcements on UDP port ' \
    "velt-gamesim did not listen")
ANNOUNCE=${ANNOUNCE##* }

# A stand-in for wine that records how the launch called it, and the settings of the run.
mkdir -p "$WORK/bin" "$WORK/run" "$WORK/Warcraft III"
: >"$WORK/Warcraft III/war3.exe"
printf '#!/bin/sh\nprintf "%%s\\n" "$@" >"%s/wine-args"\n' "$WORK" >"$WORK/bin/wine"
chmod +x "$WORK/bin/wine"
printf '[SETTINGS]\r\nwarcraftpath=%s\r\n' "$WORK/Warcraft III/" >"$WORK/run/VELT.ini"

# Where the controls are on this display, as the program lays them out.
(cd "$WORK/run" && "$BUILD/tests/app/gui_layout_probe") >"$WORK/layout" 2>"$WORK/probe.log"
at() { grep -m1 "^$1 " "$WORK/layout" | cut -d' ' -f2-; }
[ -n "$(at connect)" ] || fail "no layout"

(cd "$WORK/run" && PATH="$WORK/bin:$PATH" WINEPREFIX="$WORK/wine" exec "$BUILD/app/veltplayer" \
    --server "$SERVER" --announce-port "$ANNOUNCE" --port-base 0) >"$WORK/veltplayer.log" 2>&1 &
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
import -window "$WINDOW" "$SHOT" || fail "no screenshot"
echo "gui-smoke: screenshot after Connect: $SHOT"

click row0
click windowmode
click watch

wait "$GAME_PID" || true
grep -E '^(joined port|time slots|game time|leave ack)' "$WORK/gamesim.log" || true
JOINED=$(sed -n 's/^joined port: //p' "$WORK/gamesim.log")
SLOTS=$(sed -n 's/^time slots: \([0-9]*\).*/\1/p' "$WORK/gamesim.log")
[ -n "$JOINED" ] && [ "$JOINED" != 0 ] || fail "the game did not join"
[ -n "$SLOTS" ] && [ "$SLOTS" -gt 0 ] || fail "the game received no time slots"
[ -f "$WORK/wine-args" ] || fail "the game was not launched"
EXPECTED_ARGS=$(printf '%s\n%s' "$WORK/Warcraft III/war3.exe" "-window")
[ "$(cat "$WORK/wine-args")" = "$EXPECTED_ARGS" ] ||
    fail "launched as: $(tr '\n' ' ' <"$WORK/wine-args")"
grep -q '^windowmode=1' "$WORK/run/VELT.ini" || fail "Window Mode was not saved"

# Escape leaves the main window open; its close box ends the program.
xdotool mousemove --window "$WINDOW" 5 5 key Escape
sleep 1
kill -0 "$PLAYER_PID" 2>/dev/null || fail "veltplayer ended on Escape"
"$BUILD/tests/app/close_window" "$WINDOW" || fail "the window could not be asked to close"
for ((i = 0; i < WAIT_S * 10; i++)); do
    kill -0 "$PLAYER_PID" 2>/dev/null || break
    sleep 0.1
done
if kill -0 "$PLAYER_PID" 2>/dev/null; then
    fail "veltplayer did not end when its window was closed"
fi
echo "gui-smoke: OK: the game joined port $JOINED and received $SLOTS time slots"
