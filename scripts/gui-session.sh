# shellcheck shell=bash
# Sourced by the scripts that run the real desktop client on a display of their own against
# velt-matchd and velt-gamesim (gui-steer.sh, measure-panel-cpu.sh). Linux builds only.
#
# Before sourcing: ROOT, BUILD (the build folder of the tools and probes), NAME (for messages),
# WAIT_S. Gives:
#   WORK, a scratch folder removed at exit, with every started process stopped (PIDS);
#   fail TEXT; await_line FILE PATTERN WHAT [SKIP]; lines_of FILE;
#   start_display; start_matchd ARGS... (sets SERVER); start_game ARGS... (sets GAME_PID and
#   ANNOUNCE); start_player [PROGRAM] (sets PLAYER_PID and WINDOW, the main window);
#   find_window NAME_PATTERN; click WINDOW "X Y"; at CONTROL (from the layout probe);
#   watch_first_match (Connect, the first row, Watch!); close_player.

WORK=$(mktemp -d)
PIDS=()
export QT_QPA_PLATFORM=xcb

gui_session_cleanup() {
    local pid
    for pid in "${PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${PIDS[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$WORK"
}
trap gui_session_cleanup EXIT

# shellcheck source=scripts/run-lines.sh
. "$ROOT/scripts/run-lines.sh"

start_display() {
    # shellcheck source=scripts/xvfb-display.sh
    . "$ROOT/scripts/xvfb-display.sh"
    start_xvfb "$WORK" || fail "Xvfb did not start"
    PIDS+=("$XVFB_PID")
}

start_matchd() {
    "$BUILD/tools/matchd/velt-matchd" --listen 127.0.0.1:0 "$@" >"$WORK/matchd.log" 2>&1 &
    PIDS+=($!)
    SERVER=$(await_line "$WORK/matchd.log" '^listening on ' "velt-matchd did not listen")
    SERVER=${SERVER#listening on }
}

start_game() {
    "$BUILD/tools/gamesim/velt-gamesim" --announce-port 0 "$@" >"$WORK/gamesim.log" 2>&1 &
    GAME_PID=$!
    PIDS+=("$GAME_PID")
    ANNOUNCE=$(await_line "$WORK/gamesim.log" '^listening for announcements on UDP port ' \
        "velt-gamesim did not listen")
    ANNOUNCE=${ANNOUNCE##* }
}

find_window() {
    local name=$1 i found=""
    for ((i = 0; i < WAIT_S * 2; i++)); do
        found=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -n1) || true
        [ -n "$found" ] && break
        kill -0 "$PLAYER_PID" 2>/dev/null || fail "veltplayer ended"
        sleep 0.5
    done
    [ -n "$found" ] || fail "no window named $name within $WAIT_S s"
    echo "$found"
}

click() {
    local xy
    read -r -a xy <<<"$2"
    xdotool mousemove --sync --window "$1" "${xy[0]}" "${xy[1]}" click 1
}

at() { grep -m1 "^$1 " "$WORK/layout" | cut -d' ' -f2-; }

# The client with the settings of a run: a Warcraft III folder without maps, and a "wine" that
# starts nothing.
start_player() {
    local program=${1:-$BUILD/app/veltplayer}
    mkdir -p "$WORK/bin" "$WORK/run" "$WORK/Warcraft III"
    : >"$WORK/Warcraft III/war3.exe"
    printf '#!/bin/sh\nexit 0\n' >"$WORK/bin/wine"
    chmod +x "$WORK/bin/wine"
    printf '[SETTINGS]\r\nwarcraftpath=%s\r\n' "$WORK/Warcraft III/" >"$WORK/run/VELT.ini"
    (cd "$WORK/run" && "$BUILD/tests/app/gui_layout_probe") >"$WORK/layout" 2>"$WORK/probe.log"
    [ -n "$(at connect)" ] || fail "no layout"
    (cd "$WORK/run" && PATH="$WORK/bin:$PATH" exec "$program" --server "$SERVER" \
        --announce-port "$ANNOUNCE" --port-base 0) >"$WORK/veltplayer.log" 2>&1 &
    PLAYER_PID=$!
    PIDS+=("$PLAYER_PID")
    WINDOW=$(find_window '^VELT BETA 0\.4$')
}

watch_first_match() {
    click "$WINDOW" "$(at connect)"
    # The list arrives from loopback in a moment; give the window time to show it.
    sleep 2
    click "$WINDOW" "$(at row0)"
    click "$WINDOW" "$(at watch)"
}

close_player() {
    local i
    "$BUILD/tests/app/close_window" "$WINDOW" || fail "the window could not be asked to close"
    for ((i = 0; i < WAIT_S * 10; i++)); do
        kill -0 "$PLAYER_PID" 2>/dev/null || return 0
        sleep 0.1
    done
    fail "veltplayer did not end when its window was closed"
}
