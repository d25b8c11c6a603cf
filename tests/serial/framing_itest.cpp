// The receive framing entered from two threads at once, as the read thread (after each read) and
// the dispatch thread (after each release) enter it: fixed-length frames split across reads are
// pushed back and completed while the other thread frames, and nothing is lost or reordered.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <future>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "TideComm.h"

namespace {

constexpr int kPort = 5;
constexpr int kFrames = 3000;
constexpr int kRingSize = 64;
constexpr int kInputLen = 16;

int IgnoreReceive(int) {
    return 0;
}

std::string NumberedFrame(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "$%06d*", n % 1000000);
    return text;
}

TEST(FramingThreads, ReadAndReleaseFramingNeverCorruptFrames) {
    TideComm_Init();
    TideCommPortRecord* record = TideComm_GetStructPtr(kPort);
    std::vector<char> ring(kRingSize), frame(kInputLen + 1), read(kInputLen);
    record->inBufferSize = kRingSize;
    record->inputLen = kInputLen;
    record->frameCapacity = kInputLen;
    record->receiveRing = ring.data();
    record->frameBuffer = frame.data();
    record->readBuffer = read.data();
    ASSERT_EQ(TideComm_InstallReceiveCallback(kPort, '$', '*', 8, 0, IgnoreReceive), 0);

    // The dispatch thread: takes each announced frame, releases it and frames what waits.
    std::promise<DWORD> dispatchId;
    std::vector<std::string> received;
    std::thread dispatch([&] {
        dispatchId.set_value(GetCurrentThreadId());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        MSG message;
        while (received.size() < kFrames && std::chrono::steady_clock::now() < deadline) {
            if (!PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                std::this_thread::yield();
                continue;
            }
            ASSERT_EQ(message.message, static_cast<UINT>(TIDECOMM_MSG_RECEIVE));
            const auto length = static_cast<std::size_t>(message.wParam);
            received.emplace_back(record->frameBuffer, length);
            record->frameCount.store(0);
            TideCommHandleReadData(record);
        }
    });
    record->dispatchThreadId = dispatchId.get_future().get();

    // The read thread: the stream in reads of 1 to 16 bytes, never more than the ring can take
    // beside a frame being cut (so no byte is lost to an overrun).
    std::string stream;
    for (int n = 0; n < kFrames; ++n) {
        stream += NumberedFrame(n);
    }
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> readSize(1, kInputLen);
    for (std::size_t at = 0; at < stream.size();) {
        const int n = std::min(readSize(random), static_cast<int>(stream.size() - at));
        while (((record->receiveWriteIndex - record->receiveReadIndex) & (kRingSize - 1)) + n +
                   kInputLen >
               kRingSize - 1) {
            std::this_thread::yield();
        }
        std::memcpy(read.data(), stream.data() + at, static_cast<std::size_t>(n));
        record->bytesRead = static_cast<DWORD>(n);
        ASSERT_EQ(HandleReadData(record), 1);
        at += static_cast<std::size_t>(n);
    }
    dispatch.join();

    ASSERT_EQ(received.size(), static_cast<std::size_t>(kFrames));
    for (int n = 0; n < kFrames; ++n) {
        ASSERT_EQ(received[static_cast<std::size_t>(n)], NumberedFrame(n)) << "frame " << n;
    }
    EXPECT_EQ(record->error.load(), 0);
    record->receiveRing = record->frameBuffer = record->readBuffer = nullptr;
}

}  // namespace
