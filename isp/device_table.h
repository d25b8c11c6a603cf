// Facts about STM32 parts, keyed by the product ID their bootloader reports.
// The rows live in data/stm32_devices.json; this is the one place the
// program learns them from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace isp {

enum class EraseCommand : std::uint8_t { kErase = 0x43, kExtendedErase = 0x44 };

struct FlashBank {
    std::uint32_t base = 0;
    // Sizes of the bank's erase units (pages or sectors) in order; uniform
    // pages are listed once per page.
    std::vector<std::uint32_t> unitSizes;
};

// Where a family keeps protection in its option bytes (offsets from
// optionBytesAddr). Write protection is active-low bits, one per group, or
// one area from a start page (wrpOffset) to an end page (wrpOffset +
// wrpBytes). Groups are numbered from the start of flash. A complemented block follows every byte
// with its complement.
struct OptionLayout {
    enum class Wrp { kBits, kArea };
    std::uint32_t rdp = 0;
    std::uint8_t rdpLevel0 = 0xAA;  // the level byte of an unprotected chip
    std::uint32_t user = 0;
    std::uint32_t userBytes = 1;
    bool complemented = false;
    Wrp wrp = Wrp::kBits;
    std::uint32_t wrpOffset = 0;
    std::uint32_t wrpBytes = 0;
    std::uint32_t wrpGroupBytes = 0;  // bits: flash per bit; 0 for one bit per erase unit
    // bits: how many of them are write-protection bits (the F2/F4 word has 12
    // sectors' bits; its top bits are unused or, on later F4 parts, SPRMOD);
    // 0 for all of them.
    std::uint32_t wrpBits = 0;
};

struct DeviceInfo {
    std::uint16_t productId = 0;
    std::string name;    // "STM32F10xxx medium-density"
    std::string family;  // "F1"
    std::uint32_t flashBase = 0x08000000;
    std::uint32_t flashSizeMax = 0;   // bytes, the largest part of this ID
    std::uint32_t flashSizeAddr = 0;  // 16-bit word holding the size in KiB
    std::uint32_t uidAddr = 0;        // 96-bit unique ID
    bool sectors = false;             // erase units are sectors (mixed sizes)
    std::vector<FlashBank> banks;     // layout of the largest part
    std::uint32_t writeUnit = 2;      // bytes programmed at once
    std::uint8_t erasedByte = 0xFF;   // what erased flash reads (0x00 on L0/L1)
    std::uint32_t ramSize = 0;
    std::uint32_t bootloaderRamReserved = 0;  // bytes from the start of RAM
    std::uint32_t optionBytesAddr = 0;
    std::uint32_t optionBytesSize = 0;
    std::optional<OptionLayout> optionLayout;  // families decoded by name
    EraseCommand erase = EraseCommand::kErase;
    std::string source;  // public document the row comes from
};

class DeviceTable {
  public:
    // Reads the table; an error names the file, the row and the fault.
    static std::optional<DeviceTable> load(const std::string& path, std::string* error);
    // The table installed with the program: beside the executable (the
    // build tree), in ../share/chipload relative to it, or in the data
    // folder of the install prefix. Empty when none of them loads; then
    // builtinProblem() says why.
    static const DeviceTable& builtin();
    static const std::string& builtinProblem();

    const DeviceInfo* find(std::uint16_t productId) const;
    const std::vector<DeviceInfo>& rows() const { return rows_; }

  private:
    std::vector<DeviceInfo> rows_;
};

// Erase units of a part whose flash is flashSize bytes (the size word's
// value, which may be less than flashSizeMax): the units that fit, in order.
std::vector<std::uint32_t> eraseUnitsFor(const DeviceInfo& device, std::uint32_t flashSize);

}  // namespace isp
