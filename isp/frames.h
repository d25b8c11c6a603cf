// Byte layouts of everything the host sends after a command code. Each layout
// is written here once; the window's engine and the client both build their
// frames through these functions.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "protocol.h"

namespace isp {

// Command code followed by its complement.
Bytes commandFrame(Command command);

// Four address bytes, most significant first, then their XOR.
Bytes addressFrame(std::uint32_t address);

// Read Memory's byte count: count-1 and its complement. count is 1..256;
// nullopt otherwise.
std::optional<Bytes> lengthFrame(std::size_t count);

// Write Memory's block: count-1, the bytes, then the XOR of all of them.
// data holds 1..256 bytes; nullopt otherwise.
std::optional<Bytes> dataBlockFrame(std::span<const std::uint8_t> data);

// Erase (0x43) of the listed pages: count-1, the page numbers, their XOR.
// 1..255 pages; nullopt otherwise (256 would read as the global erase code).
std::optional<Bytes> erasePageListFrame(std::span<const std::uint8_t> pages);

// Erase (0x43) of the whole flash: 0xFF and its complement.
Bytes eraseAllFrame();

// Extended Erase (0x44) of the listed pages: count-1 as two bytes, each page
// as two bytes (most significant first), then the XOR of all of them.
// 1..kMaxExtendedErasePages pages; nullopt otherwise.
inline constexpr std::size_t kMaxExtendedErasePages = 0xFFF0;
std::optional<Bytes> extendedErasePageListFrame(std::span<const std::uint16_t> pages);

// Extended Erase's special codes and the frame that sends one: the two code
// bytes and their XOR.
enum class ExtendedEraseCode : std::uint16_t {
    kMassErase = 0xFFFF,
    kBank1 = 0xFFFE,
    kBank2 = 0xFFFD,
};
Bytes extendedEraseCodeFrame(ExtendedEraseCode code);

}  // namespace isp
