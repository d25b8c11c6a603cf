// Products the simulated target can be: one or more parts of each STM32
// family, with the product ID their bootloader reports (AN2606), the
// bootloader's protocol version (AN3155), memory sizes and layout, and where
// the family keeps its flash-size word and unique ID (CMSIS device headers).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "stm32sim/line.hpp"

namespace stm32sim {

// Erase time of the family's units of one size (datasheet, typical).
struct EraseTime {
    std::uint32_t unit_bytes;
    Duration time;
};

// Where a family keeps read and write protection in its option bytes
// (reference manuals). Write protection is either active-low bits, one per
// group of flash, or one area of pages from a start to an end page.
struct OptionLayout {
    enum class Wrp { bits, area };

    std::uint32_t bytes;      // the block read at option_bytes_address
    std::uint8_t rdp_offset;  // read protection level byte
    std::uint8_t rdp_level0;  // its value when the chip is not protected
    bool complemented;        // every byte followed by its complement
    Wrp wrp;
    std::uint8_t wrp_offset;        // bits: first bitmap byte; area: start page
    std::uint8_t wrp_bytes;         // bits: bitmap bytes; area: offset of the end page from start
    std::uint32_t wrp_group_bytes;  // bits: flash per bit, 0 for one bit per sector
};

// What the parts of one family share.
struct Family {
    std::string_view name;             // "F4"
    std::uint8_t bootloader_version;   // 0x22 offers Erase (0x43), 0x31 Extended Erase (0x44)
    std::uint32_t write_unit;          // bytes the flash programs at once
    std::uint32_t flash_size_address;  // 16-bit word: flash size in KiB
    std::uint32_t unique_id_address;   // 96 bits
    bool ram_size_after_flash_size;    // F1 block: RAM KiB in the next half-word
    std::uint32_t system_memory_base;
    std::uint32_t system_memory_bytes;
    std::uint32_t option_bytes_address;
    const OptionLayout* options;
    std::uint32_t bootloader_ram_bytes;  // from the start of RAM, refused to writes
    std::span<const EraseTime> erase_times;
    Duration mass_erase_time;
    Duration program_time;  // per write unit
    // What erased flash reads: 0x00 on the L0 and L1 (RM0377, RM0038).
    std::uint8_t erased_byte = 0xFF;

    bool extended_erase() const { return bootloader_version >= 0x30; }
    Duration erase_time(std::uint32_t unit_bytes) const;
};

// Consecutive erase units of one size.
struct UnitRun {
    std::uint32_t bytes;
    std::uint32_t count;
};

struct Product {
    std::string_view name;      // lower case part name, e.g. "f103c8"
    std::uint16_t pid;          // answered by Get ID
    std::uint32_t flash_bytes;  // main flash, starting at flash_base
    std::uint32_t page_bytes;   // erase unit; the smallest sector on sector parts
    std::uint32_t ram_bytes;    // SRAM, starting at ram_base
    const Family* family;
    std::span<const UnitRun> sectors{};  // empty: uniform pages of page_bytes
    std::uint32_t banks = 1;             // bank 2 is the upper half of flash

    bool uniform_pages() const { return sectors.empty(); }
    std::uint32_t page_count() const { return flash_bytes / page_bytes; }
};

inline constexpr std::uint32_t flash_base = 0x0800'0000;
inline constexpr std::uint32_t ram_base = 0x2000'0000;
// The STM32F1's system memory, identification block and option bytes.
inline constexpr std::uint32_t system_memory_base = 0x1FFF'F000;
inline constexpr std::uint32_t system_memory_bytes = 0x800;
inline constexpr std::uint32_t id_block_address = 0x1FFF'F7E0;  // flash KiB, RAM KiB, pad, UID
inline constexpr std::uint32_t unique_id_address = id_block_address + 8;
inline constexpr std::uint32_t option_bytes_address = 0x1FFF'F800;

// Every product known, in a stable order (the first is the default).
std::span<const Product> all_products();

// Case-insensitive lookup by part name ("f103c8", "F407VG").
std::optional<Product> find_product(std::string_view name);

// Lookup by product ID and flash size; several parts share one PID.
std::optional<Product> find_product(std::uint16_t pid, std::uint32_t flash_kib);

}  // namespace stm32sim
