// Byte values of the Telnet protocol (RFC 854, 855, 856, 858) and of its
// com port control option (RFC 2217).
#pragma once

#include <cstdint>

namespace chipload::rfc2217 {

namespace telnet {
inline constexpr std::uint8_t kSe = 240;
inline constexpr std::uint8_t kSb = 250;
inline constexpr std::uint8_t kWill = 251;
inline constexpr std::uint8_t kWont = 252;
inline constexpr std::uint8_t kDo = 253;
inline constexpr std::uint8_t kDont = 254;
inline constexpr std::uint8_t kIac = 255;

inline constexpr std::uint8_t kOptionBinary = 0;
inline constexpr std::uint8_t kOptionSuppressGoAhead = 3;
inline constexpr std::uint8_t kOptionComPort = 44;
}  // namespace telnet

// Com port commands as the client sends them; the server answers with the
// same code plus kServerOffset.
enum class ComPortCommand : std::uint8_t {
    Signature = 0,
    SetBaudRate = 1,
    SetDataSize = 2,
    SetParity = 3,
    SetStopSize = 4,
    SetControl = 5,
    NotifyLineState = 6,
    NotifyModemState = 7,
    FlowControlSuspend = 8,
    FlowControlResume = 9,
    SetLineStateMask = 10,
    SetModemStateMask = 11,
    PurgeData = 12,
};
inline constexpr std::uint8_t kServerOffset = 100;
inline constexpr std::uint8_t kComPortCommandCount = 13;

enum class Parity : std::uint8_t { None = 1, Odd = 2, Even = 3, Mark = 4, Space = 5 };
enum class StopSize : std::uint8_t { One = 1, Two = 2, OneAndHalf = 3 };

// SET-CONTROL values.
enum class Control : std::uint8_t {
    FlowNone = 1,
    FlowXonXoff = 2,
    FlowHardware = 3,
    BreakOn = 5,
    BreakOff = 6,
    DtrOn = 8,
    DtrOff = 9,
    RtsOn = 11,
    RtsOff = 12,
};

// PURGE-DATA values, seen from the server: its receive buffer holds what the
// line sent towards us, its transmit buffer what we sent towards the line.
enum class Purge : std::uint8_t { ServerReceive = 1, ServerTransmit = 2, Both = 3 };

// NOTIFY-LINESTATE bits.
namespace linestate {
inline constexpr std::uint8_t kOverrun = 0x02;
inline constexpr std::uint8_t kParity = 0x04;
inline constexpr std::uint8_t kFraming = 0x08;
inline constexpr std::uint8_t kBreak = 0x10;
}  // namespace linestate

// NOTIFY-MODEMSTATE bits.
namespace modemstate {
inline constexpr std::uint8_t kDeltaCts = 0x01;
inline constexpr std::uint8_t kDeltaDsr = 0x02;
inline constexpr std::uint8_t kTrailingEdgeRi = 0x04;
inline constexpr std::uint8_t kDeltaCd = 0x08;
inline constexpr std::uint8_t kCts = 0x10;
inline constexpr std::uint8_t kDsr = 0x20;
inline constexpr std::uint8_t kRi = 0x40;
inline constexpr std::uint8_t kCd = 0x80;
}  // namespace modemstate

}  // namespace chipload::rfc2217
