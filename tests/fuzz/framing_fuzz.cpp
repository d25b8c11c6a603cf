// The receive framing and its frame checks on arbitrary settings and bytes,
// driven as the read thread (reads) and the application (releases) drive it.
// Beyond memory safety: every announced frame fits the frame buffer and is
// NUL-terminated, the ring never overfills, and where no byte may be dropped
// (no start character, no Rondo check) the frames and what is left in the
// ring are exactly the bytes the ring accepted, in order.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "TideComm.h"
#include "TideCommFraming.h"
#include "fuzz_check.h"
#include "rte.h"

namespace {

constexpr int kPort = 2;

int ReceiveErrorSeen(int /*port*/) {
    return 0;
}

int Receive(int /*port*/) {
    return 0;
}

int RingFill(const TideCommPortRecord* record) {
    return (record->receiveWriteIndex.load() - record->receiveReadIndex.load()) &
           (record->inBufferSize - 1);
}

std::string RingContents(const TideCommPortRecord* record) {
    std::string bytes;
    for (int k = record->receiveReadIndex.load(); k != record->receiveWriteIndex.load();
         k = (k + 1) & (record->inBufferSize - 1)) {
        bytes += record->receiveRing[k];
    }
    return bytes;
}

struct Run {
    TideCommPortRecord* record;
    std::string delivered;

    // The frame announced to this thread, if any; checked and kept.
    bool takeFrame() {
        MSG message;
        bool announced = false;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != TIDECOMM_MSG_RECEIVE) {
                continue;  // hang-up requests and the like
            }
            FUZZ_CHECK(!announced, "one announcement per frame");
            announced = true;
            const int length = static_cast<int>(message.wParam);
            FUZZ_CHECK(length >= 1 && length <= record->frameCapacity, "frame fits its buffer");
            FUZZ_CHECK(length == record->frameCount.load(), "announced length is the frame count");
            FUZZ_CHECK(message.lParam == reinterpret_cast<LPARAM>(record->frameBuffer),
                       "announcement names the frame buffer");
            FUZZ_CHECK(record->frameBuffer[length] == 0, "frame NUL-terminated");
            delivered.append(record->frameBuffer, static_cast<std::size_t>(length));
        }
        return announced;
    }

    void release() {
        record->frameCount.store(0);
        record->receivePending = 0;
        TideCommHandleReadData(record);
    }
};

void DrainDeferredCalls() {
    static const bool engine = InitRTEEx(nullptr, nullptr, nullptr) != 0;
    FUZZ_CHECK(engine, "engine starts");
    ProcessSystemEvents();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    DrainDeferredCalls();
    FuzzInput in(data, size);
    TideCommPortRecord* record = TideComm_GetStructPtr(kPort);
    record->receiveRing = record->frameBuffer = record->readBuffer = nullptr;
    TideComm_Init();
    record->dispatchThreadId = GetCurrentThreadId();

    const int capacity = 1 + in.byte() % 64;
    const int ringSize = 1 << (1 + in.byte() % 8);
    const unsigned char thresholdPick = in.byte();
    const int threshold = thresholdPick % 4 == 0 ? 0 : thresholdPick % (capacity + 4);
    const unsigned char charPick = in.byte();
    const int startChar = (charPick & 1) != 0 ? in.byte() : -1;
    const int endChar = (charPick & 2) != 0 ? in.byte() : -1;
    const int frameLength = static_cast<signed char>(in.byte()) % 16;
    const int checkKind = (charPick >> 2) % 3;
    // The receive-callback install may raise the input length above the frame buffer.
    const int inputLen = 1 + in.byte() % (capacity + 8);

    std::vector<char> ring(static_cast<std::size_t>(ringSize));
    std::vector<char> frame(static_cast<std::size_t>(capacity) + 1, '\xEE');
    std::vector<char> readBuffer(static_cast<std::size_t>(capacity));
    TideComm_SetReceiveCheck(kPort, checkKind);
    TideComm_InstallReceiveCallback(kPort, startChar, endChar, frameLength, 0, Receive);
    if ((charPick & 0x20) != 0) {
        TideComm_InstallReceiveErrorCallback(kPort, ReceiveErrorSeen);
    }
    record->inputLen = inputLen;
    record->frameCapacity = capacity;
    record->inBufferSize = ringSize;
    record->rThreshold = threshold;
    record->receiveRing = ring.data();
    record->frameBuffer = frame.data();
    record->readBuffer = readBuffer.data();

    Run run{record, {}};
    std::string accepted;
    while (!in.empty()) {
        const unsigned char op = in.byte();
        if ((op & 0xC0) == 0xC0) {
            if (record->frameCount.load() != 0) {
                run.release();
            }
        } else {
            std::size_t n = 0;
            const unsigned char* bytes = in.take(1 + op % static_cast<unsigned>(capacity), &n);
            if (n == 0) {
                break;
            }
            const int room = ringSize - 1 - RingFill(record);
            accepted.append(
                reinterpret_cast<const char*>(bytes),
                n < static_cast<std::size_t>(room) ? n : static_cast<std::size_t>(room));
            std::memcpy(readBuffer.data(), bytes, n);
            record->bytesRead = static_cast<DWORD>(n);
            HandleReadData(record);
        }
        FUZZ_CHECK(RingFill(record) <= ringSize - 1, "ring never overfills");
        run.takeFrame();
        FUZZ_CHECK(record->frameCount.load() <= capacity, "waiting frame fits");
    }
    for (int guard = 0; guard <= ringSize + 1 && record->frameCount.load() != 0; ++guard) {
        run.release();
        run.takeFrame();
    }
    FUZZ_CHECK(record->frameCount.load() == 0, "the ring runs out of frames");

    if (startChar < 0 && checkKind != 2) {
        FUZZ_CHECK(run.delivered + RingContents(record) == accepted,
                   "frames and ring hold every accepted byte in order");
    }
    record->receiveRing = record->frameBuffer = record->readBuffer = nullptr;
    MSG stale;
    while (PeekMessageA(&stale, nullptr, 0, 0, PM_REMOVE)) {
    }
    return 0;
}
