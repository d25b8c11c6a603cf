// Which device a COM number stands for: a tty path or rfc2217://HOST:PORT.
#pragma once

#include <string>

namespace chipload::portmap {

// From `--com N=DEVICE`; false (nothing stored) for N outside 1..10 or an
// empty device.
bool assign(int com, const std::string& device);

// The explicit assignment, else the environment variable CHIPLOAD_COMn, else
// the stable default (USB and ACM adapters by their /dev/serial/by-id names,
// then on-board ports); "" when there is none.
std::string resolve(int com);

void clearAssignments();

}  // namespace chipload::portmap
