// A port over a real pseudo-terminal with its three threads: bytes both ways, callbacks on the
// user-interface thread, open failures, configuration of an open device, and clean closes.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "pty_link.h"
#include "serial_engine.h"

using serialtest::Call;
using serialtest::Callback;
using serialtest::CallLog;
using serialtest::PtyLink;
using serialtest::Record;

namespace {

constexpr int kPort = 2;

// What the application's receive callback does: take the frame, keep a copy, release it.
std::mutex framesMutex;
std::vector<std::string> frames;
std::vector<std::thread::id> frameThreads;

int TakeFrame(int port) {
    char* data = nullptr;
    int length = 0;
    if (TideComm_InputBuffer(port, &data, &length) == 0) {
        std::lock_guard lock(framesMutex);
        frames.emplace_back(data, static_cast<std::size_t>(length));
        frameThreads.push_back(std::this_thread::get_id());
    }
    TideComm_ClearInBufferCount(port);
    return 0;
}

// The application's OnComm callback reacts to received frames only.
int ApplicationOnComm(int port) {
    if (TideComm_GetCommEvent(port) == TIDECOMM_EVENT_RECEIVE) {
        TideComm_ReceiveCallback(port);
    }
    return 0;
}

// A frame checker that holds the read thread until the test lets it go.
std::mutex gateMutex;
std::condition_variable gateChanged;
bool checkerEntered = false;
bool checkerReleased = false;

int BlockingCheck(int, const char*, int) {
    std::unique_lock lock(gateMutex);
    checkerEntered = true;
    gateChanged.notify_all();
    gateChanged.wait(lock, [] { return checkerReleased; });
    return 1;
}

std::vector<std::string> Frames() {
    std::lock_guard lock(framesMutex);
    return frames;
}

class PortPtyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TideComm_Init();
        CallLog::clear();
        std::lock_guard lock(framesMutex);
        frames.clear();
        frameThreads.clear();
    }
    void TearDown() override { TideComm_Quit(); }

    bool WaitForFrames(std::size_t count) {
        return engine_.frontEnd().waitUntil([&] { return Frames().size() >= count; });
    }

    serialtest::EngineThread engine_;
    PtyLink pty_{kPort};
};

TEST_F(PortPtyTest, ABurstArrivesAsOneFrameThroughOnCommOnTheUserInterfaceThread) {
    TideComm_InstallOnCommCallback(kPort, ApplicationOnComm);
    TideComm_InstallReceiveCallback(kPort, -1, -1, 0, -1, TakeFrame);
    ASSERT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 512, 512, 1), 0);
    EXPECT_EQ(TideComm_GetPortOpen(kPort), 1);
    EXPECT_EQ(TideComm_GetError(kPort), 0);

    pty_.write(std::string("\x79\x00\x01\x7F\x1F", 5));
    ASSERT_TRUE(WaitForFrames(1));
    EXPECT_EQ(Frames(), std::vector<std::string>{std::string("\x79\x00\x01\x7F\x1F", 5)});
    EXPECT_EQ(frameThreads[0], engine_.uiThread());
    EXPECT_EQ(TideComm_GetReceiveCount(kPort), 5);

    pty_.write("second");
    ASSERT_TRUE(WaitForFrames(2)) << "framing resumes after the release";
    EXPECT_EQ(Frames()[1], "second");
}

TEST_F(PortPtyTest, TextModeWithCarriageReturnFramesLines) {
    TideComm_InstallReceiveCallback(kPort, -1, 13, 0, 2048, TakeFrame);
    ASSERT_EQ(TideComm_OpenConfig(kPort, 9600, 0, 8, 0, 2047, 64, 0), 0);
    pty_.write("AB\rCD\rEF\r");
    ASSERT_TRUE(WaitForFrames(3));
    EXPECT_EQ(Frames(), (std::vector<std::string>{"AB\r", "CD\r", "EF\r"}));
}

TEST_F(PortPtyTest, OutputArrivesCompleteAndInOrder) {
    TideComm_InstallSendEmptyCallback(kPort, Record<Callback::SendEmpty>);
    ASSERT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 512, 512, 1), 0);
    std::string all(1 << 20, '\0');
    for (std::size_t i = 0; i < all.size(); ++i) {
        all[i] = static_cast<char>((i * 7 + i / 4096) & 0xFF);
    }
    std::string arrived;
    std::thread reader([&] { arrived = pty_.read(all.size(), std::chrono::seconds(30)); });
    TideCommPortRecord* r = TideComm_GetStructPtr(kPort);
    constexpr std::size_t kBurst = 1000;
    for (std::size_t offset = 0; offset < all.size(); offset += kBurst) {
        // Keep each burst within the ring's room, as a caller must.
        while (((r->sendWriteIndex - r->sendReadIndex) & (r->outBufferSize - 1)) >
               r->outBufferSize - 1 - static_cast<int>(kBurst)) {
            std::this_thread::yield();
        }
        const std::size_t n = std::min(kBurst, all.size() - offset);
        TideComm_OutputBuffer(kPort, all.data() + offset, static_cast<int>(n));
    }
    reader.join();
    EXPECT_EQ(arrived.size(), all.size());
    EXPECT_TRUE(arrived == all) << "bytes lost or out of order";
    EXPECT_EQ(TideComm_GetSendCount(kPort), 1 << 20);
    EXPECT_TRUE(CallLog::waitFor(Callback::SendEmpty));
}

TEST_F(PortPtyTest, OpeningTwiceReportsAlreadyOpenAndKeepsThePortWorking) {
    TideComm_InstallReceiveCallback(kPort, -1, -1, 0, -1, TakeFrame);
    TideComm_InstallPortOpenErrorCallback(kPort, Record<Callback::OpenError>);
    ASSERT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 512, 512, 1), 0);
    HANDLE handle = TideComm_GetCommFileHandle(kPort);
    EXPECT_EQ(TideComm_Open(kPort), 1);
    EXPECT_EQ(TideComm_GetError(kPort), -1);
    EXPECT_EQ(TideComm_GetCommFileHandle(kPort), handle);
    ASSERT_TRUE(CallLog::waitFor(Callback::OpenError));
    EXPECT_EQ(CallLog::calls()[0].error, -1);
    pty_.write("still");
    ASSERT_TRUE(WaitForFrames(1));
    EXPECT_EQ(Frames()[0], "still");
}

TEST_F(PortPtyTest, SettersReachTheOpenDeviceAndCloseLeavesTheRecordEmpty) {
    TideComm_SetReadTotalTimeoutConstant(kPort, 500);
    ASSERT_EQ(TideComm_OpenConfig(kPort, 9600, 2, 8, 0, 128, 32, 1), 0);
    DCB device{};
    EXPECT_EQ(TideComm_SetBaudRate(kPort, 0), 1) << "refused by the device";
    EXPECT_EQ(TideComm_GetError(kPort), -8);
    EXPECT_EQ(TideComm_GetPortOpen(kPort), 1);
    EXPECT_EQ(TideComm_SetBaudRate(kPort, 57600), 0);
    ASSERT_TRUE(GetCommState(TideComm_GetCommFileHandle(kPort), &device));
    EXPECT_EQ(device.BaudRate, 57600u);
    EXPECT_EQ(device.Parity, EVENPARITY);
    EXPECT_EQ(TideComm_SetDTREnable(kPort, 1), 0);
    EXPECT_EQ(TideComm_GetDTREnable(kPort), 1);
    EXPECT_EQ(TideComm_SetRTSDTREnable(kPort, 1, 0), 0);
    EXPECT_EQ(TideComm_GetRTSEnable(kPort), 1);
    EXPECT_EQ(TideComm_GetDTREnable(kPort), 0);
    EXPECT_EQ(TideComm_SetEscape(kPort, SETDTR), 0);
    COMMTIMEOUTS timeouts{};
    ASSERT_EQ(TideComm_GetTimeout(kPort, &timeouts), 0);
    EXPECT_EQ(timeouts.ReadIntervalTimeout, 100u);
    EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 0u) << "totals are kept, not applied";
    EXPECT_EQ(TideComm_Suspend(kPort), 0);
    EXPECT_EQ(TideComm_SetInputLen(kPort, 16), 1) << "sizes are refused while open";
    EXPECT_EQ(TideComm_SetOutputLen(kPort, 16), 1);

    ASSERT_EQ(TideComm_Close(kPort), 0) << "a held read thread does not stall the close";
    const TideCommPortRecord& r = TideComm[kPort];
    EXPECT_EQ(r.commHandle, nullptr);
    EXPECT_EQ(r.stopEvent, nullptr);
    EXPECT_EQ(r.readBuffer, nullptr);
    EXPECT_EQ(r.frameBuffer, nullptr);
    EXPECT_EQ(r.receiveRing, nullptr);
    EXPECT_EQ(r.sendRing, nullptr);
    EXPECT_EQ(r.sendChunk, nullptr);
    EXPECT_EQ(r.receiveReadIndex + r.receiveWriteIndex + r.sendReadIndex + r.sendWriteIndex, 0);
    EXPECT_EQ(r.frameCount, 0);
    EXPECT_EQ(r.sendChunkLength, 0);
    EXPECT_EQ(r.startIndex, -1);
    EXPECT_EQ(r.endIndex, -1);
    EXPECT_EQ(r.dcb.fDtrControl, 0u);
    EXPECT_EQ(r.dcb.fRtsControl, 0u);
    EXPECT_EQ(r.dcb.BaudRate, 57600u) << "the next open uses the rate set while open";
}

TEST_F(PortPtyTest, TextModeGetsLineFeedAsEndCharacterAtOpen) {
    ASSERT_EQ(TideComm_OpenConfig(kPort, 9600, 0, 8, 0, 0, 0, 0), 0);
    EXPECT_EQ(TideComm[kPort].endChar, 10);
    EXPECT_EQ(TideComm[kPort].inputLen, 64) << "0 keeps the previous input length";
    ASSERT_EQ(TideComm_Close(kPort), 0);
    TideComm_InstallReceiveCallback(kPort, -1, -1, 0, 0, TakeFrame);
    ASSERT_EQ(TideComm_OpenConfig(kPort, 9600, 0, 8, 0, 0, 0, 1), 0);
    EXPECT_EQ(TideComm[kPort].endChar, -1);
}

TEST_F(PortPtyTest, ARefusedDeviceControlBlockFailsTheOpenWithItsCode) {
    TideComm_InstallOnCommCallback(kPort, Record<Callback::OnComm>);
    EXPECT_EQ(TideComm_OpenConfig(kPort, 0, 0, 8, 0, 0, 0, 1), 1);
    EXPECT_EQ(TideComm_GetError(kPort), -6);
    EXPECT_EQ(TideComm_GetPortOpen(kPort), 0);
    ASSERT_TRUE(CallLog::waitFor(Callback::OnComm));
    EXPECT_EQ(CallLog::calls()[0].commEvent, TIDECOMM_EVENT_OPEN_ERROR);
    EXPECT_EQ(CallLog::calls()[0].error, -6);
    char* text = nullptr;
    ASSERT_EQ(TideComm_GetErrorString(kPort, &text), 0);
    EXPECT_STREQ(text, "串行口状态字设置错误");
    EXPECT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 0, 0, 1), 0) << "and opens once fixed";
}

TEST_F(PortPtyTest, ClosingWithAReadAndAnEventWaitPendingAsksForOneHangupAtMost) {
    TideComm_InstallRequestHangupCallback(kPort, Record<Callback::Hangup>);
    TideComm_InstallReceiveErrorCallback(kPort, Record<Callback::ReceiveError>);
    TideComm_InstallReceiveCallback(kPort, -1, -1, 0, -1, Record<Callback::Receive>);
    TideComm_SetModemEventMask(kPort, EV_CTS | EV_DSR | EV_RLSD | EV_RING);
    const int threadsBefore = serialtest::ThreadCount();
    ASSERT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 512, 512, 1), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // let the waits begin

    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(TideComm_Close(kPort), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(900))
        << "every thread left its wait at once";
    ASSERT_TRUE(engine_.waitIdle());
    EXPECT_LE(CallLog::count(Callback::Hangup), 1u);
    EXPECT_EQ(CallLog::calls().size(), CallLog::count(Callback::Hangup)) << "nothing else";
    EXPECT_TRUE(
        engine_.frontEnd().waitUntil([&] { return serialtest::ThreadCount() == threadsBefore; }));
}

TEST_F(PortPtyTest, TwoHundredOpensAndClosesLeaveNoThreadBehind) {
    const int threadsBefore = serialtest::ThreadCount();
    for (int cycle = 0; cycle < 200; ++cycle) {
        ASSERT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 512, 512, 1), 0) << cycle;
        if (cycle % 50 == 0) {
            TideComm_Output(kPort, "ping");
        }
        ASSERT_EQ(TideComm_Close(kPort), 0) << cycle;
    }
    EXPECT_TRUE(
        engine_.frontEnd().waitUntil([&] { return serialtest::ThreadCount() == threadsBefore; }));
}

TEST_F(PortPtyTest, ACloseAbandonsAThreadThatDoesNotStopInTime) {
    const int threadsBefore = serialtest::ThreadCount();
    TideComm_InstallReceiveCallback(kPort, -1, -1, 0, -1, TakeFrame);
    TideComm_InstallReceiveCheckCallback(kPort, BlockingCheck, 0);
    TideComm_SetReadIntervalTimeout(kPort, 1);
    ASSERT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 512, 512, 1), 0);
    pty_.write("stuck");
    {
        std::unique_lock lock(gateMutex);
        ASSERT_TRUE(
            gateChanged.wait_for(lock, std::chrono::seconds(5), [] { return checkerEntered; }));
    }
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(TideComm_Close(kPort), 0);
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::milliseconds(3500));
    EXPECT_EQ(TideComm_GetPortOpen(kPort), 0);
    {
        std::lock_guard lock(gateMutex);
        checkerReleased = true;
    }
    gateChanged.notify_all();
    EXPECT_TRUE(
        engine_.frontEnd().waitUntil([&] { return serialtest::ThreadCount() == threadsBefore; }));
    // The abandoned thread's last steps (closing its events) take the kernel layer's lock;
    // taking it here orders them before whatever the next test does to the record.
    CloseHandle(CreateEventA(nullptr, TRUE, FALSE, nullptr));
}

// A frame checker held in the framing keeps its read thread alive past the close: until that
// thread has ended the port does not open again, as the thread would act on the new session.
TEST_F(PortPtyTest, APortReopensOnlyOnceItsAbandonedThreadHasEnded) {
    {
        std::lock_guard lock(gateMutex);
        checkerEntered = false;
        checkerReleased = false;
    }
    struct ReleaseGate {
        ~ReleaseGate() {
            {
                std::lock_guard lock(gateMutex);
                checkerReleased = true;
            }
            gateChanged.notify_all();
        }
    };
    const int threadsBefore = serialtest::ThreadCount();
    TideComm_InstallReceiveCallback(kPort, -1, -1, 0, -1, TakeFrame);
    TideComm_InstallReceiveCheckCallback(kPort, BlockingCheck, 0);
    TideComm_SetReadIntervalTimeout(kPort, 1);
    ASSERT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 512, 512, 1), 0);
    {
        ReleaseGate atExit;
        pty_.write("stuck");
        {
            std::unique_lock lock(gateMutex);
            ASSERT_TRUE(gateChanged.wait_for(lock, std::chrono::seconds(10),
                                             [] { return checkerEntered; }));
        }
        ASSERT_EQ(TideComm_Close(kPort), 0);
        EXPECT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 512, 512, 1), 1);
        EXPECT_EQ(TideComm_GetError(kPort), -7);
        ASSERT_EQ(TideComm_GetPortOpen(kPort), 0);
    }
    ASSERT_TRUE(
        engine_.frontEnd().waitUntil([&] { return serialtest::ThreadCount() == threadsBefore; }));
    TideComm_InstallReceiveCheckCallback(kPort, nullptr, 0);
    ASSERT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 512, 512, 1), 0);
    pty_.write("fresh");
    ASSERT_TRUE(WaitForFrames(1));
    EXPECT_EQ(Frames(), std::vector<std::string>{"fresh"});
}

// With a fixed frame length a frame as long as half the receive ring could never be cut.
TEST_F(PortPtyTest, AnInputLengthOfHalfTheRingOrMoreIsRefused) {
    ASSERT_EQ(TideComm_SetInBuffersize(kPort, 1024), 0);
    const int before = TideComm_GetInputLen(kPort);
    EXPECT_EQ(TideComm_InstallReceiveCallback(kPort, '$', '*', 8, 512, TakeFrame), 1);
    EXPECT_EQ(TideComm_GetInputLen(kPort), before);
    ASSERT_EQ(TideComm_InstallReceiveCallback(kPort, '$', '*', 8, 511, TakeFrame), 0);
    EXPECT_EQ(TideComm_GetInputLen(kPort), 511);
    ASSERT_EQ(TideComm_OpenConfig(kPort, 115200, 0, 8, 0, 1024, 64, 1), 0)
        << "opens with the length it had";
    EXPECT_EQ(TideComm_GetInputLen(kPort), 511);
    pty_.write("$123456*");
    ASSERT_TRUE(WaitForFrames(1));
    EXPECT_EQ(Frames(), std::vector<std::string>{"$123456*"});
}

}  // namespace
