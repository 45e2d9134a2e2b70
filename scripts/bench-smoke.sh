#!/bin/bash
# Each benchmark program run once, briefly, so that a benchmark that no longer builds, crashes or
# reports an error (SkipWithError) fails CI instead of waiting for the next measurement.
#
#   scripts/bench-smoke.sh BUILD_DIR
#
# BUILD_DIR holds a release build with -DVELT_BUILD_BENCH=ON (the bench preset). The slow cases
# (hundreds of clients, the ten-second idle runs) are left to real measurements: each program
# runs its smallest cases only.
set -eu
BUILD=$(realpath "$1")
ROOT=$(cd "$(dirname "$0")/.." && pwd)
export VELT_REPLAYS_DIR=${VELT_REPLAYS_DIR:-$ROOT/../shared/replays}
# Cases with a measuring time of their own take the brief one too (bench/BenchTime.h).
export VELT_BENCH_SMOKE=1
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

# Which cases of a program run; every case unless named here.
filter_of() {
  case "$1" in
    bench_matchd) echo 'BM_ConcurrentStreams/(1|10)/|BM_ListRequest' ;;
    bench_host) echo 'BM_HostIdleCpu/0/|BM_HostMemory/1/' ;;
    bench_server_receive) echo '/(100|10)(/|$)' ;;
    *) echo '.' ;;
  esac
}

programs=$(find "$BUILD/bench" -maxdepth 1 -name 'bench_*' -type f -executable | sort)
[ -n "$programs" ] || { echo "no benchmark programs in $BUILD/bench" >&2; exit 1; }
failed=0
for program in $programs; do
  name=$(basename "$program")
  json="$OUT/$name.json"
  start=$SECONDS
  status=0
  timeout 300 "$program" --benchmark_filter="$(filter_of "$name")" --benchmark_min_time=0.01 \
      --benchmark_out="$json" --benchmark_out_format=json >"$OUT/$name.log" 2>&1 || status=$?
  # A run must end well, run at least one case, and no case may report an error.
  problem=""
  if [ "$status" -ne 0 ]; then
    problem="exit $status"
  elif ! python3 - "$json" <<'PY'
import json, sys
try:
    runs = json.load(open(sys.argv[1])).get("benchmarks", [])
except (OSError, ValueError):
    runs = []  # no output: nothing ran
errors = [r["name"] + ": " + r.get("error_message", "") for r in runs if r.get("error_occurred")]
for line in errors:
    print(line)
sys.exit(1 if errors or not runs else 0)
PY
  then
    problem="an error, or no case ran"
  fi
  if [ -n "$problem" ]; then
    echo "-- $name: FAILED ($problem) in $((SECONDS - start)) s"
    tail -n 20 "$OUT/$name.log"
    failed=1
  else
    echo "-- $name: ok in $((SECONDS - start)) s"
  fi
done
exit "$failed"
