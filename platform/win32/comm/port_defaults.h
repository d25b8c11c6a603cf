// The stable default order of serial devices behind COM1, COM2, ...
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace chipload::portmap {

// USB and ACM adapters first, by their serial/by-id names (sorted), then any
// ttyUSB/ttyACM without one, then on-board UARTs that the kernel found a
// chip for (their sysfs "type" is not 0). devRoot is normally /dev and
// sysClassTty /sys/class/tty.
std::vector<std::string> defaultDevices(const std::filesystem::path& devRoot,
                                        const std::filesystem::path& sysClassTty);

}  // namespace chipload::portmap
