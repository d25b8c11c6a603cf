#!/usr/bin/env bash
# Rebuilds hello.hex with Debian's gcc-arm-none-eabi. The .hex is committed so
# that the demo needs no cross compiler.
set -euo pipefail
cd "$(dirname "$0")"
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
arm-none-eabi-gcc -mcpu=cortex-m3 -mthumb -Os -ffreestanding -nostdlib -Wall -Wextra -Werror \
  -T hello.ld -Wl,--gc-sections -o "$out/hello.elf" hello.c
arm-none-eabi-objcopy -O ihex "$out/hello.elf" hello.hex
arm-none-eabi-size "$out/hello.elf"
