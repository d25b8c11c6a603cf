// Comm devices are opened exclusively within the process (TIOCEXCL does not
// stop a privileged process from opening a tty twice).
#pragma once

#include <string>

namespace chipload::win32::comm {

// False when the device is already open.
bool claimDevice(const std::string& name);
void releaseDevice(const std::string& name);

}  // namespace chipload::win32::comm
