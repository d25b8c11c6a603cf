#include "memory.hpp"

#include <algorithm>

namespace stm32sim {
namespace {

constexpr std::uint32_t sector_bytes = 4096;
constexpr std::uint32_t max_sectors = 32;
constexpr std::size_t wrp_index = 8;  // WRP0 in the option block

bool inside(std::uint32_t address, std::uint32_t length, std::uint32_t base, std::uint32_t size) {
    const std::uint64_t end = std::uint64_t{address} + length;
    return address >= base && end <= std::uint64_t{base} + size;
}

void put_le(std::vector<std::uint8_t>& bytes, std::uint32_t at, std::uint32_t value,
            std::uint32_t count) {
    for (std::uint32_t i = 0; i < count; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

std::vector<Memory::Unit> layout(const Product& product) {
    std::vector<Memory::Unit> units;
    const std::uint32_t bank_bytes = product.flash_bytes / product.banks;
    auto add = [&](std::uint32_t bytes) {
        const std::uint32_t offset = units.empty() ? 0 : units.back().offset + units.back().bytes;
        units.push_back({offset, bytes, offset / bank_bytes});
    };
    if (product.uniform_pages()) {
        for (std::uint32_t page = 0; page < product.page_count(); ++page) {
            add(product.page_bytes);
        }
        return units;
    }
    for (const UnitRun& run : product.sectors) {
        for (std::uint32_t i = 0; i < run.count; ++i) {
            add(run.bytes);
        }
    }
    return units;
}

}  // namespace

Memory::Memory(const Product& product, const std::array<std::uint8_t, 12>& unique_id)
    : product_(product),
      flash_(product.flash_bytes, 0xFF),
      ram_(product.ram_bytes, 0x00),
      units_(layout(product)) {
    const Family& family = *product.family;
    regions_.push_back(
        {family.system_memory_base, std::vector<std::uint8_t>(family.system_memory_bytes, 0x00)});
    place_identification(unique_id);
    for (std::size_t i = 0; i < options_.size(); i += 2) {
        set_option_pair(i, 0xFF);
    }
    set_option_pair(0, rdp_unprotected);
}

// The flash-size word and the unique ID read as erased around them. Inside
// system memory (F0, F1, F3, H7) they sit in an erased tail that runs to its
// end; elsewhere they get a small region of their own.
void Memory::place_identification(const std::array<std::uint8_t, 12>& unique_id) {
    const Family& family = *product_.family;
    const std::uint32_t first = std::min(family.flash_size_address, family.unique_id_address);
    const std::uint32_t last =
        std::max(family.flash_size_address + 4, family.unique_id_address + 12);
    Region& system = regions_.front();
    if (inside(first, last - first, system.base, static_cast<std::uint32_t>(system.bytes.size()))) {
        std::fill(system.bytes.begin() + (first - system.base), system.bytes.end(),
                  std::uint8_t{0xFF});
    } else {
        const std::uint32_t base = first & ~0xFu;
        regions_.push_back({base, std::vector<std::uint8_t>(((last - base) + 15) & ~0xFu, 0xFF)});
    }
    Region& words = regions_.back();
    const std::uint32_t size_at = family.flash_size_address - words.base;
    put_le(words.bytes, size_at, product_.flash_bytes / 1024, 2);
    if (family.ram_size_after_flash_size) {
        put_le(words.bytes, size_at + 2, product_.ram_bytes / 1024, 2);
    }
    std::ranges::copy(unique_id, words.bytes.begin() + (family.unique_id_address - words.base));
}

const Memory::Region* Memory::region_of(std::uint32_t address, std::uint32_t length) const {
    for (const Region& region : regions_) {
        if (inside(address, length, region.base, static_cast<std::uint32_t>(region.bytes.size()))) {
            return &region;
        }
    }
    return nullptr;
}

Area Memory::area_of(std::uint32_t address, std::uint32_t length) const {
    if (length == 0) {
        return Area::none;
    }
    if (inside(address, length, flash_base, product_.flash_bytes)) {
        return Area::flash;
    }
    if (inside(address, length, ram_base, product_.ram_bytes)) {
        return Area::ram;
    }
    if (region_of(address, length)) {
        return Area::system_memory;
    }
    if (inside(address, length, product_.family->option_bytes_address, option_bytes_size)) {
        return Area::option_bytes;
    }
    return Area::none;
}

std::optional<std::vector<std::uint8_t>> Memory::read(std::uint32_t address,
                                                      std::uint32_t length) const {
    auto slice = [&](const auto& bytes, std::uint32_t base) {
        auto first = bytes.begin() + (address - base);
        return std::vector<std::uint8_t>(first, first + length);
    };
    switch (area_of(address, length)) {
        case Area::flash:
            return slice(flash_, flash_base);
        case Area::ram:
            return slice(ram_, ram_base);
        case Area::system_memory: {
            const Region* region = region_of(address, length);
            return slice(region->bytes, region->base);
        }
        case Area::option_bytes:
            return slice(options_, product_.family->option_bytes_address);
        case Area::none:
            break;
    }
    return std::nullopt;
}

Memory::ProgramResult Memory::program_flash(std::uint32_t address,
                                            std::span<const std::uint8_t> bytes) {
    ProgramResult result;
    const std::uint32_t unit = product_.family->write_unit;
    const std::uint32_t start = address - flash_base;
    for (std::uint32_t i = 0; i + unit <= bytes.size(); i += unit) {
        const std::uint32_t at = start + i;
        if (range_protected(at, unit)) {
            result.hit_protected_page = true;
            continue;
        }
        const auto value = bytes.subspan(i, unit);
        const auto cells = std::span(flash_).subspan(at, unit);
        const bool erased = std::ranges::all_of(cells, [](std::uint8_t b) { return b == 0xFF; });
        const bool zeros = std::ranges::all_of(value, [](std::uint8_t b) { return b == 0x00; });
        if (!erased && !zeros) {
            continue;  // not erased: the controller refuses (PGERR)
        }
        std::ranges::copy(value, cells.begin());
        ++result.units_programmed;
    }
    return result;
}

void Memory::write_ram(std::uint32_t address, std::span<const std::uint8_t> bytes) {
    std::ranges::copy(bytes, ram_.begin() + (address - ram_base));
}

void Memory::load_flash(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
    std::ranges::copy(bytes, flash_.begin() + offset);
}

bool Memory::erase_page(std::uint32_t page) {
    const Unit& unit = units_.at(page);
    if (range_protected(unit.offset, unit.bytes)) {
        return false;
    }
    std::fill_n(flash_.begin() + unit.offset, unit.bytes, std::uint8_t{0xFF});
    return true;
}

bool Memory::mass_erase() {
    bool skipped = false;
    for (std::uint32_t page = 0; page < units_.size(); ++page) {
        skipped = !erase_page(page) || skipped;
    }
    return !skipped;
}

bool Memory::erase_bank(std::uint32_t bank) {
    bool skipped = false;
    for (std::uint32_t page = 0; page < units_.size(); ++page) {
        if (units_[page].bank == bank) {
            skipped = !erase_page(page) || skipped;
        }
    }
    return !skipped;
}

void Memory::erase_all() {
    std::ranges::fill(flash_, std::uint8_t{0xFF});
}

void Memory::set_readout_protection(bool on) {
    set_option_pair(0, on ? 0x00 : rdp_unprotected);
}

std::uint32_t Memory::write_protection() const {
    std::uint32_t wrp = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        wrp |= std::uint32_t{options_[wrp_index + 2 * i]} << (8 * i);
    }
    return wrp;
}

void Memory::set_write_protection(std::uint32_t wrp) {
    for (std::size_t i = 0; i < 4; ++i) {
        set_option_pair(wrp_index + 2 * i, static_cast<std::uint8_t>(wrp >> (8 * i)));
    }
}

void Memory::write_option_bytes(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
    std::ranges::fill(options_, std::uint8_t{0xFF});
    std::ranges::copy(bytes, options_.begin() + offset);
}

std::uint32_t Memory::sector_count() const {
    return std::min(max_sectors, (product_.flash_bytes + sector_bytes - 1) / sector_bytes);
}

std::uint32_t Memory::sector_of_offset(std::uint32_t offset) const {
    return std::min(max_sectors - 1, offset / sector_bytes);
}

bool Memory::range_protected(std::uint32_t offset, std::uint32_t bytes) const {
    const std::uint32_t wrp = write_protection();
    for (std::uint32_t s = sector_of_offset(offset); s <= sector_of_offset(offset + bytes - 1);
         ++s) {
        if ((wrp & (1u << s)) == 0) {
            return true;
        }
    }
    return false;
}

void Memory::set_option_pair(std::size_t index, std::uint8_t value) {
    options_[index] = value;
    options_[index + 1] = static_cast<std::uint8_t>(~value);
}

}  // namespace stm32sim
