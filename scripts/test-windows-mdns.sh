#!/bin/bash
# Runs the windows preset's multicast DNS tests under Wine, inside a network namespace of their
# own that has the loopback interface alone (tests/host/mdns/in-loopback-namespace.sh). Under
# Wine a socket is created by the wineserver, so the server must run inside the namespace too:
# it gets a prefix of its own (a prefix's server is found through its folder, and the other
# tests' server runs outside), started and stopped here. Then the same Python checks as on
# Linux run against velt.exe, velt-matchd.exe and velt-gamesim.exe under Wine.
# Exits 77 (skipped, with the reason) where no namespace can be made.
# Usage: scripts/test-windows-mdns.sh [BUILD_DIR]   (after cmake --build --preset windows)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=$(realpath "${1:-build/windows}")
for tool in wine wineserver; do
    command -v "$tool" >/dev/null || { echo "test-windows-mdns: needs $tool" >&2; exit 1; }
done
export WINEPREFIX="$BUILD/wine-mdns" WINEDEBUG=-all VELT_MDNS_CHECKS=1
mkdir -p "$WINEPREFIX" "$BUILD/wine-mdns-bin"
# The checks start programs by path: small launchers that run each through Wine.
for program in cli/velt tools/matchd/velt-matchd tools/gamesim/velt-gamesim; do
    launcher="$BUILD/wine-mdns-bin/$(basename "$program")"
    printf '#!/bin/sh\nexec wine "%s.exe" "$@"\n' "$BUILD/$program" >"$launcher"
    chmod +x "$launcher"
done

tests/host/mdns/in-loopback-namespace.sh bash -c '
    build=$1
    ( wineserver -p; wine cmd /c exit ) </dev/null >/dev/null 2>&1
    status=0
    for test in mdns_tests mdns_loopback_tests; do
        echo "-- $test.exe"
        start=$SECONDS
        wine "$build/tests/host/$test.exe" || status=1
        echo "-- $test.exe: $((SECONDS - start)) s"
    done
    for mode in records end-to-end; do
        echo "-- mdns_checks.py $mode, with the Windows programs"
        start=$SECONDS
        code=0
        /usr/bin/python3 tests/host/mdns/mdns_checks.py "$mode" \
            --velt "$build/wine-mdns-bin/velt" --matchd "$build/wine-mdns-bin/velt-matchd" \
            --gamesim "$build/wine-mdns-bin/velt-gamesim" --replays "$PWD/../shared/replays" \
            || code=$?
        [ "$code" -eq 0 ] || [ "$code" -eq 77 ] || status=1
        echo "-- mdns_checks.py $mode: $((SECONDS - start)) s"
    done
    wineserver -k || true
    exit "$status"
' test-windows-mdns "$BUILD" || status=$?
status=${status:-0}

# The two-machine set-up (a PC with a LAN and avahi-daemon, another PC) with velt.exe, as root;
# a prefix of its own, whose wineserver starts inside "this PC" (77: cannot run here).
echo "-- mdns_two_machines.py, with the Windows velt"
export WINEPREFIX="$BUILD/wine-mdns-two"
mkdir -p "$WINEPREFIX"
code=0
/usr/bin/python3 tests/host/mdns/mdns_two_machines.py --velt "$BUILD/wine-mdns-bin/velt" \
    --replays "$PWD/../shared/replays" --before 'wineserver -p; wine cmd /c exit' \
    --after 'wineserver -k' || code=$?
[ "$code" -eq 0 ] || [ "$code" -eq 77 ] || status=1
exit "$status"
