#!/bin/sh
# Makes docs/main-window-wine.png: veltplayer.exe of the windows build under Wine after Connect,
# taken by the GUI smoke run (real clicks on a virtual display against velt-matchd.exe).
# Usage: scripts/screenshot-wine.sh [BUILD_DIR]   (default: build/windows)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-"$ROOT/build/windows"}
"$ROOT/scripts/gui-smoke.sh" "$BUILD" "$ROOT/docs/main-window-wine.png"
echo "wrote $ROOT/docs/main-window-wine.png"
