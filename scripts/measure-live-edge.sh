#!/bin/bash
# The live-edge run at full length: a live match watched for SECONDS (default 180) of real time
# by a game at its own pace and by one that answers at once (as velt demo's), with the live
# delay 0; with --delay also the 20 s delay rows. Prints one line per run: the "Lack of data
# from server!" and "[VELT] Not enough data,buffering.." lines the game received (and per
# minute), and how far behind live the game stayed after the catch-up.
#
#   scripts/measure-live-edge.sh BUILD_DIR [SECONDS] [--delay]
#
# BUILD_DIR holds a build with the tests (live_edge_tests). Loopback only; each run takes
# SECONDS plus about ten seconds, one after the other.
set -eu
BUILD=$(realpath "$1")
SECONDS_PER_RUN=${2:-180}
FILTER='LiveEdgeTest.GameAtItsOwnPace*:LiveEdgeTest.GameFasterThanTheMatch*'
if [ "${3:-}" = "--delay" ]; then
    FILTER="$FILTER:LiveEdgeTest.TwentySeconds*"
fi
PROGRAM="$BUILD/tests/e2e/live_edge_tests"
[ -x "$PROGRAM" ] || { echo "no $PROGRAM: build the tests first" >&2; exit 1; }
VELT_LIVE_EDGE_SECONDS="$SECONDS_PER_RUN" "$PROGRAM" --gtest_filter="$FILTER" |
    grep -E '^live-edge:|FAILED|PASSED'
