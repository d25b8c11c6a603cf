// The port threads' steps, one at a time: cutting output into chunks, the send threshold and
// send errors, taking and releasing frames, turning every thread message into its callback,
// and modem-line and line-error events with their hooks.
#include <gtest/gtest.h>
#include <win32_test_hooks.h>

#include <atomic>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "TideCommInternal.h"
#include "serial_engine.h"
#include "threadless_port.h"

using serialtest::Call;
using serialtest::Callback;
using serialtest::CallLog;
using serialtest::Record;
using serialtest::RunOnQueueThread;
using serialtest::TakeMessages;
using serialtest::ThreadlessPort;

namespace {

constexpr int kPort = 5;

class PortMessagesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TideComm_Init();
        CallLog::clear();
    }
    serialtest::EngineThread engine_;
};

// Messages the dispatch thread received (those whose lParam is not a write chunk).
std::vector<UINT> Codes(const std::vector<MSG>& messages) {
    std::vector<UINT> codes;
    for (const MSG& m : messages) {
        codes.push_back(m.message);
    }
    return codes;
}

TEST_F(PortMessagesTest, OutputIsCutIntoChunksOfTheOutputLengthThenSendEmpty) {
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        TideComm_InstallSendEmptyCallback(kPort, Record<Callback::SendEmpty>);
        std::vector<char> data(150);
        std::iota(data.begin(), data.end(), 0);

        ASSERT_EQ(TideComm_OutputBuffer(kPort, data.data(), 150), 0);
        EXPECT_EQ(TideComm_GetSendCount(kPort), 150);
        std::vector<MSG> queued = TakeMessages();
        ASSERT_EQ(Codes(queued), std::vector<UINT>{TIDECOMM_MSG_WRITE});
        EXPECT_EQ(queued[0].lParam, reinterpret_cast<LPARAM>(r));

        std::vector<int> chunkLengths;
        std::string sent;
        MSG next = queued[0];
        for (int step = 0; step < 5; ++step) {
            TideCommDispatchMessage(r, &next);
            std::vector<MSG> out = TakeMessages();
            ASSERT_EQ(out.size(), 1u);
            if (out[0].message == TIDECOMM_MSG_SEND_EMPTY) {
                TideCommDispatchMessage(r, &out[0]);
                break;
            }
            ASSERT_EQ(out[0].message, static_cast<UINT>(TIDECOMM_MSG_WRITE));
            ASSERT_EQ(out[0].lParam, reinterpret_cast<LPARAM>(r->sendChunk));
            chunkLengths.push_back(static_cast<int>(out[0].wParam));
            sent.append(r->sendChunk, out[0].wParam);
            EXPECT_EQ(r->sendIdle, 0);
            next = MSG{nullptr,
                       TIDECOMM_MSG_WRITE_DONE,
                       static_cast<WPARAM>(kPort),
                       reinterpret_cast<LPARAM>(r),
                       0,
                       {}};
        }
        EXPECT_EQ(chunkLengths, (std::vector<int>{64, 64, 22}));
        EXPECT_EQ(sent, std::string(data.begin(), data.end()));
        EXPECT_EQ(r->sendIdle, 1);
        EXPECT_EQ(r->sendChunkLength, 0);
    });
    ASSERT_TRUE(engine_.waitIdle());
    EXPECT_EQ(CallLog::kinds(), std::vector<Callback>{Callback::SendEmpty});
}

TEST_F(PortMessagesTest, BytesQueuedBehindAChunkInFlightGoOutNext) {
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        ASSERT_EQ(TideComm_OutputBuffer(kPort, "0123456789", 10), 0);
        std::vector<MSG> wake = TakeMessages();
        TideCommDispatchMessage(r, &wake[0]);
        TakeMessages();  // the chunk for the write thread

        EXPECT_EQ(TideComm_OutputBuffer(kPort, "abcdefghij", 10), 1);
        EXPECT_TRUE(TakeMessages().empty()) << "no wake-up and no send error: the ring was empty";

        MSG done{nullptr, TIDECOMM_MSG_WRITE_DONE, kPort, reinterpret_cast<LPARAM>(r), 0, {}};
        TideCommDispatchMessage(r, &done);
        std::vector<MSG> chunk = TakeMessages();
        ASSERT_EQ(chunk.size(), 1u);
        EXPECT_EQ(std::string(r->sendChunk, chunk[0].wParam), "abcdefghij");
    });
}

TEST_F(PortMessagesTest, QueuingOnAWaitingBacklogPostsASendErrorFirst) {
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);
        ASSERT_EQ(TideComm_OutputBuffer(kPort, "first", 5), 0);
        ASSERT_EQ(TideComm_OutputBuffer(kPort, "second", 6), 0);
        EXPECT_EQ(
            Codes(TakeMessages()),
            (std::vector<UINT>{TIDECOMM_MSG_WRITE, TIDECOMM_MSG_SEND_ERROR, TIDECOMM_MSG_WRITE}));
        EXPECT_EQ(TideComm_GetSendCount(kPort), 11);
    });
}

TEST_F(PortMessagesTest, AFullSendRingKeepsWhatItHoldsAndReportsTheRest) {
    ASSERT_EQ(TideComm_SetOutBuffersize(kPort, 16), 0);
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        const std::string data = "ABCDEFGHIJKLMNOPQRST";
        EXPECT_EQ(TideComm_OutputBuffer(kPort, data.data(), 20), 0);
        std::vector<MSG> messages = TakeMessages();
        EXPECT_EQ(Codes(messages),
                  (std::vector<UINT>{TIDECOMM_MSG_SEND_ERROR, TIDECOMM_MSG_WRITE}));
        TideCommDispatchMessage(r, &messages[1]);
        std::vector<MSG> chunk = TakeMessages();
        ASSERT_EQ(chunk.size(), 1u);
        EXPECT_EQ(std::string(r->sendChunk, chunk[0].wParam), data.substr(0, 15));
    });
}

TEST_F(PortMessagesTest, ReconfiguringAnOpenPortKeepsTheChunkSizeItWasOpenedWith) {
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);  // opened with an output length of 64
        TideCommPortRecord* r = port.record();
        EXPECT_EQ(TideComm_OpenConfig(kPort, 9600, 0, 8, 0, 128, 4096, 1), 1);
        EXPECT_EQ(TideComm_GetError(kPort), -1);
        const std::vector<char> data(1000, 'x');
        ASSERT_EQ(TideComm_OutputBuffer(kPort, data.data(), 1000), 0);
        std::vector<MSG> wake = TakeMessages();
        ASSERT_EQ(wake.size(), 1u);
        TideCommDispatchMessage(r, &wake[0]);
        std::vector<MSG> chunk = TakeMessages();
        ASSERT_EQ(chunk.size(), 1u);
        EXPECT_EQ(chunk[0].wParam, 64u) << "the chunk buffer holds what the open gave it";
    });
}

TEST_F(PortMessagesTest, ASendThresholdRaisesOneSendEvent) {
    ASSERT_EQ(TideComm_SetSThreshold(kPort, 3), 0);
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);
        EXPECT_EQ(TideComm_SetSThreshold(kPort, 5), 1) << "closed only";
        TideComm_OutputBuffer(kPort, "ab", 2);
        EXPECT_EQ(TideComm_GetSThreshold(kPort), 0);
        std::vector<MSG> first = TakeMessages();
        ASSERT_EQ(Codes(first), (std::vector<UINT>{TIDECOMM_MSG_SEND, TIDECOMM_MSG_WRITE}));
        EXPECT_EQ(first[0].lParam, reinterpret_cast<LPARAM>(port.record()));
        TideComm_OutputBuffer(kPort, "cd", 2);
        std::vector<UINT> second = Codes(TakeMessages());
        EXPECT_EQ(std::count(second.begin(), second.end(), TIDECOMM_MSG_SEND), 0);
    });
}

TEST_F(PortMessagesTest, FramesAreBorrowedCopiedAndReleased) {
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        char* frame = nullptr;
        int length = 0;
        EXPECT_EQ(TideComm_InputBuffer(kPort, &frame, &length), 1) << "no frame waiting";

        const char bytes[] = {0x31, 0x00, 0x32, 0x33};
        std::memcpy(r->frameBuffer, bytes, 4);
        r->frameCount = 4;
        int waiting = 0;
        EXPECT_EQ(TideComm_GetInBufferCount(kPort, &waiting), 0);
        EXPECT_EQ(waiting, 4);
        ASSERT_EQ(TideComm_InputBuffer(kPort, &frame, &length), 0);
        ASSERT_EQ(TideComm_InputBuffer(kPort, &frame, &length), 0);
        EXPECT_EQ(frame, r->frameBuffer);
        EXPECT_EQ(length, 4);
        EXPECT_EQ(TideComm_GetReceiveCount(kPort), 8) << "counted on every borrow";
        EXPECT_TRUE(TakeMessages().empty()) << "borrowing releases nothing";

        char copy[5];
        std::memset(copy, 0x7F, sizeof copy);
        r->receivePending = 1;
        ASSERT_EQ(TideComm_Input(kPort, copy, &length), 0);
        EXPECT_EQ(length, 4);
        EXPECT_EQ(std::vector<char>(copy, copy + 5), (std::vector<char>{0x31, 0, 0, 0, 0}));
        EXPECT_EQ(r->frameCount, 0);
        EXPECT_EQ(r->receivePending, 0);
        EXPECT_EQ(TideComm_GetReceiveCount(kPort), 8) << "copying does not count";
        std::vector<MSG> release = TakeMessages();
        ASSERT_EQ(Codes(release), std::vector<UINT>{TIDECOMM_MSG_RESUME_FRAMING});
        EXPECT_EQ(release[0].lParam, reinterpret_cast<LPARAM>(r));
    });
}

TEST_F(PortMessagesTest, AReleaseFramesWhatWaitedInTheRing) {
    TideComm_InstallReceiveCallback(kPort, -1, -1, 0, 0, Record<Callback::Receive>);
    TideComm_SetInputMode(kPort, 1);
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        std::memcpy(r->receiveRing, "xyz", 3);
        r->receiveWriteIndex = 3;
        ASSERT_EQ(TideComm_ClearInBufferCount(kPort), 0);
        std::vector<MSG> release = TakeMessages();
        ASSERT_EQ(release.size(), 1u);
        TideCommDispatchMessage(r, &release[0]);
        std::vector<MSG> announced = TakeMessages();
        ASSERT_EQ(Codes(announced), std::vector<UINT>{TIDECOMM_MSG_RECEIVE});
        EXPECT_EQ(announced[0].wParam, 3u);
        EXPECT_EQ(std::string(r->frameBuffer), "xyz");
        TideCommDispatchMessage(r, &announced[0]);
    });
    ASSERT_TRUE(engine_.waitIdle());
    EXPECT_EQ(CallLog::kinds(), std::vector<Callback>{Callback::Receive});
}

// The application releases at the end of every receive callback, frame or not: a release
// that follows a take finding nothing must leave a frame announced in between alone.
TEST_F(PortMessagesTest, AReleaseWithoutATakeKeepsAFrameAnnouncedMeanwhile) {
    TideComm_SetInputMode(kPort, 1);
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        char* frame = nullptr;
        int length = 0;
        ASSERT_EQ(TideComm_InputBuffer(kPort, &frame, &length), 1) << "nothing to take yet";

        std::memcpy(r->receiveRing, "xyz", 3);
        r->receiveWriteIndex = 3;
        TideCommHandleReadData(r);  // the read thread announces a frame
        ASSERT_EQ(Codes(TakeMessages()), std::vector<UINT>{TIDECOMM_MSG_RECEIVE});

        TideComm_ClearInBufferCount(kPort);
        ASSERT_EQ(TideComm_InputBuffer(kPort, &frame, &length), 0) << "the frame was discarded";
        EXPECT_EQ(std::string(frame, static_cast<std::size_t>(length)), "xyz");
        TideComm_ClearInBufferCount(kPort);
        int waiting = -1;
        ASSERT_EQ(TideComm_GetInBufferCount(kPort, &waiting), 0);
        EXPECT_EQ(waiting, 0) << "a release after the take frees it";
    });
}

void InstallEveryCallback(int port) {
    TideComm_InstallReceiveCallback(port, -1, -1, 0, 0, Record<Callback::Receive>);
    TideComm_InstallReceiveErrorCallback(port, Record<Callback::ReceiveError>);
    TideComm_InstallModemStateChangeCallback(port, Record<Callback::ModemChange>, 0);
    TideComm_InstallCDStateChangeCallback(port, Record<Callback::CdChange>);
    TideComm_InstallCTSStateChangeCallback(port, Record<Callback::CtsChange>);
    TideComm_InstallDSRStateChangeCallback(port, Record<Callback::DsrChange>);
    TideComm_InstallRingStateChangeCallback(port, Record<Callback::RingChange>);
    TideComm_InstallRequestHangupCallback(port, Record<Callback::Hangup>);
    TideComm_InstallSendEmptyCallback(port, Record<Callback::SendEmpty>);
    TideComm_InstallSendCallback(port, Record<Callback::Send>);
    TideComm_InstallSendErrorCallback(port, Record<Callback::SendError>);
}

// The notification messages and what each raises, in OnComm style (event code) and direct.
struct Notification {
    UINT message;
    int eventCode;  // 0: never goes to OnComm
    std::vector<Callback> direct;
};
const Notification kNotifications[] = {
    {TIDECOMM_MSG_RECEIVE, 128, {Callback::Receive}},
    {TIDECOMM_MSG_RECEIVE_ERROR, 256, {Callback::ReceiveError}},
    {TIDECOMM_MSG_SEND, 16, {}},
    {TIDECOMM_MSG_SEND_EMPTY, 32, {Callback::SendEmpty}},
    {TIDECOMM_MSG_SEND_ERROR, 64, {Callback::SendError}},
    {TIDECOMM_MSG_HANGUP, 0, {Callback::Hangup}},
    {TIDECOMM_MSG_MODEM, 32768, {Callback::ModemChange}},
    {TIDECOMM_MSG_CTS, 1, {Callback::CtsChange}},
    {TIDECOMM_MSG_DSR, 2, {Callback::DsrChange}},
    {TIDECOMM_MSG_RING, 4, {Callback::RingChange}},
    {TIDECOMM_MSG_CD, 8, {Callback::CdChange}},
};

TEST_F(PortMessagesTest, DirectStylePostsEachMessagesOwnCallbackOnTheUserInterfaceThread) {
    InstallEveryCallback(kPort);
    for (const Notification& n : kNotifications) {
        SCOPED_TRACE(n.message);
        CallLog::clear();
        MSG msg{nullptr, n.message, kPort, 0, 0, {}};
        TideCommDispatchMessage(&TideComm[kPort], &msg);
        ASSERT_TRUE(engine_.waitIdle());
        EXPECT_EQ(CallLog::kinds(), n.direct);
        for (const Call& call : CallLog::calls()) {
            EXPECT_EQ(call.port, kPort);
            EXPECT_EQ(call.thread, engine_.uiThread());
        }
    }
}

TEST_F(PortMessagesTest, OnCommStyleStoresTheEventCodeButHangupsStayDirect) {
    InstallEveryCallback(kPort);
    TideComm_InstallOnCommCallback(kPort, Record<Callback::OnComm>);
    for (const Notification& n : kNotifications) {
        SCOPED_TRACE(n.message);
        CallLog::clear();
        MSG msg{nullptr, n.message, kPort, 0, 0, {}};
        TideCommDispatchMessage(&TideComm[kPort], &msg);
        ASSERT_TRUE(engine_.waitIdle());
        if (n.eventCode == 0) {
            EXPECT_EQ(CallLog::kinds(), n.direct);
            continue;
        }
        ASSERT_EQ(CallLog::kinds(), std::vector<Callback>{Callback::OnComm});
        EXPECT_EQ(CallLog::calls()[0].commEvent, n.eventCode);
    }
}

// Events queued while the user-interface thread is busy each reach OnComm with their
// own code: a received frame must not be read as the send-empty queued after it.
TEST_F(PortMessagesTest, OnCommEventsQueuedBackToBackKeepTheirOwnCodes) {
    InstallEveryCallback(kPort);
    TideComm_InstallOnCommCallback(kPort, Record<Callback::OnComm>);
    CallLog::clear();
    static std::atomic<bool> release{false};
    release = false;
    PostDeferredCall(
        [](void*) {
            while (!release) {
                std::this_thread::yield();
            }
        },
        nullptr);
    MSG received{nullptr, TIDECOMM_MSG_RECEIVE, kPort, 0, 0, {}};
    MSG sendEmpty{nullptr, TIDECOMM_MSG_SEND_EMPTY, kPort, 0, 0, {}};
    TideCommDispatchMessage(&TideComm[kPort], &received);
    TideCommDispatchMessage(&TideComm[kPort], &sendEmpty);
    release = true;
    ASSERT_TRUE(engine_.waitIdle());
    ASSERT_EQ(2u, CallLog::calls().size());
    EXPECT_EQ(TIDECOMM_EVENT_RECEIVE, CallLog::calls()[0].commEvent);
    EXPECT_EQ(TIDECOMM_EVENT_SEND_EMPTY, CallLog::calls()[1].commEvent);
}

TEST_F(PortMessagesTest, LineChangeCallbacksFallBackOnTheSystemRecord) {
    TideComm_InstallCTSStateChangeCallback(0, Record<Callback::CtsChange>);
    TideComm_InstallCDStateChangeCallback(0, Record<Callback::CdChange>);
    TideComm_InstallCDStateChangeCallback(3, Record<Callback::OnComm>);  // port 3's own CD
    TideComm_InstallReceiveErrorCallback(0, Record<Callback::ReceiveError>);
    for (UINT message : {TIDECOMM_MSG_CTS, TIDECOMM_MSG_CD, TIDECOMM_MSG_RECEIVE_ERROR}) {
        MSG msg{nullptr, message, 3, 0, 0, {}};
        TideCommDispatchMessage(&TideComm[3], &msg);
    }
    ASSERT_TRUE(engine_.waitIdle());
    std::vector<Call> calls = CallLog::calls();
    ASSERT_EQ(calls.size(), 2u) << "no fallback for anything but the line changes";
    EXPECT_EQ(calls[0].callback, Callback::CtsChange);
    EXPECT_EQ(calls[0].port, 3);
    EXPECT_EQ(calls[1].callback, Callback::OnComm) << "the port's own callback wins";
}

TEST_F(PortMessagesTest, AFailedChunkHandOverIsASendErrorEvenInOnCommStyle) {
    TideComm_InstallOnCommCallback(kPort, Record<Callback::OnComm>);
    TideComm_InstallSendErrorCallback(kPort, Record<Callback::SendError>);
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        TideComm_OutputBuffer(kPort, "lost", 4);
        std::vector<MSG> wake = TakeMessages();
        r->writeThreadId = 0x7FFFFFF0;  // no such thread: the hand-over fails
        TideCommDispatchMessage(r, &wake[0]);
        EXPECT_EQ(r->sendChunkLength, 0);
    });
    ASSERT_TRUE(engine_.waitIdle());
    EXPECT_EQ(CallLog::kinds(), std::vector<Callback>{Callback::SendError});
}

int hookSawQueuedMessages = -1;
int HookCountingQueuedMessages(TideCommPortRecord*) {
    hookSawQueuedMessages = static_cast<int>(TakeMessages().size());
    return 0;
}

TEST_F(PortMessagesTest, LineChangesRunTheirHookBeforePostingTheirMessage) {
    const struct {
        DWORD events;
        int flags;
        UINT message;
        int (*install)(int, TideCommHookCallback);
    } cases[] = {
        {EV_CTS, 1, TIDECOMM_MSG_CTS, TideComm_InstallCTSStateChangeHookCallback},
        {EV_DSR, 2, TIDECOMM_MSG_DSR, TideComm_InstallDSRStateChangeHookCallback},
        {EV_RING, 4, TIDECOMM_MSG_RING, TideComm_InstallRingStateChangeHookCallback},
        {EV_RLSD, 8, TIDECOMM_MSG_CD, TideComm_InstallCDStateChangeHookCallback},
        {EV_CTS | EV_DSR, 3, TIDECOMM_MSG_MODEM, nullptr},
    };
    TideComm_InstallModemStateChangeHookCallback(kPort, HookCountingQueuedMessages, 0);
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        for (const auto& c : cases) {
            SCOPED_TRACE(c.flags);
            if (c.install != nullptr) {
                c.install(kPort, HookCountingQueuedMessages);
            }
            hookSawQueuedMessages = -1;
            r->eventMaskResult = c.events;
            EXPECT_EQ(HandleCommEvent(r, nullptr, 0), 1);
            EXPECT_EQ(hookSawQueuedMessages, 0) << "the hook ran first";
            std::vector<MSG> posted = TakeMessages();
            ASSERT_EQ(Codes(posted), std::vector<UINT>{c.message});
            EXPECT_EQ(posted[0].lParam, c.flags);
            EXPECT_EQ(r->modemEvent, c.flags);
            EXPECT_EQ(TideComm_GetModemEvent(kPort), c.flags);
        }
        EXPECT_EQ(r->ctsCount, 2);
        EXPECT_EQ(r->dsrCount, 2);
        EXPECT_EQ(r->ringCount, 1);
        EXPECT_EQ(r->cdCount, 1);
    });
}

TEST_F(PortMessagesTest, LineErrorsAreStoredAndPostedAndAnEmptyMaskIsAHangup) {
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        port.device().raise(EV_ERR, CE_FRAME | CE_OVERRUN);
        r->eventMaskResult = EV_ERR;
        EXPECT_EQ(HandleCommEvent(r, nullptr, 0), 1);
        EXPECT_EQ(TideComm_GetError(kPort), CE_FRAME | CE_OVERRUN);
        std::vector<MSG> posted = TakeMessages();
        ASSERT_EQ(Codes(posted), std::vector<UINT>{TIDECOMM_MSG_RECEIVE_ERROR});
        EXPECT_EQ(posted[0].lParam, CE_FRAME | CE_OVERRUN);

        r->eventMaskResult = 0;
        EXPECT_EQ(HandleCommEvent(r, nullptr, 0), 0);
        EXPECT_EQ(Codes(TakeMessages()), std::vector<UINT>{TIDECOMM_MSG_HANGUP});
    });
}

TEST_F(PortMessagesTest, TenCallsFailingWithErrorZeroAreRetriedPerPort) {
    RunOnQueueThread([&] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        r->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_TRUE(SetCommMask(r->commHandle, EV_ERR));
        chipload::win32::failNextCalls(r->commHandle, 10, 0);
        EXPECT_EQ(SetupCommEvent(r), 1) << "the eleventh call starts the wait";
        chipload::win32::failNextCalls(r->commHandle, 1, 0);
        EXPECT_EQ(SetupCommEvent(r), 0) << "the allowance is spent";
        EXPECT_TRUE(TakeMessages().empty()) << "no hang-up for error 0";

        chipload::win32::failNextCalls(r->commHandle, 1, ERROR_ACCESS_DENIED);
        EXPECT_EQ(SetupReadEvent(r), 0);
        EXPECT_EQ(Codes(TakeMessages()), std::vector<UINT>{TIDECOMM_MSG_HANGUP});
        chipload::win32::failNextCalls(r->commHandle, 1, ERROR_INVALID_HANDLE);
        EXPECT_EQ(SetupReadEvent(r), 0);
        EXPECT_TRUE(TakeMessages().empty()) << "a closed handle is silent";
        CloseHandle(r->stopEvent);
        r->stopEvent = nullptr;
    });
}

}  // namespace
