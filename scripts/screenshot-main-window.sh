#!/bin/sh
# Renders the main window with a match list from the scripted match server into
# docs/main-window.png. Runs offscreen, so no display is needed.
# Usage: scripts/screenshot-main-window.sh [BUILD_DIR]   (default: build/debug)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-"$ROOT/build/debug"}
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELT_BUILD_GUI=ON
fi
cmake --build "$BUILD" --target main_window_screenshot
QT_QPA_PLATFORM=offscreen "$BUILD/tests/app/main_window_screenshot" "$ROOT/docs/main-window.png"
echo "wrote $ROOT/docs/main-window.png"
