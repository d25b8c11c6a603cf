// Device calls that fail with error 0 are retried within the port's allowance. Such a call has
// moved nothing, so the completion of the call before it must never be taken for its own: the
// read thread would deliver old bytes again, the write thread would count an older, longer write.
#include <gtest/gtest.h>
#include <win32_test_hooks.h>

#include <string>
#include <vector>

#include "TideCommInternal.h"
#include "threadless_port.h"

using serialtest::RunOnQueueThread;
using serialtest::TakeMessages;
using serialtest::ThreadlessPort;

namespace {

constexpr int kPort = 6;
constexpr DWORD kGenerousMs = 10000;

// The events a port thread makes for its overlapped calls and for its stop request.
class ThreadEvents {
  public:
    ThreadEvents(TideCommPortRecord* r, OVERLAPPED* overlapped) : r_(r), overlapped_(overlapped) {
        *overlapped = {};
        overlapped->hEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
        r->stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    ~ThreadEvents() {
        CloseHandle(overlapped_->hEvent);
        overlapped_->hEvent = nullptr;
        CloseHandle(r_->stopEvent);
        r_->stopEvent = nullptr;
    }
    ThreadEvents(const ThreadEvents&) = delete;
    ThreadEvents& operator=(const ThreadEvents&) = delete;

  private:
    TideCommPortRecord* r_;
    OVERLAPPED* overlapped_;
};

// Frames the dispatch thread was told of since the last call (the port's dispatch thread is the
// calling thread); each is released at once.
std::vector<std::string> AnnouncedFrames(TideCommPortRecord* r) {
    std::vector<std::string> frames;
    for (const MSG& message : TakeMessages()) {
        if (message.message == TIDECOMM_MSG_RECEIVE) {
            frames.emplace_back(r->frameBuffer, message.wParam);
            r->frameCount.store(0);
        }
    }
    return frames;
}

std::vector<BYTE> Bytes(const std::string& text) {
    return {text.begin(), text.end()};
}

TEST(ZeroErrorRetry, ARetriedReadDeliversOnlyNewBytes) {
    TideComm_Init();
    TideComm_SetInputMode(kPort, 1);
    RunOnQueueThread([] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        ThreadEvents events(r, &r->readOverlapped);
        COMMTIMEOUTS timeouts{};
        timeouts.ReadIntervalTimeout = 1;
        ASSERT_TRUE(SetCommTimeouts(r->commHandle, &timeouts));

        // One read completes as the read thread sees it: pending, signalled, collected.
        ASSERT_EQ(SetupReadEvent(r), 1);
        port.device().feed("hello");
        ASSERT_EQ(WaitForSingleObject(r->readOverlapped.hEvent, kGenerousMs), WAIT_OBJECT_0);
        ASSERT_EQ(HandleReadEvent(r), 1);
        ASSERT_EQ(AnnouncedFrames(r), std::vector<std::string>{"hello"});

        // The next read fails with error 0; then the thread waits for its read event.
        chipload::win32::failNextCalls(r->commHandle, 1, 0);
        ASSERT_EQ(SetupReadEvent(r), 1);
        if (WaitForSingleObject(r->readOverlapped.hEvent, 0) == WAIT_OBJECT_0) {
            HandleReadEvent(r);
        }
        EXPECT_TRUE(AnnouncedFrames(r).empty()) << "the previous read was delivered again";

        port.device().feed("world");
        ASSERT_EQ(WaitForSingleObject(r->readOverlapped.hEvent, kGenerousMs), WAIT_OBJECT_0);
        ASSERT_EQ(HandleReadEvent(r), 1);
        EXPECT_EQ(AnnouncedFrames(r), std::vector<std::string>{"world"});
    });
}

TEST(ZeroErrorRetry, ARetriedWriteSendsItsOwnBytesOnce) {
    TideComm_Init();
    RunOnQueueThread([] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        ThreadEvents events(r, &r->writeOverlapped);
        ASSERT_EQ(HandleWriteData(r, "0123456789", 10), 1);
        chipload::win32::failNextCalls(r->commHandle, 1, 0);
        EXPECT_EQ(HandleWriteData(r, "abc", 3), 1);
        EXPECT_EQ(port.device().writes(),
                  (std::vector<std::vector<BYTE>>{Bytes("0123456789"), Bytes("abc")}));
    });
}

TEST(ZeroErrorRetry, TheAllowanceRunsOutAfterTenCalls) {
    TideComm_Init();
    RunOnQueueThread([] {
        ThreadlessPort port(kPort);
        TideCommPortRecord* r = port.record();
        ThreadEvents events(r, &r->writeOverlapped);
        chipload::win32::failNextCalls(r->commHandle, 11, 0);
        EXPECT_EQ(HandleWriteData(r, "abc", 3), 0);
        EXPECT_TRUE(port.device().writes().empty());
        std::vector<UINT> codes;
        for (const MSG& message : TakeMessages()) {
            codes.push_back(message.message);
        }
        EXPECT_EQ(codes, std::vector<UINT>{TIDECOMM_MSG_HANGUP});
    });
}

}  // namespace
