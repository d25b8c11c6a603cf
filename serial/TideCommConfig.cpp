// Configuring a port: the device control block, time-outs, modem control lines and lookups.
#include <cstdio>

#include "TideCommInternal.h"

namespace {

TideCommPortRecord* OpenRecord(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr && record->commHandle != nullptr ? record : nullptr;
}

// Applies the stored block; a refusal, or a closed port, is reported as "not open".
int ApplyDcb(TideCommPortRecord* record) {
    if (TideComm_SetState(record->port) != 0) {
        TideCommErrorEvent(record, TIDECOMM_ERR_NOT_OPEN);
        return 1;
    }
    return 0;
}

}  // namespace

int TideComm_SetState(int port) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr) {
        return 1;
    }
    DCB device;
    if (!GetCommState(record->commHandle, &device)) {
        return 1;
    }
    device = record->dcb;
    device.DCBlength = sizeof(DCB);
    return SetCommState(record->commHandle, &device) ? 0 : 1;
}

#define TIDECOMM_DEFINE_DCB_SETTER(name, statement)               \
    int name(int port, int value) {                               \
        TideCommPortRecord* record = TideComm_GetStructPtr(port); \
        if (record == nullptr) {                                  \
            return 1;                                             \
        }                                                         \
        DCB& dcb = record->dcb;                                   \
        statement;                                                \
        return ApplyDcb(record);                                  \
    }

#define LOW_BIT(v) (static_cast<DWORD>(v) & 1u)
#define LOW_BYTE(v) static_cast<char>(static_cast<unsigned>(v) & 0xFFu)
#define LOW_WORD(v) static_cast<WORD>(static_cast<unsigned>(v) & 0xFFFFu)

TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetBaudRate, dcb.BaudRate = static_cast<DWORD>(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetParityCheck, dcb.fParity = LOW_BIT(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetParity, dcb.Parity = static_cast<BYTE>(value & 0xFF))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetStopBits, dcb.StopBits = static_cast<BYTE>(2 * value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetXonChar, dcb.XonChar = LOW_BYTE(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetXoffChar, dcb.XoffChar = LOW_BYTE(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetXonLimit, dcb.XonLim = LOW_WORD(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetXoffLimit, dcb.XoffLim = LOW_WORD(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetReplacedChar, dcb.EvtChar = LOW_BYTE(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetIgnoreNullChar, dcb.fAbortOnError = LOW_BIT(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetTxContinueOnXoff, dcb.fTXContinueOnXoff = LOW_BIT(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetDsrSensitivity, dcb.fDsrSensitivity = LOW_BIT(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetOutx_XonXoffFlow, dcb.fOutX = LOW_BIT(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetInx_XonXoffFlow, dcb.fInX = LOW_BIT(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetReplaceWhenParityError, dcb.fErrorChar = LOW_BIT(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetOutx_CtsFlow, dcb.fOutxCtsFlow = LOW_BIT(value))
TIDECOMM_DEFINE_DCB_SETTER(TideComm_SetOutx_DsrFlow, dcb.fOutxDsrFlow = LOW_BIT(value))

int TideComm_SetByteSize(int port, int value) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr || value < 5 || value > 8) {
        return 1;
    }
    record->dcb.ByteSize = static_cast<BYTE>(value);
    return ApplyDcb(record);
}

int TideComm_Settings(int port, const char* modeText) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr || record->commHandle != nullptr) {
        return 1;
    }
    BuildCommDCBA(modeText, &record->dcb);
    return 0;
}

#define TIDECOMM_DEFINE_TIMEOUT_SETTER(name, field)               \
    int name(int port, unsigned int value) {                      \
        TideCommPortRecord* record = TideComm_GetStructPtr(port); \
        if (record != nullptr) {                                  \
            record->field = value;                                \
        }                                                         \
        return 1;                                                 \
    }

TIDECOMM_DEFINE_TIMEOUT_SETTER(TideComm_SetReadIntervalTimeout, readIntervalTimeout)
TIDECOMM_DEFINE_TIMEOUT_SETTER(TideComm_SetReadTotalTimeoutMultiplier, readTotalTimeoutMultiplier)
TIDECOMM_DEFINE_TIMEOUT_SETTER(TideComm_SetReadTotalTimeoutConstant, readTotalTimeoutConstant)
TIDECOMM_DEFINE_TIMEOUT_SETTER(TideComm_SetWriteTotalTimeoutMultiplier, writeTotalTimeoutMultiplier)
TIDECOMM_DEFINE_TIMEOUT_SETTER(TideComm_SetWriteTotalTimeoutConstant, writeTotalTimeoutConstant)

int TideComm_SetTimeout(int port) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr) {
        return 1;
    }
    COMMTIMEOUTS timeouts;
    if (!GetCommTimeouts(record->commHandle, &timeouts)) {
        return 1;
    }
    timeouts.ReadIntervalTimeout = record->readIntervalTimeout;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    return SetCommTimeouts(record->commHandle, &timeouts) ? 0 : 1;
}

int TideComm_GetTimeout(int port, COMMTIMEOUTS* out) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr) {
        return 1;
    }
    return GetCommTimeouts(record->commHandle, out) ? 0 : 1;
}

namespace {

// Sets the DTR and/or RTS control mode (-1: leave) in the record and on the device.
int ApplyLineControl(TideCommPortRecord* record, int rtsMode, int dtrMode) {
    DCB device;
    if (!GetCommState(record->commHandle, &device)) {
        return 1;
    }
    if (dtrMode >= 0) {
        record->dcb.fDtrControl = static_cast<DWORD>(dtrMode) & 3u;
        device.fDtrControl = record->dcb.fDtrControl;
    }
    if (rtsMode >= 0) {
        record->dcb.fRtsControl = static_cast<DWORD>(rtsMode) & 3u;
        device.fRtsControl = record->dcb.fRtsControl;
    }
    return SetCommState(record->commHandle, &device) ? 0 : 1;
}

}  // namespace

int TideComm_SetDTREnable(int port, int mode) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr || ApplyLineControl(record, -1, mode & 3) != 0) {
        return 1;
    }
    TideCommShowDtrLed(record, mode);
    return 0;
}

int TideComm_SetRTSEnable(int port, int mode) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr || ApplyLineControl(record, mode & 3, -1) != 0) {
        return 1;
    }
    TideCommShowRtsLed(record, mode);
    return 0;
}

int TideComm_SetRTSDTREnable(int port, int rtsMode, int dtrMode) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr) {
        return 1;
    }
    return ApplyLineControl(record, rtsMode & 3, dtrMode & 3);
}

int TideComm_GetDTREnable(int port) {
    TideCommPortRecord* record = OpenRecord(port);
    DCB device;
    if (record == nullptr || !GetCommState(record->commHandle, &device)) {
        return 0;
    }
    record->dcb.fDtrControl = device.fDtrControl;
    return static_cast<int>(device.fDtrControl);
}

int TideComm_GetRTSEnable(int port) {
    TideCommPortRecord* record = OpenRecord(port);
    DCB device;
    if (record == nullptr || !GetCommState(record->commHandle, &device)) {
        return 0;
    }
    record->dcb.fRtsControl = device.fRtsControl;
    return static_cast<int>(device.fRtsControl);
}

int TideComm_SetEscape(int port, int function) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr ||
        !EscapeCommFunction(record->commHandle, static_cast<DWORD>(function))) {
        return 1;
    }
    switch (function) {
        case SETDTR:
            TideCommShowDtrLed(record, 1);
            break;
        case CLRDTR:
            TideCommShowDtrLed(record, 0);
            break;
        case SETRTS:
            TideCommShowRtsLed(record, 1);
            break;
        case CLRRTS:
            TideCommShowRtsLed(record, 0);
            break;
        default:
            break;
    }
    return 0;
}

int TideComm_GetCommName(int port, char* buf) {
    buf[0] = 0;
    if (TideComm_GetStructPtr(port) == nullptr) {
        return 0;
    }
    return std::snprintf(buf, 12, "\\\\.\\COM%d", port);
}

HANDLE TideComm_GetCommFileHandle(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr ? record->commHandle : nullptr;
}

int TideComm_GetHandle(int port, std::intptr_t* out) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr) {
        *out = 0;
        return 1;
    }
    *out = reinterpret_cast<std::intptr_t>(record->commHandle);
    return 0;
}

int TideComm_GetPortOpen(int port) {
    return OpenRecord(port) != nullptr ? 1 : 0;
}

int TideComm_GetCommPort(const char* text) {
    if (text == nullptr || text[0] != 'C' || text[1] != 'O' || text[2] != 'M' || text[3] < '1' ||
        text[3] > '9') {
        return 0;  // also too short: the NUL fails one of the tests
    }
    int number = text[3] - '0';
    if (text[4] >= '0' && text[4] <= '9') {
        number = number * 10 + (text[4] - '0');
    }
    return number <= TIDECOMM_MAX_PORT ? number : 0;
}
