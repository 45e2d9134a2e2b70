#!/bin/sh
# Runs `velt demo` and checks that the viewer saw the whole story, in order where it matters.
# The arguments are the command that runs velt: the program, or an emulator and the program.
set -u
out="$(mktemp)"
trap 'rm -f "$out"' EXIT
"$@" demo --seconds 5 >"$out" 2>&1
status=$?
cat "$out"
if [ "$status" -ne 0 ]; then
    echo "check-demo: velt demo exited with $status"
    exit 1
fi
missing=0
for line in \
    "Stand-in match server listening on 127.0.0.1:" \
    "Match Id  Match Name" \
    "Live!" \
    "Downloading map..." \
    "Downloading Game Data..." \
    "Buffering...Please Wait.." \
    "Game Start now,please enjoy..." \
    "lobby | [VELT] Welcome to VELT!" \
    "lobby | [VELT] Usage: /help <command>" \
    "lobby | [VELT] Let's begin......!" \
    "game  | [VELT]You are " \
    "you   > /faster" \
    "[VELT] Current Speed is " \
    "you   > /time" \
    "[VELT] The current game time is " \
    "[VELT] Now fast forward to " \
    "game  | [VELT] Hide observer chat message!" \
    "game  | [VELT] You have rated  5 for this match" \
    "The match is over and the session has ended" \
    "leave acknowledged."
do
    if ! grep -qF -- "$line" "$out"; then
        echo "check-demo: missing line: $line"
        missing=1
    fi
done
# The simulated game plays at its own pace, as Warcraft III does: it keeps up with the live
# match without running into its edge, so the viewer is never told that data ran short.
for line in "Lack of data from server!" "[VELT] Not enough data,buffering.."
do
    if grep -qF -- "$line" "$out"; then
        echo "check-demo: the game ran short of data: $line"
        missing=1
    fi
done
# Not a terminal: no status line, so no carriage return but those ending a line (Windows').
if grep -q "$(printf '\r')." "$out"; then
    echo "check-demo: a status line was drawn on a file"
    missing=1
fi
exit "$missing"
