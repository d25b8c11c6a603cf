// Line settings of a tty through termios2, which takes any baud rate the
// driver can make. Kept apart because <asm/termbits.h> and <termios.h>
// cannot share a translation unit.
#pragma once

#include <windows.h>

namespace chipload::win32::comm {

// Raw 8-bit input and output, receiver on, modem control lines ignored for
// carrier; the baud rate and framing stay as they were.
DWORD makeRaw(int fd);

DWORD readLineSettings(int fd, bool hasModemLines, DCB& dcb);

// See CommBackend::applySettings. A device that settles on a baud rate more
// than 3% away from the one asked for refuses it (ERROR_INVALID_PARAMETER)
// and keeps its previous settings.
DWORD applyLineSettings(int fd, bool hasModemLines, const DCB& dcb);

}  // namespace chipload::win32::comm
