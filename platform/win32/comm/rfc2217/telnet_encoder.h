// Builds what a client (or, for tests and servers, a server) puts on a
// Telnet connection carrying RFC 2217: escaped line data, option
// negotiations and com port commands. Every function appends to out.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "telnet_protocol.h"

namespace chipload::rfc2217 {

using Bytes = std::vector<std::uint8_t>;

enum class Sender { Client, Server };

// Doubles IAC; outside binary mode also sends a bare CR as CR NUL.
void appendData(Bytes& out, std::span<const std::uint8_t> data, bool binary);

void appendNegotiation(Bytes& out, std::uint8_t verb, std::uint8_t option);

// IAC SB COM-PORT-OPTION <command> <payload, IAC doubled> IAC SE; a server
// sends the command code plus 100.
void appendComPort(Bytes& out, Sender sender, ComPortCommand command,
                   std::span<const std::uint8_t> payload);

void appendSetBaudRate(Bytes& out, Sender sender, std::uint32_t baud);
void appendSetDataSize(Bytes& out, Sender sender, std::uint8_t bits);
void appendSetParity(Bytes& out, Sender sender, Parity parity);
void appendSetStopSize(Bytes& out, Sender sender, StopSize stopSize);
void appendSetControl(Bytes& out, Sender sender, Control control);
void appendSetLineStateMask(Bytes& out, Sender sender, std::uint8_t mask);
void appendSetModemStateMask(Bytes& out, Sender sender, std::uint8_t mask);
void appendPurgeData(Bytes& out, Sender sender, Purge purge);
void appendNotifyModemState(Bytes& out, std::uint8_t state);
void appendNotifyLineState(Bytes& out, std::uint8_t state);

}  // namespace chipload::rfc2217
