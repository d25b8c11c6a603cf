// Intel HEX lines written by the tests themselves, checksum included.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace isp_test {

inline std::string hexRecord(int type, unsigned offset, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> bytes{
        static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8 & 0xFF),
        static_cast<std::uint8_t>(offset & 0xFF), static_cast<std::uint8_t>(type)};
    bytes.insert(bytes.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = ":";
    char pair[3];
    for (std::uint8_t byte : bytes) {
        sum += byte;
        std::snprintf(pair, sizeof pair, "%02X", byte);
        line += pair;
    }
    std::snprintf(pair, sizeof pair, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + pair + "\n";
}

inline std::string linearBase(unsigned upper) {
    return hexRecord(4, 0,
                     {static_cast<std::uint8_t>(upper >> 8), static_cast<std::uint8_t>(upper)});
}

inline const std::string kHexEnd = ":00000001FF\n";

}  // namespace isp_test
