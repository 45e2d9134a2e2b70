#!/bin/bash
# The match server's load test: velt-matchd (event loop) against the reference echo server on
# the same library, and against the thread-per-client velt-matchd that came before, in one run.
#
#   scripts/bench-matchd.sh BUILD_DIR [VIEWERS] [VIEWER_SECONDS] [BULK_SECONDS] [BULK_ROUNDS]
#
# LOADS=viewers or LOADS=bulk runs only that load. The bulk runs of the three servers take turns,
# BULK_ROUNDS times over, so that a machine shared with other work disturbs them alike.
#
# BUILD_DIR holds a release build with -DVELT_BUILD_BENCH=ON (velt-matchd, matchd_load,
# matchd_echo). The earlier server is built from git in a temporary worktree. Loopback only.
set -eu
BUILD=$(realpath "$1")
VIEWERS=${2:-10000}
VIEWER_SECONDS=${3:-60}
BULK_SECONDS=${4:-5}
BULK_ROUNDS=${5:-3}
LOADS=${LOADS:-viewers,bulk}
MATCHES=20
ROOT=$(cd "$(dirname "$0")/.." && pwd)
OLD_CAP=250 # the earlier server refuses clients past 256

# Two descriptors per viewer on this machine (client and server), each in its own process.
ulimit -n "$(ulimit -Hn)"
[ "$(ulimit -n)" -ge $((VIEWERS + 200)) ] || { echo "open-files limit too low for $VIEWERS" >&2; exit 1; }

# The earlier server: the parent of the commit that brought the event loop.
FIRST=$(git -C "$ROOT" log --diff-filter=A --format=%H -- tools/matchd/CMatchConnection.cpp | tail -1)
OLD_TREE=/tmp/velt-matchd-before
if [ ! -x "$OLD_TREE/build/tools/matchd/velt-matchd" ]; then
    [ -d "$OLD_TREE" ] || git -C "$ROOT" worktree add --detach "$OLD_TREE" "$FIRST^" >/dev/null
    cmake -S "$OLD_TREE" -B "$OLD_TREE/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DVELT_BUILD_GUI=OFF -DVELT_BUILD_TESTS=OFF >/dev/null
    cmake --build "$OLD_TREE/build" --target velt-matchd >/dev/null
fi
OLD_SERVER="$OLD_TREE/build/tools/matchd/velt-matchd"
NEW_SERVER="$BUILD/tools/matchd/velt-matchd"
LOAD="$BUILD/bench/matchd_load"
ECHO_SERVER="$BUILD/bench/matchd_echo"
OUT=$(mktemp -d)
trap 'kill "${PID:-0}" 2>/dev/null || true; rm -rf "$OUT"' EXIT

start() { # a server command; sets PID and PORT
    "$@" >"$OUT/server" 2>&1 &
    PID=$!
    for _ in $(seq 100); do
        grep -q "listening on" "$OUT/server" && break
        sleep 0.1
    done
    PORT=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$OUT/server")
}
stop() { kill "$PID"; wait "$PID" 2>/dev/null || true; PID=; }
run() { # label, then matchd_load arguments
    local label=$1
    shift
    printf '%-8s %s load_avg=%s\n' "$label" \
        "$("$LOAD" --port "$PORT" --server-pid "$PID" --matches $MATCHES "$@" || true)" \
        "$(cut -d' ' -f1 /proc/loadavg)"
}

echo "# $(date -u +%FT%TZ) $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"
MATCHD_ARGS=(--listen 127.0.0.1:0 --synthetic $MATCHES --max-clients $((VIEWERS > 1000 ? VIEWERS + 100 : 1100)))

if [[ $LOADS == *viewers* ]]; then
    start "$NEW_SERVER" "${MATCHD_ARGS[@]}"
    run loop --load viewers --clients "$VIEWERS" --seconds "$VIEWER_SECONDS"
    stop
    start "$OLD_SERVER" --listen 127.0.0.1:0 --synthetic $MATCHES
    run threads --load viewers --clients $OLD_CAP --seconds "$VIEWER_SECONDS"
    stop
    start "$NEW_SERVER" "${MATCHD_ARGS[@]}"
    run loop --load viewers --clients $OLD_CAP --seconds "$VIEWER_SECONDS"
    stop
fi

[[ $LOADS == *bulk* ]] || BULK_ROUNDS=0
for ROUND in $(seq "$BULK_ROUNDS"); do
for CLIENTS in 1 10 100 1000; do
    start "$NEW_SERVER" "${MATCHD_ARGS[@]}"
    run loop --load bulk --clients $CLIENTS --seconds "$BULK_SECONDS"
    stop
    start "$ECHO_SERVER"
    run echo --load bulk --clients $CLIENTS --seconds "$BULK_SECONDS"
    stop
    start "$OLD_SERVER" --listen 127.0.0.1:0 --synthetic $MATCHES
    run threads --load bulk --clients $((CLIENTS < OLD_CAP ? CLIENTS : OLD_CAP)) --seconds "$BULK_SECONDS"
    stop
done
done
echo "# done, load average $(cut -d' ' -f1-3 /proc/loadavg)"
