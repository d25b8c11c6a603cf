#include "flash_layout.h"

namespace cli {

FlashLayout::FlashLayout(std::uint32_t base, std::vector<std::uint32_t> unitSizes)
    : base_(base), sizes_(std::move(unitSizes)) {
    std::uint32_t at = base_;
    for (const std::uint32_t size : sizes_) {
        starts_.push_back(at);
        at += size;
    }
    size_ = at - base_;
}

FlashLayout FlashLayout::of(const isp::DeviceInfo& device, std::uint32_t flashSize) {
    return FlashLayout(device.flashBase, isp::eraseUnitsFor(device, flashSize));
}

std::optional<std::vector<std::uint16_t>> FlashLayout::unitsTouching(std::uint64_t begin,
                                                                     std::uint64_t end) const {
    if (begin < base_ || end > std::uint64_t{base_} + size_ || begin > end) {
        return std::nullopt;
    }
    std::vector<std::uint16_t> units;
    for (std::size_t i = 0; i < starts_.size(); ++i) {
        const std::uint64_t unitEnd = std::uint64_t{starts_[i]} + sizes_[i];
        if (starts_[i] < end && unitEnd > begin) {
            units.push_back(static_cast<std::uint16_t>(i));
        }
    }
    return units;
}

}  // namespace cli
