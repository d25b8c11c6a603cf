// Comm backend over a POSIX tty (a serial adapter, an on-board UART or a
// pseudo-terminal, which has no modem lines).
#pragma once

#include <memory>
#include <string>

#include "comm/comm_backend.h"

namespace chipload::win32::comm {

// Opens path exclusively (flock against other processes, TIOCEXCL against
// unprivileged ones) in raw mode. Null with error set on failure.
std::unique_ptr<CommBackend> openTtyBackend(const std::string& path, DWORD& error);

}  // namespace chipload::win32::comm
