#!/usr/bin/env bash
# Builds the Debian package from a release build (window included), installs
# it with apt as a user would, runs the installed programs from outside the
# source tree, and removes the package again.
#
#   scripts/package-test.sh [BUILD_DIR]     (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive

step() { echo "package-test: $*"; }
fail() { echo "package-test: FAILED: $*" >&2; exit 1; }

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCHIPLOAD_WITH_QT=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -rf "$build/package"
(cd "$build" && cpack -G DEB -B "$PWD/package" >/dev/null)
debs=("$build"/package/chipload_*.deb)
[ -f "${debs[0]}" ] || fail "cpack made no chipload_*.deb"
deb=$(realpath "${debs[0]}")
version=$(dpkg-deb -f "$deb" Version)
step "built $(basename "$deb"): Depends: $(dpkg-deb -f "$deb" Depends)"

work=$(mktemp -d)
sim_pid=""
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  $sudo apt-get remove -y --purge chipload >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

(cd "$(dirname "$deb")" && $sudo apt-get install -y "./$(basename "$deb")" >/dev/null) ||
  fail "apt-get install ./$(basename "$deb")"
cd "$work"  # nothing beside the programs or in the current folder helps them

[ "$(/usr/bin/chipload --version)" = "chipload $version" ] ||
  fail "chipload --version printed '$(/usr/bin/chipload --version)', expected 'chipload $version'"
step "chipload --version: chipload $version"

/usr/bin/chipload --headless --demo >demo.log 2>&1 || { cat demo.log; fail "the demo"; }
grep -q "loading /usr/share/chipload/hello.hex" demo.log ||
  { cat demo.log; fail "the demo did not use the installed sample program"; }
step "chipload --headless --demo: $(tail -n 1 demo.log)"

# The window's libraries and Qt's platform plugins come with the declared
# dependencies.
qt_plugins=$(dirname "$(dpkg -L libqt6gui6 | grep -m1 '/plugins/platforms/')")
for binary in /usr/bin/chipload /usr/bin/chipload-sim "$qt_plugins"/libqxcb.so "$qt_plugins"/libqoffscreen.so; do
  [ -f "$binary" ] || fail "$binary is missing"
  ! ldd "$binary" | grep "not found" || fail "$binary: libraries missing"
done
step "every library of the program and of Qt's platform plugins is there"

/usr/bin/chipload-sim --help | grep -q "usage: chipload-sim" || fail "chipload-sim --help"
step "chipload-sim --help"

# The command line against the installed simulator: the chip it identifies
# is the simulator's default part, an STM32F103 (product ID 0x410).
/usr/bin/chipload --help | grep -q "chipload COMMAND --help" ||
  fail "chipload --help does not list the commands"
/usr/bin/chipload-sim --pty --timing none >sim.out 2>sim.err &
sim_pid=$!
for _ in $(seq 100); do [ -s sim.out ] && break; sleep 0.1; done
pty=$(head -n 1 sim.out)
[ -n "$pty" ] || { cat sim.err; fail "chipload-sim printed no pseudo-terminal"; }
timeout 60 /usr/bin/chipload info --port "$pty" >info.log 2>&1 ||
  { cat info.log; fail "chipload info --port $pty"; }
grep -q "(0x410)" info.log || { cat info.log; fail "chipload info did not identify the STM32F103"; }
kill "$sim_pid"
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
step "chipload info --port $pty: $(grep -m1 "(0x410)" info.log)"

man -w chipload >/dev/null || fail "man chipload: no page"
[ -f /usr/lib/udev/rules.d/60-chipload.rules ] || fail "the udev rule is not installed"
[ -f /usr/share/bash-completion/completions/chipload ] || fail "the completion is not installed"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate /usr/share/applications/chipload.desktop || fail "the desktop entry"
fi
step "man page, udev rule, completion and desktop entry are in place"

$sudo apt-get remove -y --purge chipload >/dev/null || fail "apt-get remove chipload"
[ ! -e /usr/bin/chipload ] || fail "/usr/bin/chipload is still there after removal"
step "removed; the package test passed"
