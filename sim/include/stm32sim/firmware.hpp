// The program in flash running for real: once the chip boots from flash (a
// reset with BOOT0 low, or Go), a launcher may start the flash contents on
// an emulated core and bridge its USART1 to the chip's line.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "stm32sim/product.hpp"

namespace stm32sim {

// One run of a firmware. Destroying it stops the firmware for good.
class RunningFirmware {
  public:
    virtual ~RunningFirmware() = default;
    // Bytes from the host for the firmware's USART receiver.
    virtual void send(std::span<const std::uint8_t> bytes) = 0;
    // Up to `max` of the bytes the firmware has transmitted, oldest first.
    virtual std::vector<std::uint8_t> take(std::size_t max) = 0;
    virtual bool has_output() const = 0;
};

struct FirmwareStart {
    const Product& product;
    std::span<const std::uint8_t> flash;  // the whole flash, copied at once
    std::span<const std::uint8_t> ram;    // the whole RAM, as the bootloader left it
    // Where the core takes its stack pointer and reset vector: the flash
    // base after a reset, the address of a Go command otherwise.
    std::uint32_t vector_table;
    // Called from any thread when output has become available.
    std::function<void()> output_ready;
    // One line per event worth telling (start, exit, the emulator's errors);
    // may be called from any thread; may be empty.
    std::function<void(const std::string&)> log;
};

// Returns nullptr when it cannot run this product (the chip then keeps its
// fixed greeting). A firmware that fails to start later says so in the log
// and stays silent.
using FirmwareLauncher = std::function<std::unique_ptr<RunningFirmware>(const FirmwareStart&)>;

}  // namespace stm32sim
