// PANEL_STOPBITS shows the number of stop bits (1 or 2), as the operator and
// the bootloader count them; the serial library takes 0 for one stop bit and
// 1 for two.
#pragma once

inline int StopBitsCode(int stopBits) {
    return stopBits >= 2 ? 1 : 0;
}
