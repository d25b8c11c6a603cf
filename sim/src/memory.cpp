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

}  // namespace

Memory::Memory(const Product& product, const std::array<std::uint8_t, 12>& unique_id)
    : product_(product),
      flash_(product.flash_bytes, 0xFF),
      ram_(product.ram_bytes, 0x00),
      system_memory_(system_memory_bytes, 0x00) {
    const std::uint32_t id = id_block_address - system_memory_base;
    std::fill(system_memory_.begin() + id, system_memory_.end(), std::uint8_t{0xFF});
    const std::uint32_t flash_kib = product.flash_bytes / 1024;
    const std::uint32_t ram_kib = product.ram_bytes / 1024;
    system_memory_[id + 0] = static_cast<std::uint8_t>(flash_kib);
    system_memory_[id + 1] = static_cast<std::uint8_t>(flash_kib >> 8);
    system_memory_[id + 2] = static_cast<std::uint8_t>(ram_kib);
    system_memory_[id + 3] = static_cast<std::uint8_t>(ram_kib >> 8);
    std::ranges::copy(unique_id, system_memory_.begin() + id + 8);
    for (std::size_t i = 0; i < options_.size(); i += 2) {
        set_option_pair(i, 0xFF);
    }
    set_option_pair(0, rdp_unprotected);
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
    if (inside(address, length, system_memory_base, system_memory_bytes)) {
        return Area::system_memory;
    }
    if (inside(address, length, option_bytes_address, option_bytes_size)) {
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
        case Area::system_memory:
            return slice(system_memory_, system_memory_base);
        case Area::option_bytes:
            return slice(options_, option_bytes_address);
        case Area::none:
            break;
    }
    return std::nullopt;
}

Memory::ProgramResult Memory::program_flash(std::uint32_t address,
                                            std::span<const std::uint8_t> bytes) {
    ProgramResult result;
    const std::uint32_t start = address - flash_base;
    for (std::uint32_t i = 0; i + 1 < bytes.size(); i += 2) {
        const std::uint32_t at = start + i;
        if (offset_protected(at)) {
            result.hit_protected_page = true;
            continue;
        }
        const auto value = static_cast<std::uint16_t>(bytes[i] | (bytes[i + 1] << 8));
        const auto current = static_cast<std::uint16_t>(flash_[at] | (flash_[at + 1] << 8));
        if (current != 0xFFFF && value != 0x0000) {
            continue;  // not erased: the controller refuses (PGERR)
        }
        flash_[at] = static_cast<std::uint8_t>(value);
        flash_[at + 1] = static_cast<std::uint8_t>(value >> 8);
        ++result.halfwords_programmed;
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
    const std::uint32_t offset = page * product_.page_bytes;
    if (offset_protected(offset)) {
        return false;
    }
    std::fill_n(flash_.begin() + offset, product_.page_bytes, std::uint8_t{0xFF});
    return true;
}

bool Memory::mass_erase() {
    bool skipped = false;
    for (std::uint32_t page = 0; page < product_.page_count(); ++page) {
        skipped = !erase_page(page) || skipped;
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

bool Memory::offset_protected(std::uint32_t offset) const {
    return (write_protection() & (1u << sector_of_offset(offset))) == 0;
}

void Memory::set_option_pair(std::size_t index, std::uint8_t value) {
    options_[index] = value;
    options_[index + 1] = static_cast<std::uint8_t>(~value);
}

}  // namespace stm32sim
