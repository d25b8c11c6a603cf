// What COM1..COM10 stand for, in words an operator can check against the
// adapters on the desk.
#pragma once

#include <filesystem>
#include <string>

namespace chipload::portmap {

// What a device is: "network port (RFC 2217)", "pseudo-terminal", "USB serial
// adapter VID:PID MAKER PRODUCT on /dev/ttyUSB0", "on-board serial port",
// "serial device", or "not present". sysClassTty is normally /sys/class/tty;
// the USB identity comes from the adapter's own sysfs entries.
std::string describeDevice(const std::string& device, const std::filesystem::path& sysClassTty);

// Two lines for each COM number that stands for a device: the device, then
// what it is and where the mapping came from; a hint when there is none.
std::string listing();

}  // namespace chipload::portmap
