// The chip's memory map: flash with the family's erase units and write unit,
// RAM, system memory, the flash-size word and unique ID at the family's
// addresses, and the option bytes.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "stm32sim/product.hpp"

namespace stm32sim {

enum class Area { none, flash, ram, system_memory, option_bytes };

class Memory {
  public:
    Memory(const Product& product, const std::array<std::uint8_t, 12>& unique_id);

    const Product& product() const { return product_; }
    // The area holding the whole range, or none (also for an empty range).
    Area area_of(std::uint32_t address, std::uint32_t length) const;
    std::optional<std::vector<std::uint8_t>> read(std::uint32_t address,
                                                  std::uint32_t length) const;
    const std::vector<std::uint8_t>& flash() const { return flash_; }
    const std::vector<std::uint8_t>& ram() const { return ram_; }

    struct ProgramResult {
        std::uint32_t units_programmed = 0;
        bool hit_protected_page = false;
    };
    // Programs whole write units: a unit is programmed only when erased
    // (all the family's erased value), or when the value is all zeros; protected sectors are
    // skipped. The range must lie in flash and start on a write unit; a
    // trailing part of a unit is not programmed.
    ProgramResult program_flash(std::uint32_t address, std::span<const std::uint8_t> bytes);
    void write_ram(std::uint32_t address, std::span<const std::uint8_t> bytes);
    // Direct load, no flash rules (images, tests).
    void load_flash(std::uint32_t offset, std::span<const std::uint8_t> bytes);
    // Erase units (pages or sectors), numbered from the start of flash
    // across both banks.
    struct Unit {
        std::uint32_t offset;
        std::uint32_t bytes;
        std::uint32_t bank;  // 0 or 1
    };
    const std::vector<Unit>& units() const { return units_; }
    // false (and nothing erased) when the unit is protected.
    bool erase_page(std::uint32_t page);
    // Erases every unit (of one bank) outside the protected sectors; false
    // when some were protected.
    bool mass_erase();
    bool erase_bank(std::uint32_t bank);
    // Mass erase regardless of write protection (readout unprotect).
    void erase_all();

    // Option bytes in the family's layout (OptionLayout).
    bool readout_protected() const;
    void set_readout_protection(bool on);
    // Write-protection groups: bits of 4 KiB or sectors, or pages for an
    // area; numbered from the start of flash.
    std::uint32_t group_count() const;
    bool group_protected(std::uint32_t group) const;
    // An area grows to cover every group listed.
    void protect_groups(std::span<const std::uint32_t> groups);
    void unprotect_all();
    std::uint32_t write_protection() const;  // bit n = 0: group n (< 32) protected
    // Write Memory into the option bytes: the block is erased, then written.
    void write_option_bytes(std::uint32_t offset, std::span<const std::uint8_t> bytes);

  private:
    // Read-only memory outside flash and RAM.
    struct Region {
        std::uint32_t base;
        std::vector<std::uint8_t> bytes;
    };
    const Region* region_of(std::uint32_t address, std::uint32_t length) const;
    void place_identification(const std::array<std::uint8_t, 12>& unique_id);

    const OptionLayout& option_layout() const { return *product_.family->options; }
    std::uint32_t group_of_offset(std::uint32_t offset) const;
    bool range_protected(std::uint32_t offset, std::uint32_t bytes) const;
    // A complemented block keeps the complement in the byte after.
    std::uint8_t option(std::size_t at) const;
    void set_option(std::size_t at, std::uint8_t value);
    std::size_t bitmap_byte(std::uint32_t group) const;

    Product product_;
    std::vector<std::uint8_t> flash_;
    std::vector<std::uint8_t> ram_;
    std::vector<Region> regions_;  // system memory, then the identification words
    std::vector<Unit> units_;
    std::vector<std::uint8_t> options_;
};

}  // namespace stm32sim
