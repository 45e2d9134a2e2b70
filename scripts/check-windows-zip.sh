#!/bin/bash
# Unpacks the Windows ZIP into an empty folder and starts its veltplayer.exe under Wine on a
# virtual display: passes when the main window appears, so the ZIP holds every DLL and plugin
# that the program loads. Uses a Wine prefix of its own and stops everything it started.
# Usage: scripts/check-windows-zip.sh VELTPlayer-<version>-win64.zip
set -euo pipefail
ZIP=$(realpath "$1")
WAIT_S=60
# shellcheck source=scripts/wine-display.sh
. "$(dirname "$0")/wine-display.sh"

mkdir "$WORK/unpacked"
(cd "$WORK/unpacked" && unzip -q "$ZIP")
PROGRAM=$(find "$WORK/unpacked" -name veltplayer.exe | head -n1)
[ -n "$PROGRAM" ] || { echo "check-windows-zip: no veltplayer.exe in $ZIP" >&2; exit 1; }

export WINEPREFIX="$WORK/wine" WINEDEBUG=-all
mkdir -p "$WINEPREFIX"
(wineserver -p && wine cmd /c exit) </dev/null >/dev/null 2>&1 ||
    { echo "check-windows-zip: no Wine prefix" >&2; exit 1; }

# Its own folder as working directory, as a user who unzipped it and started it there.
(cd "$(dirname "$PROGRAM")" && exec wine ./veltplayer.exe) </dev/null >"$WORK/veltplayer.log" 2>&1 &
if ! timeout "$WAIT_S" xdotool search --sync --name '^VELT BETA 0\.4$' >/dev/null; then
    echo "check-windows-zip: the main window of the unpacked veltplayer.exe did not appear" >&2
    cat "$WORK/veltplayer.log" >&2
    exit 1
fi
echo "check-windows-zip: veltplayer.exe from $(basename "$ZIP") starts beside: $(cd "$(dirname "$PROGRAM")" && ls | tr "\n" " ")"
