// Reads the com port subnegotiations a server sends.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "telnet_protocol.h"

namespace chipload::rfc2217 {

struct ComPortReply {
    ComPortCommand command;  // the client's code, the server offset removed
    std::uint32_t value;     // the baud rate, or the single value byte; 0 for a signature
};

// payload is what followed IAC SB COM-PORT-OPTION. Client codes, unknown
// codes and wrong lengths give nothing.
std::optional<ComPortReply> decodeServerComPort(std::span<const std::uint8_t> payload);

}  // namespace chipload::rfc2217
