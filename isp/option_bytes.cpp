#include "option_bytes.h"

#include <algorithm>

namespace isp {
namespace {

// RDP level 2 is one fixed value on every family that has it.
constexpr std::uint8_t kRdpLevel2 = 0xCC;

}  // namespace

std::optional<OptionBytes> decodeOptionBytes(const DeviceInfo& device,
                                             std::span<const std::uint8_t> block) {
    if (!device.optionLayout || block.size() < device.optionBytesSize) {
        return std::nullopt;
    }
    const OptionLayout& l = *device.optionLayout;
    const std::size_t step = l.complemented ? 2 : 1;
    OptionBytes out;
    out.rdpByte = block[l.rdp];
    out.readProtectionLevel = out.rdpByte == l.rdpLevel0 ? 0 : out.rdpByte == kRdpLevel2 ? 2 : 1;
    for (std::size_t i = 0; i < l.userBytes; ++i) {
        out.user.push_back(block[l.user + i * step]);
    }
    if (l.wrp == OptionLayout::Wrp::kArea) {
        // The page fields are as wide as the bank's page numbers need (six
        // bits on a G07x, eight on the largest L4); the rest of the byte is
        // reserved.
        const std::size_t pages =
            device.banks.empty() ? 256 : device.banks.front().unitSizes.size();
        std::uint32_t mask = 1;
        while (mask < pages) {
            mask <<= 1;
        }
        mask -= 1;
        const std::uint32_t start = block[l.wrpOffset] & mask;
        const std::uint32_t end = block[l.wrpOffset + l.wrpBytes] & mask;
        for (std::uint32_t g = start; g <= end; ++g) {
            out.protectedGroups.push_back(g);
        }
        return out;
    }
    const std::uint32_t groups = l.wrpBits != 0 ? l.wrpBits : 8 * l.wrpBytes;
    for (std::uint32_t g = 0; g < groups; ++g) {
        if ((block[l.wrpOffset + (g / 8) * step] & (1u << (g % 8))) == 0) {
            out.protectedGroups.push_back(g);
        }
    }
    return out;
}

std::optional<std::uint32_t> protectionGroupOf(const DeviceInfo& device, std::uint32_t flashSize,
                                               std::uint32_t offset) {
    if (!device.optionLayout || offset >= flashSize) {
        return std::nullopt;
    }
    const OptionLayout& l = *device.optionLayout;
    if (l.wrp == OptionLayout::Wrp::kBits && l.wrpGroupBytes != 0) {
        const std::uint32_t groups = l.wrpBits != 0 ? l.wrpBits : 8 * l.wrpBytes;
        return std::min(groups - 1, offset / l.wrpGroupBytes);
    }
    std::uint64_t end = 0;
    const auto units = eraseUnitsFor(device, flashSize);
    for (std::uint32_t unit = 0; unit < units.size(); ++unit) {
        end += units[unit];
        if (offset < end) {
            return unit;
        }
    }
    return std::nullopt;
}

std::vector<std::uint32_t> protectedGroupsIn(const DeviceInfo& device, const OptionBytes& options,
                                             std::uint32_t flashSize, std::uint32_t offset,
                                             std::uint32_t length) {
    std::vector<std::uint32_t> hit;
    if (length == 0) {
        return hit;
    }
    const auto first = protectionGroupOf(device, flashSize, offset);
    const std::uint64_t lastOffset =
        std::min<std::uint64_t>(std::uint64_t{offset} + length - 1, flashSize - 1ull);
    const auto last = protectionGroupOf(device, flashSize, static_cast<std::uint32_t>(lastOffset));
    if (!first || !last) {
        return hit;
    }
    for (const std::uint32_t group : options.protectedGroups) {
        if (group >= *first && group <= *last) {
            hit.push_back(group);
        }
    }
    return hit;
}

std::string readProtectionText(int level) {
    switch (level) {
        case 0:
            return "level 0 (not protected)";
        case 1:
            return "level 1 (read-protected; lifting it erases the whole flash)";
        default:
            return "level 2 (permanently protected; the bootloader cannot lift it)";
    }
}

}  // namespace isp
