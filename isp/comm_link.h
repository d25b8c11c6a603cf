// The client's link over a comm device of the project's serial layer: a
// tty path, a /dev/serial/by-id name, rfc2217://HOST:PORT, or COMn through
// the port map. The line is set to 8 data bits, even parity and one stop
// bit, as the bootloader requires.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "link.h"

namespace isp {

struct CommOpenError {
    enum class Kind {
        kNotFound,      // no such device, or COMn maps to none
        kAccessDenied,  // permission, or already open elsewhere
        kConfigFailed,  // the line settings were refused (baud rate)
        kOther,
    } kind = Kind::kOther;
    std::uint32_t systemError = 0;  // the serial layer's error code
};

// The device a port name stands for: COMn through the port map, anything
// else as given ("" when COMn maps to nothing).
std::string resolvePortName(const std::string& port);

// Opens and configures the port; nullptr with *error filled on failure.
std::unique_ptr<Link> openCommLink(const std::string& port, std::uint32_t baud,
                                   CommOpenError* error);

}  // namespace isp
