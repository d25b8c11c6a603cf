// Intel HEX text of a memory range: data records of 16 bytes, an extended
// linear address record wherever the upper half of the address changes, and
// the end-of-file record.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace isp {

std::string toIntelHex(std::uint32_t address, std::span<const std::uint8_t> bytes);

}  // namespace isp
