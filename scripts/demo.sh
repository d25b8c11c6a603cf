#!/usr/bin/env bash
# Sets up a fresh Debian machine, builds ChipLoad and runs its main job against
# the simulated target: connect and identify, load the sample program, program
# it, read it back and compare, start it and show its greeting.
#
#   scripts/demo.sh            exits with the demo's status (0: every step held)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target chipload
exec "$build/bin/chipload" --headless --demo
