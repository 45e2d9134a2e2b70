# Sourced by the scripts that run Windows programs under Wine on a virtual display of their own.
# Makes a scratch folder WORK and a virtual display (DISPLAY exported); on exit, also after a
# stop request, stops every Wine program and the display and removes WORK. WAIT_S bounds the
# wait for the display.
WORK=$(mktemp -d)
# shellcheck source=scripts/xvfb-display.sh
. "$(dirname "${BASH_SOURCE[0]}")/xvfb-display.sh"
wine_display_cleanup() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    [ -z "$XVFB_PID" ] || kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap wine_display_cleanup EXIT
trap 'exit 1' INT TERM

start_xvfb "$WORK" || { echo "$(basename "$0"): Xvfb did not start" >&2; exit 1; }
