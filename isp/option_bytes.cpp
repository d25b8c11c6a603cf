#include "option_bytes.h"

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
        const std::uint8_t start = block[l.wrpOffset];
        const std::uint8_t end = block[l.wrpOffset + l.wrpBytes];
        for (std::uint32_t g = start; g <= end; ++g) {
            out.protectedGroups.push_back(g);
        }
        return out;
    }
    for (std::uint32_t i = 0; i < l.wrpBytes; ++i) {
        const std::uint8_t bits = block[l.wrpOffset + i * step];
        for (std::uint32_t b = 0; b < 8; ++b) {
            if ((bits & (1u << b)) == 0) {
                out.protectedGroups.push_back(8 * i + b);
            }
        }
    }
    return out;
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
