#!/bin/sh
# Renders the main window after Connect, with a match list from the scripted match server, in a
# light and in a dark desktop theme: docs/main-window.png and docs/main-window-dark.png; and the
# watching panel of a match being watched: docs/watch-panel.png and docs/watch-panel-dark.png.
# Runs offscreen, so no display is needed.
# Usage: scripts/screenshot-main-window.sh [BUILD_DIR]   (default: build/debug)
set -eu
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-"$ROOT/build/debug"}
if [ ! -f "$BUILD/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELT_BUILD_GUI=ON
fi
cmake --build "$BUILD" --target main_window_screenshot
QT_QPA_PLATFORM=offscreen "$BUILD/tests/app/main_window_screenshot" "$ROOT/docs/main-window.png"
QT_QPA_PLATFORM=offscreen "$BUILD/tests/app/main_window_screenshot" --dark \
    "$ROOT/docs/main-window-dark.png"
QT_QPA_PLATFORM=offscreen "$BUILD/tests/app/main_window_screenshot" --panel "$ROOT/docs/watch-panel.png"
QT_QPA_PLATFORM=offscreen "$BUILD/tests/app/main_window_screenshot" --dark --panel \
    "$ROOT/docs/watch-panel-dark.png"
echo "wrote $ROOT/docs/main-window.png, $ROOT/docs/main-window-dark.png, $ROOT/docs/watch-panel.png and $ROOT/docs/watch-panel-dark.png"
