#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  nlohmann-json3-dev
  qt6-base-dev libgl-dev fonts-noto-cjk xvfb xauth openbox
  ser2net python3 python3-serial python3-intelhex srecord
  gcc-arm-none-eabi libnewlib-arm-none-eabi
  qemu-system-arm
  clang libclang-rt-14-dev
  librsvg2-bin desktop-file-utils dpkg-dev file man-db
  gettext jq
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
