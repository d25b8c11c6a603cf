#include "replies.h"

#include <algorithm>

namespace isp {

namespace {

// ACK, N, N+1 bytes, ACK: the N+1 bytes, or empty when the layout is wrong.
std::span<const std::uint8_t> countedBody(std::span<const std::uint8_t> reply) {
    if (reply.size() < 4 || reply.front() != kAck || reply.back() != kAck ||
        reply.size() != std::size_t{reply[1]} + 4) {
        return {};
    }
    return reply.subspan(2, reply.size() - 3);
}

}  // namespace

bool BootloaderInfo::supports(Command command) const {
    return std::find(commands.begin(), commands.end(), command) != commands.end();
}

std::optional<BootloaderInfo> decodeGet(std::span<const std::uint8_t> reply) {
    const auto body = countedBody(reply);
    if (body.empty()) {
        return std::nullopt;
    }
    BootloaderInfo info;
    info.version = body.front();
    for (std::uint8_t code : body.subspan(1)) {
        info.commands.push_back(static_cast<Command>(code));
    }
    return info;
}

std::optional<VersionInfo> decodeGetVersion(std::span<const std::uint8_t> reply) {
    if (reply.size() != 5 || reply.front() != kAck || reply.back() != kAck) {
        return std::nullopt;
    }
    return VersionInfo{reply[1], reply[2], reply[3]};
}

std::optional<std::uint16_t> decodeGetId(std::span<const std::uint8_t> reply) {
    const auto body = countedBody(reply);
    if (body.size() != 2) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(body[0] << 8 | body[1]);
}

}  // namespace isp
