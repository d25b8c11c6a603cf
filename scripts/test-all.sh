#!/usr/bin/env bash
# Sets up, builds and runs every test: a normal build (GUI included) and its
# Debian package installed and run, then an ASan+UBSan build and a TSan build
# of everything below the GUI.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

run() {  # run <build dir> <cmake options...>
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@"
  cmake --build "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs"
}

run build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
scripts/package-test.sh build/release
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCHIPLOAD_SANITIZER=address -DCHIPLOAD_WITH_QT=OFF
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
  run build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCHIPLOAD_SANITIZER=thread -DCHIPLOAD_WITH_QT=OFF
echo "All test runs passed."
