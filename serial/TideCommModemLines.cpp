// Direct modem-line queries: the device's view and the legacy UART register.
#include <rte.h>

#include "TideComm.h"

namespace {

TideCommPortRecord* OpenRecord(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr && record->commHandle != nullptr ? record : nullptr;
}

int LineHolding(int port, DWORD bit) {
    DWORD status = 0;
    return TideComm_GetModemState(port, &status) == 0 && (status & bit) != 0 ? 1 : 0;
}

// The UART's modem status register sits 6 above its base address.
constexpr int kModemStatusRegister = 6;

}  // namespace

int TideComm_GetState(int port, DCB* dcb) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr || dcb == nullptr) {
        return 1;
    }
    return GetCommState(record->commHandle, dcb) ? 0 : 1;
}

int TideComm_GetModemState(int port, DWORD* status) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr || status == nullptr) {
        return 1;
    }
    return GetCommModemStatus(record->commHandle, status) ? 0 : 1;
}

int TideComm_GetCTSHolding(int port) {
    return LineHolding(port, MS_CTS_ON);
}
int TideComm_GetDSRHolding(int port) {
    return LineHolding(port, MS_DSR_ON);
}
int TideComm_GetRINGHolding(int port) {
    return LineHolding(port, MS_RING_ON);
}
int TideComm_GetCDHolding(int port) {
    return LineHolding(port, MS_RLSD_ON);
}

int TideComm_GetModemPin(int port, int mask) {
    const TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr) {
        return 0;
    }
    return (RTE_inp(record->ioBase + kModemStatusRegister) & mask) != 0 ? 1 : 0;
}

int TideComm_GetCTSPin(int port) {
    return TideComm_GetModemPin(port, MS_CTS_ON);
}
int TideComm_GetDSRPin(int port) {
    return TideComm_GetModemPin(port, MS_DSR_ON);
}
int TideComm_GetRINGPin(int port) {
    return TideComm_GetModemPin(port, MS_RING_ON);
}
int TideComm_GetCDPin(int port) {
    return TideComm_GetModemPin(port, MS_RLSD_ON);
}

int TideComm_SetBREAKEnable(int port, int on) {
    return TideComm_SetEscape(port, on != 0 ? SETBREAK : CLRBREAK);
}
