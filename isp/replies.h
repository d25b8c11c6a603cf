// Decoders of the bootloader's information replies into values. Each takes
// the whole reply as ReplyAssembler gathered it (leading and closing ACK
// included) and returns nullopt when its layout does not hold.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol.h"

namespace isp {

struct BootloaderInfo {
    std::uint8_t version = 0;  // 0x22 is version 2.2
    std::vector<Command> commands;
    bool supports(Command command) const;
};

struct VersionInfo {
    std::uint8_t version = 0;
    std::uint8_t option1 = 0;  // read protection option bytes, as sent
    std::uint8_t option2 = 0;
};

std::optional<BootloaderInfo> decodeGet(std::span<const std::uint8_t> reply);
std::optional<VersionInfo> decodeGetVersion(std::span<const std::uint8_t> reply);
// Product ID; STM32 parts send two ID bytes, most significant first.
std::optional<std::uint16_t> decodeGetId(std::span<const std::uint8_t> reply);

}  // namespace isp
