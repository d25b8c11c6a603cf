// Runs the flash on QEMU's STM32 boards (Debian's qemu-system-arm): the
// flash image is loaded at 0x08000000 (aliased at 0, where the core fetches
// its vector table at reset), the RAM at 0x20000000, and the board's USART1
// is bridged to the chip's line. A Go elsewhere starts the table there.
// What the firmware itself writes to its flash stays in the emulator: the
// bootloader keeps the flash it handed over.
//
//   if (auto why = stm32sim::emulator_unavailable(product)) warn(*why);
//   else if (auto qemu = stm32sim::find_emulator())
//       config.run_firmware = stm32sim::emulator_launcher(*qemu);
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "stm32sim/firmware.hpp"
#include "stm32sim/product.hpp"

namespace stm32sim {

inline constexpr std::string_view emulator_program = "qemu-system-arm";

// The QEMU machine whose chip has this product's bootloader ID, if any.
std::optional<std::string_view> emulator_machine(const Product& product);

// Why this product cannot run on an emulated board; nullopt when it can.
std::optional<std::string> emulator_unavailable(const Product& product);

// qemu-system-arm on PATH, as a path; nullopt when it is not installed.
std::optional<std::string> find_emulator();

// Starts `program` (a path to qemu-system-arm) for products with a machine;
// returns nullptr for the others.
FirmwareLauncher emulator_launcher(std::string program);

}  // namespace stm32sim
