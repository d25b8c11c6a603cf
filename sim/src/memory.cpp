#include "memory.hpp"

#include <algorithm>

namespace stm32sim {
namespace {

// An area whose start lies past its end protects nothing.
constexpr std::uint8_t no_area_start = 0xFF;
constexpr std::uint8_t no_area_end = 0x00;

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
      flash_(product.flash_bytes, product.family->erased_byte),
      ram_(product.ram_bytes, 0x00),
      units_(layout(product)),
      options_(product.family->options->bytes, 0xFF) {
    const Family& family = *product.family;
    regions_.push_back(
        {family.system_memory_base, std::vector<std::uint8_t>(family.system_memory_bytes, 0x00)});
    place_identification(unique_id);
    std::ranges::fill(options_, std::uint8_t{0xFF});
    if (this->option_layout().complemented) {
        for (std::size_t i = 0; i < options_.size(); i += 2) {
            set_option(i, 0xFF);
        }
    }
    set_readout_protection(false);
    unprotect_all();
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
    if (inside(address, length, product_.family->option_bytes_address,
               static_cast<std::uint32_t>(options_.size()))) {
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
    const std::uint8_t blank = product_.family->erased_byte;
    const std::uint32_t start = address - flash_base;
    for (std::uint32_t i = 0; i + unit <= bytes.size(); i += unit) {
        const std::uint32_t at = start + i;
        if (range_protected(at, unit)) {
            result.hit_protected_page = true;
            continue;
        }
        const auto value = bytes.subspan(i, unit);
        const auto cells = std::span(flash_).subspan(at, unit);
        const bool erased = std::ranges::all_of(cells, [&](std::uint8_t b) { return b == blank; });
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
    std::fill_n(flash_.begin() + unit.offset, unit.bytes, product_.family->erased_byte);
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
    std::ranges::fill(flash_, product_.family->erased_byte);
}

bool Memory::readout_protected() const {
    return option(option_layout().rdp_offset) != option_layout().rdp_level0;
}

void Memory::set_readout_protection(bool on) {
    set_option(option_layout().rdp_offset, on ? 0x00 : option_layout().rdp_level0);
}

std::uint32_t Memory::group_count() const {
    const OptionLayout& l = option_layout();
    const auto units = static_cast<std::uint32_t>(units_.size());
    if (l.wrp == OptionLayout::Wrp::area) {
        return std::min<std::uint32_t>(units, no_area_start);
    }
    const std::uint32_t bits = 8u * l.wrp_bytes;
    if (l.wrp_group_bytes == 0) {
        return std::min(units, bits);
    }
    return std::min(bits, (product_.flash_bytes + l.wrp_group_bytes - 1) / l.wrp_group_bytes);
}

bool Memory::group_protected(std::uint32_t group) const {
    const OptionLayout& l = option_layout();
    if (l.wrp == OptionLayout::Wrp::area) {
        return option(l.wrp_offset) <= group && group <= option(l.wrp_offset + l.wrp_bytes);
    }
    return (option(bitmap_byte(group)) & (1u << (group % 8))) == 0;
}

void Memory::protect_groups(std::span<const std::uint32_t> groups) {
    const OptionLayout& l = option_layout();
    for (std::uint32_t group : groups) {
        if (group >= group_count()) {
            continue;
        }
        if (l.wrp == OptionLayout::Wrp::bits) {
            const std::size_t index = bitmap_byte(group);
            set_option(index, static_cast<std::uint8_t>(option(index) & ~(1u << (group % 8))));
            continue;
        }
        const std::uint8_t start = option(l.wrp_offset);
        const std::uint8_t end = option(l.wrp_offset + l.wrp_bytes);
        const auto g = static_cast<std::uint8_t>(group);
        const bool empty = start > end;
        set_option(l.wrp_offset, empty ? g : std::min(start, g));
        set_option(l.wrp_offset + l.wrp_bytes, empty ? g : std::max(end, g));
    }
}

void Memory::unprotect_all() {
    const OptionLayout& l = option_layout();
    if (l.wrp == OptionLayout::Wrp::area) {
        set_option(l.wrp_offset, no_area_start);
        set_option(l.wrp_offset + l.wrp_bytes, no_area_end);
        return;
    }
    for (std::uint32_t bit = 0; bit < 8u * l.wrp_bytes; bit += 8) {
        set_option(bitmap_byte(bit), 0xFF);
    }
}

std::uint32_t Memory::write_protection() const {
    std::uint32_t wrp = 0xFFFF'FFFF;
    for (std::uint32_t g = 0; g < std::min<std::uint32_t>(32, group_count()); ++g) {
        if (group_protected(g)) {
            wrp &= ~(1u << g);
        }
    }
    return wrp;
}

void Memory::write_option_bytes(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
    std::ranges::fill(options_, std::uint8_t{0xFF});
    std::ranges::copy(bytes, options_.begin() + offset);
}

std::uint32_t Memory::group_of_offset(std::uint32_t offset) const {
    const OptionLayout& l = option_layout();
    if (l.wrp == OptionLayout::Wrp::area || l.wrp_group_bytes == 0) {
        const auto unit = std::ranges::find_if(
            units_, [&](const Unit& u) { return offset < u.offset + u.bytes; });
        return static_cast<std::uint32_t>(unit - units_.begin());
    }
    return std::min(group_count() - 1, offset / l.wrp_group_bytes);
}

bool Memory::range_protected(std::uint32_t offset, std::uint32_t bytes) const {
    for (std::uint32_t g = group_of_offset(offset); g <= group_of_offset(offset + bytes - 1); ++g) {
        if (group_protected(g)) {
            return true;
        }
    }
    return false;
}

std::uint8_t Memory::option(std::size_t at) const {
    return options_[at];
}

void Memory::set_option(std::size_t at, std::uint8_t value) {
    options_[at] = value;
    if (option_layout().complemented) {
        options_[at + 1] = static_cast<std::uint8_t>(~value);
    }
}

std::size_t Memory::bitmap_byte(std::uint32_t group) const {
    return option_layout().wrp_offset + (group / 8) * (option_layout().complemented ? 2 : 1);
}

}  // namespace stm32sim
