// What the server's line and modem notifications mean to a Windows comm
// device.
#pragma once

#include <windows.h>

#include <cstdint>

namespace chipload::rfc2217 {

struct CommEventReport {
    DWORD events = 0;      // EV_*
    DWORD lineErrors = 0;  // CE_*
};

// EV_CTS, EV_DSR, EV_RLSD, EV_RING for each line that changed between two
// NOTIFY-MODEMSTATE values or that the latest one flags as changed.
DWORD modemChangeEvents(std::uint8_t previous, std::uint8_t current);

// The first notification has nothing to compare with: only its own flags count.
DWORD modemChangeEvents(std::uint8_t current);

// MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON from a NOTIFY-MODEMSTATE value.
DWORD modemStatusBits(std::uint8_t state);

// EV_BREAK with CE_BREAK, EV_ERR with CE_FRAME, CE_RXPARITY, CE_OVERRUN.
CommEventReport lineStateEvents(std::uint8_t state);

}  // namespace chipload::rfc2217
