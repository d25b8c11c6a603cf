// The option bytes of a family whose layout the device table describes,
// decoded into what an operator asks about: the read protection level, the
// write-protected groups and the user option bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "device_table.h"

namespace isp {

struct OptionBytes {
    int readProtectionLevel = 0;  // 0, 1, or 2 (permanent: the chip cannot be reopened)
    std::uint8_t rdpByte = 0;
    std::vector<std::uint8_t> user;              // the user option bytes as stored
    std::vector<std::uint32_t> protectedGroups;  // write-protection groups, ascending
};

// nullopt when the device has no layout in the table or the block is shorter
// than the layout needs.
std::optional<OptionBytes> decodeOptionBytes(const DeviceInfo& device,
                                             std::span<const std::uint8_t> block);

// The write-protection group holding flash offset `offset` of a part whose
// flash is `flashSize` bytes: a fixed-size group of the family's bits (the
// last bit covers the rest of the flash), else the erase unit (sector or
// page) holding it. nullopt without a layout or past the flash.
std::optional<std::uint32_t> protectionGroupOf(const DeviceInfo& device, std::uint32_t flashSize,
                                               std::uint32_t offset);

// The protected groups among those that flash offsets [offset, offset +
// length) touch, ascending.
std::vector<std::uint32_t> protectedGroupsIn(const DeviceInfo& device, const OptionBytes& options,
                                             std::uint32_t flashSize, std::uint32_t offset,
                                             std::uint32_t length);

// "level 1 (read-protected)" and the like.
std::string readProtectionText(int level);

}  // namespace isp
