#include "telnet_encoder.h"

#include <array>

namespace chipload::rfc2217 {

namespace {

void appendByte(Bytes& out, std::uint8_t value, Sender sender, ComPortCommand command) {
    const std::array<std::uint8_t, 1> payload{value};
    appendComPort(out, sender, command, payload);
}

}  // namespace

void appendData(Bytes& out, std::span<const std::uint8_t> data, bool binary) {
    for (const std::uint8_t b : data) {
        out.push_back(b);
        if (b == telnet::kIac) {
            out.push_back(telnet::kIac);
        } else if (b == '\r' && !binary) {
            out.push_back(0);
        }
    }
}

void appendNegotiation(Bytes& out, std::uint8_t verb, std::uint8_t option) {
    out.insert(out.end(), {telnet::kIac, verb, option});
}

void appendComPort(Bytes& out, Sender sender, ComPortCommand command,
                   std::span<const std::uint8_t> payload) {
    const auto offset = sender == Sender::Server ? kServerOffset : std::uint8_t{0};
    out.insert(out.end(), {telnet::kIac, telnet::kSb, telnet::kOptionComPort,
                           static_cast<std::uint8_t>(static_cast<std::uint8_t>(command) + offset)});
    for (const std::uint8_t b : payload) {
        out.push_back(b);
        if (b == telnet::kIac) {
            out.push_back(telnet::kIac);
        }
    }
    out.insert(out.end(), {telnet::kIac, telnet::kSe});
}

void appendSetBaudRate(Bytes& out, Sender sender, std::uint32_t baud) {
    const std::array<std::uint8_t, 4> payload{
        static_cast<std::uint8_t>(baud >> 24), static_cast<std::uint8_t>(baud >> 16),
        static_cast<std::uint8_t>(baud >> 8), static_cast<std::uint8_t>(baud)};
    appendComPort(out, sender, ComPortCommand::SetBaudRate, payload);
}

void appendSetDataSize(Bytes& out, Sender sender, std::uint8_t bits) {
    appendByte(out, bits, sender, ComPortCommand::SetDataSize);
}

void appendSetParity(Bytes& out, Sender sender, Parity parity) {
    appendByte(out, static_cast<std::uint8_t>(parity), sender, ComPortCommand::SetParity);
}

void appendSetStopSize(Bytes& out, Sender sender, StopSize stopSize) {
    appendByte(out, static_cast<std::uint8_t>(stopSize), sender, ComPortCommand::SetStopSize);
}

void appendSetControl(Bytes& out, Sender sender, Control control) {
    appendByte(out, static_cast<std::uint8_t>(control), sender, ComPortCommand::SetControl);
}

void appendSetLineStateMask(Bytes& out, Sender sender, std::uint8_t mask) {
    appendByte(out, mask, sender, ComPortCommand::SetLineStateMask);
}

void appendSetModemStateMask(Bytes& out, Sender sender, std::uint8_t mask) {
    appendByte(out, mask, sender, ComPortCommand::SetModemStateMask);
}

void appendPurgeData(Bytes& out, Sender sender, Purge purge) {
    appendByte(out, static_cast<std::uint8_t>(purge), sender, ComPortCommand::PurgeData);
}

void appendNotifyModemState(Bytes& out, std::uint8_t state) {
    appendByte(out, state, Sender::Server, ComPortCommand::NotifyModemState);
}

void appendNotifyLineState(Bytes& out, std::uint8_t state) {
    appendByte(out, state, Sender::Server, ComPortCommand::NotifyLineState);
}

}  // namespace chipload::rfc2217
