#include "hex_writer.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace isp {
namespace {

constexpr std::size_t kRecordBytes = 16;

void appendRecord(std::string& text, std::uint16_t offset, std::uint8_t type,
                  std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> record{static_cast<std::uint8_t>(data.size()),
                                     static_cast<std::uint8_t>(offset >> 8),
                                     static_cast<std::uint8_t>(offset), type};
    record.insert(record.end(), data.begin(), data.end());
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : record)
        sum = static_cast<std::uint8_t>(sum + byte);
    record.push_back(static_cast<std::uint8_t>(-sum));
    text += ':';
    char digits[3];
    for (const std::uint8_t byte : record) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += digits;
    }
    text += '\n';
}

}  // namespace

std::string toIntelHex(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    std::string text;
    std::uint32_t upper = 0;  // records start with the upper half at 0
    std::size_t at = 0;
    while (at < bytes.size()) {
        const std::uint32_t here = address + static_cast<std::uint32_t>(at);
        if (here >> 16 != upper) {
            upper = here >> 16;
            const std::uint8_t base[2] = {static_cast<std::uint8_t>(upper >> 8),
                                          static_cast<std::uint8_t>(upper)};
            appendRecord(text, 0, 4, base);
        }
        // A record never crosses a 64 KiB boundary: its offset would wrap.
        const std::size_t toBoundary = 0x10000 - (here & 0xFFFF);
        const std::size_t count = std::min({kRecordBytes, bytes.size() - at, toBoundary});
        appendRecord(text, static_cast<std::uint16_t>(here), 0, bytes.subspan(at, count));
        at += count;
    }
    appendRecord(text, 0, 1, {});
    return text;
}

}  // namespace isp
