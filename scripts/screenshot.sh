#!/usr/bin/env bash
# Draws the main window under Xvfb with the Qt front end and saves every tab
# page at 100% and 200% scale as docs/ui/<page>.png and docs/ui/<page>@2x.png.
#
#   scripts/screenshot.sh [BUILD_DIR]     (default build/screenshot)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/screenshot}
out=docs/ui

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target rte_qt_preview

mkdir -p "$out"
for scale in 1 2; do
  QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale \
    xvfb-run -a -s "-screen 0 2560x1800x24" \
    "$build/bin/rte_qt_preview" --demo --shots "$out" "$PWD/ui/ChipLoad.uir"
done
