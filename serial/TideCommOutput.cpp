// Output: the send ring, filled by the caller and cut into chunks by the dispatch thread.
#include <cstring>

#include "TideCommInternal.h"

namespace {

TideCommPortRecord* OpenRecord(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr && record->commHandle != nullptr ? record : nullptr;
}

TideCommPortRecord* ClosedRecord(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr && record->commHandle == nullptr ? record : nullptr;
}

}  // namespace

int HandleWriteCommData(TideCommPortRecord* record, const char* data, int length) {
    const int mask = record->outBufferSize - 1;
    const int readIndex = record->sendReadIndex.load(std::memory_order_acquire);
    int writeIndex = record->sendWriteIndex.load(std::memory_order_relaxed);
    const int backlog = (writeIndex - readIndex) & mask;
    if (backlog != 0) {
        TideCommPostDispatch(record, TIDECOMM_MSG_SEND_ERROR, static_cast<WPARAM>(record->port),
                             reinterpret_cast<LPARAM>(record));
    }
    TideCommTrackSendBacklog(record, backlog + length);
    if (data == nullptr || backlog + length <= 0) {
        return 1;
    }
    // The ring keeps one slot free, so a full ring never reads as empty: bytes that do not fit
    // are dropped and reported, and what is already queued still goes out.
    const int room = mask - backlog;
    const int queued = length < room ? length : room;
    for (int i = 0; i < queued; ++i) {
        record->sendRing[writeIndex] = data[i];
        writeIndex = (writeIndex + 1) & mask;
    }
    // Sequentially consistent with the dispatch thread's sendChunkLength store and re-check:
    // either it sees these bytes or this thread sees no chunk in flight and wakes it.
    record->sendWriteIndex.store(writeIndex);
    if (queued < length) {
        TideCommPostDispatch(record, TIDECOMM_MSG_SEND_ERROR, static_cast<WPARAM>(record->port),
                             reinterpret_cast<LPARAM>(record));
    }
    if (record->sendChunkLength.load() != 0) {
        return 1;  // the dispatch thread takes the new bytes when the chunk in flight is done
    }
    if (!TideCommPostDispatch(record, TIDECOMM_MSG_WRITE, static_cast<WPARAM>(record->port),
                              reinterpret_cast<LPARAM>(record))) {
        return 1;
    }
    TideCommShowWriteStart(record);
    return 0;
}

int TideCommHandleWriteData(TideCommPortRecord* record) {
    const int mask = record->outBufferSize - 1;
    int readIndex = record->sendReadIndex.load(std::memory_order_relaxed);
    for (;;) {
        const int writeIndex = record->sendWriteIndex.load();
        int length = 0;
        while (length < record->outputLen && readIndex != writeIndex) {
            record->sendChunk[length++] = record->sendRing[readIndex];
            readIndex = (readIndex + 1) & mask;
        }
        record->sendReadIndex.store(readIndex, std::memory_order_release);
        record->sendChunkLength.store(length);
        if (length > 0) {
            if (!PostThreadMessageA(record->writeThreadId, TIDECOMM_MSG_WRITE,
                                    static_cast<WPARAM>(length),
                                    reinterpret_cast<LPARAM>(record->sendChunk))) {
                record->sendChunkLength = 0;
                return 0;
            }
            record->sendIdle = 0;
            return 1;
        }
        // A caller that queued while the last chunk was in flight left its bytes to us; it
        // stored its write index before looking at sendChunkLength, so one more look finds them.
        if (record->sendWriteIndex.load() == readIndex) {
            break;
        }
    }
    record->sendIdle = 1;
    TideCommPostDispatch(record, TIDECOMM_MSG_SEND_EMPTY, static_cast<WPARAM>(record->port),
                         reinterpret_cast<LPARAM>(record));
    return 1;
}

int TideComm_OutputBuffer(int port, const char* data, int length) {
    TideCommPortRecord* record = OpenRecord(port);
    if (record == nullptr) {
        return 1;
    }
    record->sendCount += length;
    TideCommShowSendCount(record);
    if (record->sThreshold > 0) {
        record->sThreshold = 0;
        TideCommPostDispatch(record, TIDECOMM_MSG_SEND, static_cast<WPARAM>(port),
                             reinterpret_cast<LPARAM>(record));
    }
    return HandleWriteCommData(record, data, length);
}

int TideComm_Output(int port, const char* text) {
    if (text == nullptr) {
        return TideComm_OutputBuffer(port, nullptr, 0);
    }
    return TideComm_OutputBuffer(port, text, static_cast<int>(std::strlen(text)));
}

int TideComm_SetOutputLen(int port, int n) {
    TideCommPortRecord* record = ClosedRecord(port);
    if (record == nullptr || n <= 0) {
        return 1;
    }
    record->outputLen = n;
    return 0;
}

int TideComm_SetOutBuffersize(int port, int n) {
    TideCommPortRecord* record = ClosedRecord(port);
    // The ring wraps with n - 1 as its mask: any other size would scatter the bytes.
    if (record == nullptr || n < 2 || (n & (n - 1)) != 0) {
        return 1;
    }
    record->outBufferSize = n;
    return 0;
}

int TideComm_SetSThreshold(int port, int n) {
    TideCommPortRecord* record = ClosedRecord(port);
    if (record == nullptr) {
        return 1;
    }
    record->sThreshold = n;
    return 0;
}

int TideComm_GetSThreshold(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr ? record->sThreshold : 0;
}

int TideComm_GetSendCount(int port) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    return record != nullptr ? record->sendCount.load() : -1;
}

int TideComm_SetSendCount(int port, int n) {
    TideCommPortRecord* record = TideComm_GetStructPtr(port);
    if (record == nullptr || n < 0) {
        return 1;
    }
    record->sendCount = n;
    return 0;
}
