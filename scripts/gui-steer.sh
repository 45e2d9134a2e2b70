#!/bin/bash
# Steers a watched match from the desktop client's watching panel with real key presses and
# clicks, on a virtual X display, against velt-matchd and velt-gamesim --pace (the game at its
# own pace). Passes when:
#   - Space on the panel pauses: the game gets the pause line, and no game time passes until
#     Space again, 3 s later, resumes it;
#   - a click at three quarters of the timeline fast-forwards there: the game gets the fast
#     forward lines, and /time, typed once play is back to normal speed, agrees with the time
#     clicked within 2 s;
#   - the panel goes when the session ends (the game leaves).
# Ends by itself within a few minutes and stops every process it started.
#
# Needs: xvfb, xdotool, a Linux build with the desktop client.
# Usage: scripts/gui-steer.sh [BUILD_DIR]   (default: build/debug)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-$ROOT/build/debug}" && pwd)
WAIT_S=120      # for each process and line to come, on a loaded machine
LENGTH_S=60     # the match's game time
CLICK_AT_S=45   # three quarters of it
TOLERANCE_S=2

for tool in Xvfb xdotool; do
    command -v "$tool" >/dev/null || { echo "gui-steer: needs $tool (xvfb, xdotool)" >&2; exit 1; }
done
if [ -z "${VELT_GUI_SMOKE_PREBUILT:-}" ]; then
    cmake --build "$BUILD" --target veltplayer velt-matchd velt-gamesim gui_layout_probe close_window
fi

NAME=gui-steer
# shellcheck source=scripts/gui-session.sh
. "$ROOT/scripts/gui-session.sh"
# The stamps of a game line "game:  @W +G text": W ms since the game started, G its game time.
wall_of() { sed -E 's/^game:  @([0-9]+) .*/\1/' <<<"$1"; }
game_of() { sed -E 's/^game:  @[0-9]+ \+([0-9]+) .*/\1/' <<<"$1"; }

start_display
start_matchd --synthetic 1 --length "$LENGTH_S" --seed 5
# The game has no map files here, so it force-starts from the lobby. Once play is back at normal
# speed after a fast forward it asks for the time; it leaves near the match's end.
start_game --pace --stamp --lobby /fs --no-start --answer "Now play with normal speed=/time" \
    --leave-at $(((LENGTH_S - 5) * 1000)) --timeout 300
start_player
[ -n "$(at timeline75)" ] || fail "no layout of the panel"
watch_first_match
PANEL=$(find_window '^VELT - ')
# Play has begun: a line has come at some game time.
await_line "$WORK/gamesim.log" '^game:  @[0-9]+ \+[1-9]' "the game did not start" >/dev/null
sleep 3

# Space, with the pointer on the panel (no window manager: the keys go where the pointer is).
FROM=$(lines_of "$WORK/gamesim.log")
click "$PANEL" "$(at panelblank)"
xdotool key space
PAUSED=$(await_line "$WORK/gamesim.log" '^game:  .*Paused at ' "Space did not pause" "$FROM")
sleep 3.5
FROM=$(lines_of "$WORK/gamesim.log")
xdotool key space
RESUMED=$(await_line "$WORK/gamesim.log" '^game:  .*Resumed' "Space did not resume" "$FROM")
HELD_MS=$(($(wall_of "$RESUMED") - $(wall_of "$PAUSED")))
[ "$HELD_MS" -ge 3000 ] || fail "paused for $HELD_MS ms only"
[ "$(game_of "$RESUMED")" = "$(game_of "$PAUSED")" ] ||
    fail "game time went on while paused: $(game_of "$PAUSED") -> $(game_of "$RESUMED") ms"
echo "gui-steer: Space paused for $HELD_MS ms at $(game_of "$PAUSED") ms of game time"

# A click at three quarters of the timeline.
FROM=$(lines_of "$WORK/gamesim.log")
click "$PANEL" "$(at timeline75)"
await_line "$WORK/gamesim.log" '^game:  .*Now fast forward to ' "no fast forward" "$FROM"
TIME=$(await_line "$WORK/gamesim.log" '^game:  .*current game time is ' "no /time answer" "$FROM")
read -r MINUTES SECONDS < <(sed -E 's/.*time is +([0-9]+):([0-9]+).*/\1 \2/' <<<"$TIME")
TOLD_S=$((10#$MINUTES * 60 + 10#$SECONDS))
OFF_S=$((TOLD_S > CLICK_AT_S ? TOLD_S - CLICK_AT_S : CLICK_AT_S - TOLD_S))
[ "$OFF_S" -le "$TOLERANCE_S" ] || fail "/time says $TOLD_S s after a click at $CLICK_AT_S s"
echo "gui-steer: the click at $CLICK_AT_S s fast-forwarded; /time says $TOLD_S s"

# The game leaves near the end: the session ends and its panel goes.
wait "$GAME_PID" || fail "the game's session did not end properly"
for ((i = 0; i < WAIT_S * 10; i++)); do
    xdotool search --onlyvisible --name '^VELT - ' >/dev/null 2>&1 || break
    sleep 0.1
done
if xdotool search --onlyvisible --name '^VELT - ' >/dev/null 2>&1; then
    fail "the panel stayed after the session ended"
fi
close_player
echo "gui-steer: OK: paused by Space, fast-forwarded by a click, panel gone at the end"
