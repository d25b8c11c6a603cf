// ELF executables: the loadable segments that carry file bytes, at their
// physical (load) addresses, joined into one image like a HEX file's data.
#pragma once

#include <cstdint>
#include <span>

#include "image.h"

namespace isp {

bool looksLikeElf(std::span<const std::uint8_t> content);

// 32-bit little-endian ELF (what an ARM Cortex-M toolchain produces).
ImageResult readElfImage(std::span<const std::uint8_t> content, const FlashLimits& limits);

}  // namespace isp
