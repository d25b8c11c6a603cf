#include "com_port_reply.h"

namespace chipload::rfc2217 {

std::optional<ComPortReply> decodeServerComPort(std::span<const std::uint8_t> payload) {
    if (payload.empty() || payload[0] < kServerOffset ||
        payload[0] >= kServerOffset + kComPortCommandCount) {
        return std::nullopt;
    }
    const auto command = static_cast<ComPortCommand>(payload[0] - kServerOffset);
    const auto value = payload.subspan(1);
    switch (command) {
        case ComPortCommand::Signature:
            return ComPortReply{command, 0};
        case ComPortCommand::SetBaudRate:
            if (value.size() != 4) {
                return std::nullopt;
            }
            return ComPortReply{command, std::uint32_t{value[0]} << 24 |
                                             std::uint32_t{value[1]} << 16 |
                                             std::uint32_t{value[2]} << 8 | value[3]};
        case ComPortCommand::FlowControlSuspend:
        case ComPortCommand::FlowControlResume:
            if (!value.empty()) {
                return std::nullopt;
            }
            return ComPortReply{command, 0};
        default:
            if (value.size() != 1) {
                return std::nullopt;
            }
            return ComPortReply{command, value[0]};
    }
}

}  // namespace chipload::rfc2217
