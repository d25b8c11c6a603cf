// Receive framing: appending reads to the receive ring and cutting it into frames.
#include "TideCommFraming.h"

#include <cstdlib>
#include <mutex>

#include "TideComm.h"
#include "TideCommBindings.h"

namespace {

// Flags of one framing step.
constexpr int kRingEmptied = 1;
constexpr int kInputLenReached = 2;
constexpr int kThresholdReached = 4;
constexpr int kEndCharAlone = 8;
constexpr int kStartEndFrame = 16;

enum class PassEnd {
    Announced,  // a frame was announced (or its announcement failed)
    Waiting,    // nothing to cut yet: the bytes stay in the ring
    Dropped,    // bytes were dropped after an error; the rest of the ring can be framed
};

struct PassResult {
    PassEnd end;
    int result;
};

void ForgetFrame(TideCommPortRecord* record) {
    record->frameCount.store(0, std::memory_order_release);
    record->startIndex = -1;
    record->endIndex = -1;
}

void ReportFramingError(TideCommPortRecord* record, int code) {
    record->error = code;
    TideCommPostEventCallback(record->receiveErrorCallback.load(), record->port);
}

PassResult DropFrame(TideCommPortRecord* record, int code) {
    ReportFramingError(record, code);
    ForgetFrame(record);
    return {PassEnd::Dropped, 1};
}

// A frame failing the GPS or Rondo check still goes to an application that listens for receive
// errors; otherwise it is dropped. True when the frame is to be delivered.
bool DeliverDespiteFailedCheck(TideCommPortRecord* record, int code) {
    record->error = code;
    const TideCommEventCallback callback = record->receiveErrorCallback.load();
    if (callback == nullptr) {
        return false;
    }
    TideCommPostEventCallback(callback, record->port);
    return true;
}

PassResult CheckAndDeliver(TideCommPortRecord* record, int length, int flags) {
    const TideCommReceiveCheckFunc checker = record->receiveCheckCallback.load();
    const int kind = record->receiveCheck.load();
    if (checker != nullptr) {
        if (checker(record->port, record->frameBuffer, length) == 0) {
            return DropFrame(record, TIDECOMM_ERR_USER_CHECK);
        }
    } else if (kind == 1 && (flags & kStartEndFrame) != 0) {
        if (TideCommGPSReceiveCheck(record, length) == 0 &&
            !DeliverDespiteFailedCheck(record, TIDECOMM_ERR_GPS)) {
            ForgetFrame(record);
            return {PassEnd::Dropped, 1};
        }
    } else if (kind == 2) {
        if (TideCommRondoReceiveCheck(record, length) == 0 &&
            !DeliverDespiteFailedCheck(record, TIDECOMM_ERR_RONDO)) {
            ForgetFrame(record);
            return {PassEnd::Dropped, 1};
        }
    }
    record->startIndex = -1;
    record->endIndex = -1;
    return {PassEnd::Announced, ReceiveData(record, length)};
}

// Cuts at most one frame from the ring. Runs with framingLock held, with no frame waiting and
// the ring not empty.
PassResult FramePass(TideCommPortRecord* record) {
    const int mask = record->inBufferSize - 1;
    const int capacity = record->frameCapacity;
    const int threshold = record->rThreshold.load();
    const int startChar = record->startChar.load();
    const int endChar = record->endChar.load();
    const int frameLength = record->frameLength.load();
    const int inputLen = record->inputLen.load();
    const auto* ring = reinterpret_cast<const unsigned char*>(record->receiveRing);
    char* frame = record->frameBuffer;

    int read = record->receiveReadIndex.load(std::memory_order_relaxed);
    const auto ringEmpty = [&] {
        return read == record->receiveWriteIndex.load(std::memory_order_acquire);
    };
    const auto consume = [&] {
        read = (read + 1) & mask;
        record->receiveReadIndex.store(read, std::memory_order_release);
    };

    // Every step that ends without flags has found the ring still holding bytes, so the next
    // byte read is always one the read thread wrote.
    int i = 0;
    while (i < capacity) {
        const int b = ring[read];

        if (threshold != 1) {
            if (b == startChar) {
                if (record->startIndex < 0 && record->endIndex < 0) {
                    i = 0;  // the bytes collected before the start are dropped
                    record->startIndex = 0;
                } else if (frameLength == 0) {
                    return DropFrame(record, TIDECOMM_ERR_START_CHAR);
                }
            } else if (b == endChar) {
                if (startChar >= 0 && record->startIndex < 0) {
                    consume();
                    return DropFrame(record, TIDECOMM_ERR_END_CHAR);
                }
                if (record->startIndex >= 0) {
                    if (frameLength == 0 || i == std::abs(frameLength) - 1) {
                        record->endIndex = i;
                    } else if (frameLength < 0) {
                        record->startIndex = -1;  // the start is forgotten; the bytes stay
                        record->endIndex = -1;
                    }
                }
            }
        }

        frame[i] = static_cast<char>(b);
        consume();

        int flags = 0;
        if (threshold != 0 && i + 1 >= threshold) {
            flags = kThresholdReached;
        } else if (record->startIndex == 0 && record->endIndex > 0) {
            flags = record->endIndex == i ? kStartEndFrame : 0;
        } else {
            if (b == endChar && startChar < 0) {
                flags |= kEndCharAlone;
            }
            if (i + 1 == inputLen) {
                flags |= kInputLenReached;
            }
            if (ringEmpty()) {
                if (frameLength != 0) {
                    // A fixed-length frame goes back whole and is retried when more bytes come.
                    record->receiveReadIndex.store((read - (i + 1)) & mask,
                                                   std::memory_order_release);
                    ForgetFrame(record);
                    return {PassEnd::Waiting, 1};
                }
                flags |= kRingEmptied;
            }
        }

        if (flags != 0) {
            const int length = i + 1;
            frame[length] = 0;
            if (flags == kInputLenReached) {
                ReportFramingError(record, TIDECOMM_ERR_FIXED_LENGTH);
            }
            return CheckAndDeliver(record, length, flags);
        }
        ++i;
    }

    // The frame filled the whole buffer without any end condition.
    frame[capacity] = 0;
    ReportFramingError(record, TIDECOMM_ERR_INPUT_LENGTH);
    return CheckAndDeliver(record, capacity, 0);
}

}  // namespace

int HandleReadData(TideCommPortRecord* record) {
    const DWORD count = record->bytesRead;
    if (count == 0) {
        return 0;
    }
    record->lastReadLength = static_cast<int>(count);
    record->bytesRead = 0;
    {
        const std::lock_guard<std::mutex> lock(record->framingLock);
        // Under the lock: a framing pass may hold bytes it will push back, so their room in
        // the ring is not free yet.
        const int mask = record->inBufferSize - 1;
        const int read = record->receiveReadIndex.load(std::memory_order_relaxed);
        int write = record->receiveWriteIndex.load(std::memory_order_relaxed);
        const int room = mask - ((write - read) & mask);
        const int accepted = static_cast<int>(count) < room ? static_cast<int>(count) : room;
        for (int k = 0; k < accepted; ++k) {
            record->receiveRing[write] = record->readBuffer[k];
            write = (write + 1) & mask;
        }
        record->receiveWriteIndex.store(write, std::memory_order_release);
        TideCommTrackReceiveFill(record, (write - read) & mask);
        if (accepted < static_cast<int>(count)) {
            // The newest bytes are dropped so the frames already in the ring stay whole.
            record->droppedCount += static_cast<long>(count) - accepted;
            record->error = CE_RXOVER;
            TideCommPostEventCallback(record->receiveErrorCallback.load(), record->port);
        }
    }
    return TideCommHandleReadData(record);
}

int TideCommHandleReadData(TideCommPortRecord* record) {
    const std::lock_guard<std::mutex> lock(record->framingLock);
    for (;;) {
        if (record->frameCount.load(std::memory_order_acquire) != 0 ||
            record->receiveReadIndex.load(std::memory_order_relaxed) ==
                record->receiveWriteIndex.load(std::memory_order_acquire)) {
            return 1;
        }
        const PassResult pass = FramePass(record);
        if (pass.end != PassEnd::Dropped) {
            return pass.result;
        }
    }
}

int ReceiveData(TideCommPortRecord* record, int length) {
    record->frameCount.store(length, std::memory_order_release);
    // Raised before the post: the release that answers it clears the flag.
    record->receivePending = 1;
    if (TideCommPostDispatch(record, TIDECOMM_MSG_RECEIVE, static_cast<WPARAM>(length),
                             reinterpret_cast<LPARAM>(record->frameBuffer))) {
        return 1;
    }
    record->receivePending = 0;
    TideCommRequestHangupEvent(record);
    return 0;
}
