// Products the simulated target can be: STM32F1 parts with their bootloader
// product ID (AN2606) and memory sizes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace stm32sim {

struct Product {
    std::string_view name;      // lower case part name, e.g. "f103c8"
    std::uint16_t pid;          // answered by Get ID
    std::uint32_t flash_bytes;  // main flash, starting at flash_base
    std::uint32_t page_bytes;   // erase unit
    std::uint32_t ram_bytes;    // SRAM, starting at ram_base

    std::uint32_t page_count() const { return flash_bytes / page_bytes; }
};

inline constexpr std::uint32_t flash_base = 0x0800'0000;
inline constexpr std::uint32_t ram_base = 0x2000'0000;
inline constexpr std::uint32_t system_memory_base = 0x1FFF'F000;
inline constexpr std::uint32_t system_memory_bytes = 0x800;
inline constexpr std::uint32_t id_block_address = 0x1FFF'F7E0;  // flash KiB, RAM KiB, pad, UID
inline constexpr std::uint32_t unique_id_address = id_block_address + 8;
inline constexpr std::uint32_t option_bytes_address = 0x1FFF'F800;
inline constexpr std::uint32_t option_bytes_size = 16;

// Every product known, in a stable order (the first is the default).
std::span<const Product> all_products();

// Case-insensitive lookup by part name ("f103c8", "F103RE").
std::optional<Product> find_product(std::string_view name);

// Lookup by product ID and flash size; several parts share one PID.
std::optional<Product> find_product(std::uint16_t pid, std::uint32_t flash_kib);

}  // namespace stm32sim
