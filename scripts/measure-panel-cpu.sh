#!/bin/bash
# The desktop client's CPU time while it feeds a paced game a match at 4x, for two builds of
# veltplayer side by side (say, one without the watching panel and one with it), in alternate
# runs on the same display setup, with velt-matchd and velt-gamesim from BUILD.
# Prints one line per run and the mean of each program, in % of one core: the whole process, and
# its main thread alone (the user interface's, where the panel runs; the feed and the download
# have threads of their own, whose share varies from run to run).
# Usage: scripts/measure-panel-cpu.sh BUILD BEFORE_PROGRAM AFTER_PROGRAM [SECONDS] [RUNS]
#        (defaults: 60 s measured per run, 3 runs of each)
set -euo pipefail
ROOT=$(cd "$(dirname "$0")/.." && pwd)
if [ "${1:-}" = "--one" ]; then
    # One run: the CPU time of PROGRAM over SECONDS of play at 4x, printed as "PROCESS MAIN" in %
    # of a core.
    BUILD=$2 PROGRAM=$3 SECONDS_MEASURED=$4
    NAME=measure-panel-cpu
    WAIT_S=120
    # shellcheck source=scripts/gui-session.sh
    . "$ROOT/scripts/gui-session.sh"
    start_display
    start_matchd --synthetic 1 --length 3600 --seed 5
    start_game --pace --lobby /fs --no-start --chat "200:/sp 4" --timeout 900
    start_player "$PROGRAM"
    watch_first_match
    await_line "$WORK/gamesim.log" 'Speed set to 4x' "the game did not reach 4x" >/dev/null
    sleep 5 # the panel is up and the download has settled
    # Fields 14 and 15 of a stat file: user and system time in clock ticks (the name field
    # before them holds no spaces here).
    ticks() { awk '{ print $14 + $15 }' "$1"; }
    FROM=$(ticks "/proc/$PLAYER_PID/stat")
    FROM_MAIN=$(ticks "/proc/$PLAYER_PID/task/$PLAYER_PID/stat")
    sleep "$SECONDS_MEASURED"
    TO=$(ticks "/proc/$PLAYER_PID/stat")
    TO_MAIN=$(ticks "/proc/$PLAYER_PID/task/$PLAYER_PID/stat")
    kill -0 "$GAME_PID" 2>/dev/null || fail "the game ended before the measurement did"
    awk -v t=$((TO - FROM)) -v m=$((TO_MAIN - FROM_MAIN)) -v hz="$(getconf CLK_TCK)" \
        -v s="$SECONDS_MEASURED" 'BEGIN { printf "%.2f %.2f\n", 100 * t / hz / s, 100 * m / hz / s }'
    exit 0
fi

BUILD=$(cd "$1" && pwd)
BEFORE=$2
AFTER=$3
SECONDS_MEASURED=${4:-60}
RUNS=${5:-3}
declare -A SUM=([before]=0 [after]=0) SUM_MAIN=([before]=0 [after]=0)
for ((run = 1; run <= RUNS; run++)); do
    for which in before after; do
        program=$BEFORE
        [ "$which" = after ] && program=$AFTER
        out=$("$0" --one "$BUILD" "$program" "$SECONDS_MEASURED")
        read -r percent main <<<"$out"
        echo "run $run, $which: $percent % of a core, main thread $main %"
        SUM[$which]=$(awk -v a="${SUM[$which]}" -v b="$percent" 'BEGIN { print a + b }')
        SUM_MAIN[$which]=$(awk -v a="${SUM_MAIN[$which]}" -v b="$main" 'BEGIN { print a + b }')
    done
done
for which in before after; do
    awk -v s="${SUM[$which]}" -v m="${SUM_MAIN[$which]}" -v n="$RUNS" -v w="$which" \
        'BEGIN { printf "%s: mean %.2f %% of a core, main thread %.2f %%\n", w, s / n, m / n }'
done
