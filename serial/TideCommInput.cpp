// Input: borrowing, copying and releasing the frame that the framing left waiting.
#include "TideCommInternal.h"

namespace {

TideCommPortRecord* OpenRecord(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr && record->commHandle != nullptr ? record : nullptr;
}

// Marks the waiting frame as taken (a negative count) and gives its length; 0 when none waits.
int TakeFrame(TideCommPortRecord* record) {
    int count = record->frameCount.load(std::memory_order_acquire);
    while (count > 0 &&
           !record->frameCount.compare_exchange_weak(count, -count, std::memory_order_acquire)) {
    }
    return count < 0 ? -count : count;
}

}  // namespace

int TideComm_InputBuffer(int port, char** data, int* length) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr) {
        return 1;
    }
    const int count = TakeFrame(record);
    if (count == 0) {
        return 1;
    }
    record->receiveCount += count;
    *data = record->frameBuffer;
    *length = count;
    return 0;
}

int TideComm_Input(int port, char* destination, int* length) {
    destination[0] = 0;
    *length = 0;
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr) {
        return 1;
    }
    const int count = record->commHandle != nullptr ? TakeFrame(record) : 0;
    if (count == 0) {
        TideComm_ClearInBufferCount(port);
        return 1;
    }
    *length = count;
    // String-copy semantics: the copy stops at the first zero byte, the rest is zero-filled.
    bool ended = false;
    for (int i = 0; i < count; ++i) {
        ended = ended || record->frameBuffer[i] == 0;
        destination[i] = ended ? 0 : record->frameBuffer[i];
    }
    destination[count] = 0;
    TideComm_ClearInBufferCount(port);
    return 0;
}

int TideComm_GetInBufferCount(int port, int* out) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr) {
        return 1;
    }
    const int count = record->frameCount.load(std::memory_order_acquire);
    *out = count < 0 ? -count : count;
    return 0;
}

int TideComm_ClearInBufferCount(int port) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr) {
        return 1;
    }
    int taken = record->frameCount.load(std::memory_order_relaxed);
    if (taken < 0) {
        record->frameCount.compare_exchange_strong(taken, 0, std::memory_order_release);
    }
    int result = 1;
    if (TideCommPostDispatch(record, TIDECOMM_MSG_RESUME_FRAMING, static_cast<WPARAM>(port),
                             reinterpret_cast<LPARAM>(record))) {
        TideCommShowInputTaken(record);
        result = 0;
    }
    record->receivePending = 0;
    return result;
}

int TideComm_GetReceiveCount(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr ? record->receiveCount.load() : -1;
}

long TideComm_GetDroppedCount(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr ? record->droppedCount.load() : 0;
}

int TideComm_SetReceiveCount(int port, int n) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr || n < 0) {
        return 1;
    }
    record->receiveCount = n;
    return 0;
}
