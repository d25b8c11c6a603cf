// The erase units (pages or sectors) of an identified chip's flash, and which
// of them a range of addresses touches.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "device_table.h"

namespace cli {

class FlashLayout {
  public:
    FlashLayout(std::uint32_t base, std::vector<std::uint32_t> unitSizes);
    // The units of this part's flash of flashSize bytes.
    static FlashLayout of(const isp::DeviceInfo& device, std::uint32_t flashSize);

    std::uint32_t base() const { return base_; }
    std::uint32_t size() const { return size_; }
    std::size_t unitCount() const { return starts_.size(); }
    std::uint32_t unitAddress(std::size_t unit) const { return starts_.at(unit); }

    // Indexes of the units [begin, end) overlaps; nullopt when part of the
    // range lies outside the flash.
    std::optional<std::vector<std::uint16_t>> unitsTouching(std::uint64_t begin,
                                                            std::uint64_t end) const;

  private:
    std::uint32_t base_;
    std::uint32_t size_ = 0;
    std::vector<std::uint32_t> starts_;
    std::vector<std::uint32_t> sizes_;
};

}  // namespace cli
