# shellcheck shell=bash
# Sourced by the scripts that run the programs and read their output (gui-smoke.sh,
# gui-session.sh). Before sourcing: NAME (for messages), WORK (where the runs' *.log files are),
# WAIT_S.
#   fail TEXT: says what failed, shows the end of every log, and exits 1.
#   await_line FILE PATTERN WHAT [SKIP]: waits until FILE holds a line matching PATTERN after its
#     first SKIP lines and prints it, without the carriage return that Windows programs end
#     lines with; fails with WHAT when none comes within WAIT_S seconds.
#   lines_of FILE: how many lines FILE holds now.

fail() {
    echo "$NAME: FAILED: $*" >&2
    local log
    for log in "$WORK"/*.log; do
        if [ -s "$log" ]; then
            echo "--- $(basename "$log")" >&2
            tail -n 25 "$log" >&2
        fi
    done
    exit 1
}

await_line() {
    local file=$1 pattern=$2 what=$3 skip=${4:-0} i
    for ((i = 0; i < WAIT_S * 10; i++)); do
        if tail -n +"$((skip + 1))" "$file" 2>/dev/null | tr -d '\r' | grep -m1 -E "$pattern"; then
            return 0
        fi
        sleep 0.1
    done
    fail "$what"
}

lines_of() { wc -l <"$1"; }
