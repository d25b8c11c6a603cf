#!/usr/bin/env bash
# Pictures of the window taken by the program itself: the demo's job (connect
# to the simulated STM32F103, load, program, read back, Go) runs in the window
# under Xvfb with a window manager (openbox, so that maximising works) on a
# 1920x1080 screen, then the program saves its pages.
#
#   docs/ui/<page>.png        100%, Chinese      docs/ui/<page>@2x.png   200%
#   docs/ui/<page>-en.png     100%, English      docs/ui/<page>-en@2x.png
#   (pages: tabops tabops2 tabterm tabthird maximised)
#   docs/demo/programmed.png, programmed-terminal.png, and their -en versions
#
#   scripts/screenshot.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" --target chipload chipload_catalog
program=$PWD/$build/bin/chipload

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# shoot SCALE LANG SUFFIX [program options]: pages into docs/ui with SUFFIX.
shoot() {
  local scale=$1 lang=$2 suffix=$3
  shift 3
  local pages=$work/$scale-$lang
  mkdir -p "$pages"
  # A settings folder of its own: the window opens at its first-run size.
  XDG_CONFIG_HOME=$work/settings-$scale-$lang QT_QPA_PLATFORM=xcb QT_SCALE_FACTOR=$scale \
    xvfb-run -a -s "-screen 0 1920x1080x24" \
    sh -c 'openbox >/dev/null 2>&1 & sleep 1; "$@"; status=$?; kill $! 2>/dev/null; exit $status' \
    sh "$program" --lang "$lang" --demo-pages "$pages" "$@"
  for picture in "$pages"/*.png; do
    cp "$picture" "docs/ui/$(basename "$picture" .png)$suffix.png"
  done
}

mkdir -p docs/ui docs/demo
shoot 1 zh "" --demo-screenshot docs/demo/programmed.png
shoot 2 zh "@2x"
shoot 1 en "-en" --demo-screenshot docs/demo/programmed-en.png
shoot 2 en "-en@2x"
