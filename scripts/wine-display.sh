# Sourced by the scripts that run Windows programs under Wine on a virtual display of their own.
# Makes a scratch folder WORK and a virtual display (DISPLAY exported); on exit, also after a
# stop request, stops every Wine program and the display and removes WORK. WAIT_S bounds the
# wait for the display.
WORK=$(mktemp -d)
XVFB=""
wine_display_cleanup() {
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    [ -z "$XVFB" ] || kill "$XVFB" 2>/dev/null || true
    rm -rf "$WORK"
}
trap wine_display_cleanup EXIT
trap 'exit 1' INT TERM

# Xvfb picks a free display number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$WORK/display" 2>/dev/null &
XVFB=$!
for ((i = 0; i < ${WAIT_S:-60} * 10; i++)); do
    [ -s "$WORK/display" ] && break
    sleep 0.1
done
[ -s "$WORK/display" ] || { echo "$(basename "$0"): Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$WORK/display")"
