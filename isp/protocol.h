// The bootloader's command codes and the bytes that frame every exchange
// (ST AN3155). The window's engine, the client and the tests name commands
// through this enum rather than bare numbers.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace isp {

using Bytes = std::vector<std::uint8_t>;

enum class Command : std::uint8_t {
    kGet = 0x00,
    kGetVersion = 0x01,
    kGetId = 0x02,
    kReadMemory = 0x11,
    kGo = 0x21,
    kWriteMemory = 0x31,
    kErase = 0x43,
    kExtendedErase = 0x44,
    kSpecial = 0x50,
    kExtendedSpecial = 0x51,
    kWriteProtect = 0x63,
    kWriteUnprotect = 0x73,
    kReadoutProtect = 0x82,
    kReadoutUnprotect = 0x92,
    kGetChecksum = 0xA1,
    kSynchronize = 0x7F,  // not a command: the byte that starts a session
};

inline constexpr std::uint8_t kSyncByte = 0x7F;
inline constexpr std::uint8_t kAck = 0x79;
inline constexpr std::uint8_t kNack = 0x1F;

// The value of erased flash, and of padding.
inline constexpr std::uint8_t kErasedByte = 0xFF;

// Most bytes one Read Memory or Write Memory request carries.
inline constexpr std::size_t kMaxBlock = 256;

// The command's name as ST's document spells it ("Write Memory"), for logs and
// machine-readable output; "0xNN" style codes are left to the caller.
std::string_view commandName(Command command);

}  // namespace isp
