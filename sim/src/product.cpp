#include "stm32sim/product.hpp"

#include <algorithm>
#include <array>
#include <cctype>

namespace stm32sim {
namespace {

using std::chrono::microseconds;
using std::chrono::milliseconds;

constexpr std::uint32_t kib = 1024;

// Product IDs and bootloader RAM from AN2606; protocol versions from AN3155
// (v3.0 brought Extended Erase); flash-size and unique-ID addresses from the
// CMSIS device headers (FLASHSIZE_BASE, UID_BASE); layouts from the
// reference manuals; times are datasheet typical values. The F1 times are
// the ones the simulator always had. Where a datasheet figure could not be
// checked (F7, G0, G4, H7, WB) the value is of the right order, not exact.
// L0 and L1 programming is timed per word as half-page programming would
// take it: the bootloader's programming mode is not documented.

constexpr std::array f1_erase{EraseTime{1 * kib, page_erase_time}};
constexpr std::array f0_erase{EraseTime{1 * kib, milliseconds(40)}};
constexpr std::array f2_f4_erase{EraseTime{16 * kib, milliseconds(400)},
                                 EraseTime{64 * kib, milliseconds(1100)},
                                 EraseTime{128 * kib, milliseconds(2000)}};
constexpr std::array f3_erase{EraseTime{2 * kib, milliseconds(40)}};
constexpr std::array f7_erase{EraseTime{32 * kib, milliseconds(250)},
                              EraseTime{128 * kib, milliseconds(1000)},
                              EraseTime{256 * kib, milliseconds(2000)}};
constexpr std::array g0_g4_l4_erase{EraseTime{2 * kib, milliseconds(22)}};
constexpr std::array h7_erase{EraseTime{128 * kib, milliseconds(2000)}};
constexpr std::array l0_erase{EraseTime{128, microseconds(3200)}};
constexpr std::array l1_erase{EraseTime{256, microseconds(3280)}};
constexpr std::array wb_erase{EraseTime{4 * kib, milliseconds(22)}};

// F1: RDP, USER, Data0, Data1, WRP0..3, each byte with its complement; one
// WRP bit per 4 KiB, the last bit covering the rest. F2/F4: USER, RDP, then
// nWRP with one bit per sector. G0/L4: FLASH_OPTR (RDP in its low byte),
// then the WRP1A area as start and end page. The other families keep the
// F1 block, as the simulator always modelled it.
constexpr OptionLayout f1_options{.bytes = 16,
                                  .rdp_offset = 0,
                                  .rdp_level0 = 0xA5,
                                  .complemented = true,
                                  .wrp = OptionLayout::Wrp::bits,
                                  .wrp_offset = 8,
                                  .wrp_bytes = 4,
                                  .wrp_group_bytes = 4 * kib};
constexpr OptionLayout f2_f4_options{.bytes = 16,
                                     .rdp_offset = 1,
                                     .rdp_level0 = 0xAA,
                                     .complemented = false,
                                     .wrp = OptionLayout::Wrp::bits,
                                     .wrp_offset = 8,
                                     .wrp_bytes = 2,
                                     .wrp_group_bytes = 0};
constexpr OptionLayout g0_l4_options{.bytes = 0x20,
                                     .rdp_offset = 0,
                                     .rdp_level0 = 0xAA,
                                     .complemented = false,
                                     .wrp = OptionLayout::Wrp::area,
                                     .wrp_offset = 0x18,
                                     .wrp_bytes = 2,
                                     .wrp_group_bytes = 0};

constexpr Family f1{
    .name = "F1",
    .bootloader_version = 0x22,
    .write_unit = 2,
    .flash_size_address = 0x1FFF'F7E0,
    .unique_id_address = 0x1FFF'F7E8,
    .ram_size_after_flash_size = true,
    .system_memory_base = 0x1FFF'F000,
    .system_memory_bytes = 0x800,
    .option_bytes_address = 0x1FFF'F800,
    .options = &f1_options,
    .bootloader_ram_bytes = 0x200,
    .erase_times = f1_erase,
    .mass_erase_time = mass_erase_time,
    .program_time = halfword_program_time,
};
constexpr Family f0{
    .name = "F0",
    .bootloader_version = 0x31,
    .write_unit = 2,
    .flash_size_address = 0x1FFF'F7CC,
    .unique_id_address = 0x1FFF'F7AC,
    .ram_size_after_flash_size = false,
    .system_memory_base = 0x1FFF'EC00,
    .system_memory_bytes = 0xC00,
    .option_bytes_address = 0x1FFF'F800,
    .options = &f1_options,
    .bootloader_ram_bytes = 0x800,
    .erase_times = f0_erase,
    .mass_erase_time = milliseconds(40),
    .program_time = microseconds(53),
};
constexpr Family f2{
    .name = "F2",
    .bootloader_version = 0x31,
    .write_unit = 4,
    .flash_size_address = 0x1FFF'7A22,
    .unique_id_address = 0x1FFF'7A10,
    .ram_size_after_flash_size = false,
    .system_memory_base = 0x1FFF'0000,
    .system_memory_bytes = 0x7800,
    .option_bytes_address = 0x1FFF'C000,
    .options = &f2_f4_options,
    .bootloader_ram_bytes = 0x2000,
    .erase_times = f2_f4_erase,
    .mass_erase_time = milliseconds(16'000),
    .program_time = microseconds(16),
};
constexpr Family f3{
    .name = "F3",
    .bootloader_version = 0x31,
    .write_unit = 2,
    .flash_size_address = 0x1FFF'F7CC,
    .unique_id_address = 0x1FFF'F7AC,
    .ram_size_after_flash_size = false,
    .system_memory_base = 0x1FFF'D800,
    .system_memory_bytes = 0x2000,
    .option_bytes_address = 0x1FFF'F800,
    .options = &f1_options,
    .bootloader_ram_bytes = 0x1800,
    .erase_times = f3_erase,
    .mass_erase_time = milliseconds(40),
    .program_time = microseconds(60),
};
constexpr Family f4{
    .name = "F4",
    .bootloader_version = 0x31,
    .write_unit = 4,
    .flash_size_address = 0x1FFF'7A22,
    .unique_id_address = 0x1FFF'7A10,
    .ram_size_after_flash_size = false,
    .system_memory_base = 0x1FFF'0000,
    .system_memory_bytes = 0x7800,
    .option_bytes_address = 0x1FFF'C000,
    .options = &f2_f4_options,
    .bootloader_ram_bytes = 0x2000,
    .erase_times = f2_f4_erase,
    .mass_erase_time = milliseconds(16'000),
    .program_time = microseconds(16),
};
constexpr Family f7{
    .name = "F7",
    .bootloader_version = 0x31,
    .write_unit = 4,
    .flash_size_address = 0x1FF0'F442,
    .unique_id_address = 0x1FF0'F420,
    .ram_size_after_flash_size = false,
    .system_memory_base = 0x1FF0'0000,
    .system_memory_bytes = 0xEDC0,
    .option_bytes_address = 0x1FFF'0000,
    .options = &f1_options,
    .bootloader_ram_bytes = 0x4000,
    .erase_times = f7_erase,
    .mass_erase_time = milliseconds(8000),
    .program_time = microseconds(16),
};
constexpr Family g0{
    .name = "G0",
    .bootloader_version = 0x31,
    .write_unit = 8,
    .flash_size_address = 0x1FFF'75E0,
    .unique_id_address = 0x1FFF'7590,
    .ram_size_after_flash_size = false,
    .system_memory_base = 0x1FFF'0000,
    .system_memory_bytes = 0x7000,
    .option_bytes_address = 0x1FFF'7800,
    .options = &g0_l4_options,
    .bootloader_ram_bytes = 0x1000,
    .erase_times = g0_g4_l4_erase,
    .mass_erase_time = milliseconds(22),
    .program_time = microseconds(85),
};
constexpr Family g4{
    .name = "G4",
    .bootloader_version = 0x31,
    .write_unit = 8,
    .flash_size_address = 0x1FFF'75E0,
    .unique_id_address = 0x1FFF'7590,
    .ram_size_after_flash_size = false,
    .system_memory_base = 0x1FFF'0000,
    .system_memory_bytes = 0x7000,
    .option_bytes_address = 0x1FFF'7800,
    .options = &f1_options,
    .bootloader_ram_bytes = 0x4000,
    .erase_times = g0_g4_l4_erase,
    .mass_erase_time = milliseconds(22),
    .program_time = microseconds(82),
};
constexpr Family h7{
    .name = "H7",
    .bootloader_version = 0x31,
    .write_unit = 32,
    .flash_size_address = 0x1FF1'E880,
    .unique_id_address = 0x1FF1'E800,
    .ram_size_after_flash_size = false,
    .system_memory_base = 0x1FF0'0000,
    .system_memory_bytes = 0x20000,
    .option_bytes_address = 0x5200'201C,
    .options = &f1_options,
    .bootloader_ram_bytes = 0x4000,
    .erase_times = h7_erase,
    .mass_erase_time = milliseconds(16'000),
    .program_time = microseconds(200),
};
constexpr Family l0{
    .name = "L0",
    .bootloader_version = 0x31,
    .write_unit = 4,
    .flash_size_address = 0x1FF8'007C,
    .unique_id_address = 0x1FF8'0050,
    .ram_size_after_flash_size = false,
    .system_memory_base = 0x1FF0'0000,
    .system_memory_bytes = 0x1000,
    .option_bytes_address = 0x1FF8'0000,
    .options = &f1_options,
    .bootloader_ram_bytes = 0x1000,
    .erase_times = l0_erase,
    .mass_erase_time = milliseconds(1638),
    .program_time = microseconds(200),
    .erased_byte = 0x00,
};
constexpr Family l1{
    .name = "L1",
    .bootloader_version = 0x31,
    .write_unit = 4,
    .flash_size_address = 0x1FF8'00CC,
    .unique_id_address = 0x1FF8'00D0,
    .ram_size_after_flash_size = false,
    .system_memory_base = 0x1FF0'0000,
    .system_memory_bytes = 0x2000,
    .option_bytes_address = 0x1FF8'0000,
    .options = &f1_options,
    .bootloader_ram_bytes = 0x1000,
    .erase_times = l1_erase,
    .mass_erase_time = milliseconds(6717),
    .program_time = microseconds(103),
    .erased_byte = 0x00,
};
constexpr Family l4{
    .name = "L4",
    .bootloader_version = 0x31,
    .write_unit = 8,
    .flash_size_address = 0x1FFF'75E0,
    .unique_id_address = 0x1FFF'7590,
    .ram_size_after_flash_size = false,
    .system_memory_base = 0x1FFF'0000,
    .system_memory_bytes = 0x7000,
    .option_bytes_address = 0x1FFF'7800,
    .options = &g0_l4_options,
    .bootloader_ram_bytes = 0x3000,
    .erase_times = g0_g4_l4_erase,
    .mass_erase_time = milliseconds(22),
    .program_time = microseconds(82),
};
constexpr Family wb{
    .name = "WB",
    .bootloader_version = 0x31,
    .write_unit = 8,
    .flash_size_address = 0x1FFF'75E0,
    .unique_id_address = 0x1FFF'7590,
    .ram_size_after_flash_size = false,
    .system_memory_base = 0x1FFF'0000,
    .system_memory_bytes = 0x7000,
    .option_bytes_address = 0x1FFF'8000,
    .options = &f1_options,
    .bootloader_ram_bytes = 0x4000,
    .erase_times = wb_erase,
    .mass_erase_time = milliseconds(22),
    .program_time = microseconds(82),
};

constexpr std::array f4_1m{UnitRun{16 * kib, 4}, UnitRun{64 * kib, 1}, UnitRun{128 * kib, 7}};
constexpr std::array f2_128k{UnitRun{16 * kib, 4}, UnitRun{64 * kib, 1}};
constexpr std::array f7_1m{UnitRun{32 * kib, 4}, UnitRun{128 * kib, 1}, UnitRun{256 * kib, 3}};
constexpr std::array h7_2m{UnitRun{128 * kib, 16}};

// Parts of one density class share a PID and differ only in flash size.
// The F1 parts come first: the first is the default.
constexpr std::array products{
    Product{"f103c8", 0x410, 64 * kib, 1 * kib, 20 * kib, &f1},
    Product{"f103c6", 0x412, 32 * kib, 1 * kib, 10 * kib, &f1},
    Product{"f103cb", 0x410, 128 * kib, 1 * kib, 20 * kib, &f1},
    Product{"f103rb", 0x410, 128 * kib, 1 * kib, 20 * kib, &f1},
    Product{"f103rc", 0x414, 256 * kib, 2 * kib, 64 * kib, &f1},
    Product{"f103rd", 0x414, 384 * kib, 2 * kib, 64 * kib, &f1},
    Product{"f103re", 0x414, 512 * kib, 2 * kib, 64 * kib, &f1},
    Product{"f100rb", 0x420, 128 * kib, 1 * kib, 8 * kib, &f1},
    Product{"f030r8", 0x440, 64 * kib, 1 * kib, 8 * kib, &f0},
    Product{"f205rb", 0x411, 128 * kib, 16 * kib, 64 * kib, &f2, f2_128k},
    Product{"f303re", 0x446, 512 * kib, 2 * kib, 64 * kib, &f3},
    Product{"f407vg", 0x413, 1024 * kib, 16 * kib, 128 * kib, &f4, f4_1m},
    Product{"f746zg", 0x449, 1024 * kib, 32 * kib, 320 * kib, &f7, f7_1m},
    Product{"g071rb", 0x460, 128 * kib, 2 * kib, 36 * kib, &g0},
    Product{"g474re", 0x469, 512 * kib, 2 * kib, 96 * kib, &g4, {}, 2},
    Product{"h743zi", 0x450, 2048 * kib, 128 * kib, 128 * kib, &h7, h7_2m, 2},
    Product{"l053r8", 0x417, 64 * kib, 128, 8 * kib, &l0},
    Product{"l152re", 0x437, 512 * kib, 256, 80 * kib, &l1, {}, 2},
    Product{"l476rg", 0x415, 1024 * kib, 2 * kib, 96 * kib, &l4, {}, 2},
    Product{"wb55rg", 0x495, 1024 * kib, 4 * kib, 192 * kib, &wb},
};

bool same_name(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

Duration Family::erase_time(std::uint32_t unit_bytes) const {
    const auto it = std::ranges::find(erase_times, unit_bytes, &EraseTime::unit_bytes);
    return it != erase_times.end() ? it->time : erase_times.back().time;
}

std::span<const Product> all_products() {
    return products;
}

std::optional<Product> find_product(std::string_view name) {
    auto it =
        std::ranges::find_if(products, [&](const Product& p) { return same_name(p.name, name); });
    if (it == products.end()) {
        return std::nullopt;
    }
    return *it;
}

std::optional<Product> find_product(std::uint16_t pid, std::uint32_t flash_kib) {
    auto it = std::ranges::find_if(products, [&](const Product& p) {
        return p.pid == pid && p.flash_bytes == flash_kib * kib;
    });
    if (it == products.end()) {
        return std::nullopt;
    }
    return *it;
}

}  // namespace stm32sim
