// Input settings that steer the receive framing. Those that size buffers are refused while the
// port is open: the buffers are sized from them at open.
#include "TideCommInternal.h"

namespace {

TideCommPortRecord* ClosedRecord(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr && record->commHandle == nullptr ? record : nullptr;
}

}  // namespace

bool TideCommInputLenFits(const TideCommPortRecord* record, int n) {
    return n > 0 && n < record->inBufferSize / 2;
}

int TideComm_SetInputMode(int port, int mode) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record != nullptr) {
        record->inputMode = mode;
    }
    return 1;
}

int TideComm_GetInputMode(int port, int* out) {
    const TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record != nullptr && out != nullptr) {
        *out = record->inputMode;
    }
    return 1;
}

int TideComm_SetInputLen(int port, int n) {
    TideCommPortRecord* record = ClosedRecord(port);
    if (record == nullptr || !TideCommInputLenFits(record, n)) {
        return 1;
    }
    record->inputLen = n;
    return 0;
}

int TideComm_GetInputLen(int port) {
    const TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr ? record->inputLen.load() : -1;
}

int TideComm_SetReceiveCheck(int port, int kind) {
    TideCommPortRecord* record = ClosedRecord(port);
    if (record == nullptr) {
        return 1;
    }
    record->receiveCheck = kind;
    return 0;
}

int TideComm_GetReceiveCheck(int port, int* out) {
    const TideCommPortRecord* record = ClosedRecord(port);
    if (record == nullptr || out == nullptr) {
        return 1;
    }
    *out = record->receiveCheck;
    return 0;
}

int TideComm_SetRThreshold(int port, int n) {
    TideCommPortRecord* record = ClosedRecord(port);
    if (record == nullptr) {
        return 1;
    }
    record->rThreshold = n;
    return 0;
}

int TideComm_GetRThreshold(int port) {
    const TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr ? record->rThreshold.load() : 0;
}

int TideComm_SetInBuffersize(int port, int size) {
    TideCommPortRecord* record = ClosedRecord(port);
    const bool powerOfTwo = size >= 2 && (size & (size - 1)) == 0;
    if (record == nullptr || !powerOfTwo) {
        return 1;
    }
    record->inBufferSize = size;
    return 0;
}
