// Thread message queues: order, waking, life span.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr UINT kFromA = WM_USER + 1;
constexpr UINT kFromB = WM_USER + 2;
constexpr int kPostsPerSender = 5000;

struct Received {
    std::vector<MSG> messages;
};

// Collects the expected number of messages, sleeping in MsgWaitForMultipleObjects.
DWORD WINAPI collect(LPVOID parameter) {
    auto* received = static_cast<Received*>(parameter);
    while (received->messages.size() < 2u * kPostsPerSender) {
        MSG message{};
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            received->messages.push_back(message);
        }
        if (received->messages.size() < 2u * kPostsPerSender &&
            MsgWaitForMultipleObjects(0, nullptr, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0) {
            return 1;
        }
    }
    return 0;
}

TEST(MessageQueue, KeepsPostingOrderPerSenderAcrossTenThousandPosts) {
    // Static: a collector left running by a failed assertion must not outlive it.
    static Received received;
    received.messages.clear();
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, collect, &received, 0, &id);
    ASSERT_NE(thread, nullptr);
    std::atomic<int> failures{0};
    auto sender = [&](UINT message) {
        for (int i = 0; i < kPostsPerSender; ++i) {
            if (!PostThreadMessageA(id, message, static_cast<WPARAM>(i), 0)) {
                ++failures;
            }
        }
    };
    std::thread a(sender, kFromA);
    std::thread b(sender, kFromB);
    a.join();
    b.join();
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
    DWORD code = 1;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(failures.load(), 0);  // the queue never held more than Windows allows
    ASSERT_EQ(received.messages.size(), 2u * kPostsPerSender);
    WPARAM nextA = 0;
    WPARAM nextB = 0;
    for (const MSG& message : received.messages) {
        WPARAM& next = message.message == kFromA ? nextA : nextB;
        ASSERT_EQ(message.wParam, next) << "message " << message.message << " out of order";
        ++next;
    }
    EXPECT_EQ(nextA, static_cast<WPARAM>(kPostsPerSender));
    EXPECT_EQ(nextB, static_cast<WPARAM>(kPostsPerSender));
    CloseHandle(thread);
}

struct WaitOutcome {
    HANDLE event;
    std::atomic<DWORD> result{0xDEAD};
};

DWORD WINAPI waitOnceForInputOrEvent(LPVOID parameter) {
    auto* outcome = static_cast<WaitOutcome*>(parameter);
    outcome->result.store(MsgWaitForMultipleObjects(1, &outcome->event, FALSE, 5000, QS_ALLINPUT));
    return 0;
}

TEST(MessageQueue, MsgWaitWakesOnAPostedMessage) {
    WaitOutcome outcome;
    outcome.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, waitOnceForInputOrEvent, &outcome, 0, &id);
    Sleep(20);
    ASSERT_TRUE(PostThreadMessageA(id, WM_USER, 0, 0));
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(outcome.result.load(), WAIT_OBJECT_0 + 1);
    CloseHandle(thread);
    CloseHandle(outcome.event);
}

TEST(MessageQueue, MsgWaitWakesOnTheEvent) {
    WaitOutcome outcome;
    outcome.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, waitOnceForInputOrEvent, &outcome, 0, nullptr);
    Sleep(20);
    SetEvent(outcome.event);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(outcome.result.load(), WAIT_OBJECT_0);
    CloseHandle(thread);
    CloseHandle(outcome.event);
}

TEST(MessageQueue, MsgWaitIgnoresMessagesAlreadySeenAndOtherInputKinds) {
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER, 1, 2));
    // A peek that leaves the message makes it old news for MsgWait.
    MSG message{};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT),
              static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER, 3, 4));
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_KEY),
              static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_POSTMESSAGE), WAIT_OBJECT_0);
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.wParam, 1u);
    EXPECT_EQ(message.lParam, 2);
    EXPECT_EQ(message.hwnd, nullptr);
    EXPECT_FALSE(TranslateMessage(&message));
    EXPECT_EQ(DispatchMessageA(&message), 0);
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.wParam, 3u);
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

TEST(MessageQueue, FilterTakesOnlyTheRangeAsked) {
    const DWORD self = GetCurrentThreadId();
    PostThreadMessageA(self, WM_USER + 5, 0, 0);
    PostThreadMessageA(self, WM_USER + 9, 0, 0);
    MSG message{};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_USER + 8, WM_USER + 10, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 9));
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 5));
}

DWORD WINAPI takeOneMessage(LPVOID parameter) {
    MSG message{};
    if (GetMessageA(&message, nullptr, 0, 0) > 0) {
        *static_cast<WPARAM*>(parameter) = message.wParam;
    }
    return 0;
}

TEST(MessageQueue, QueueExistsBeforeTheThreadRunsAndDiesWithIt) {
    WPARAM seen = 0;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, takeOneMessage, &seen, CREATE_SUSPENDED, &id);
    // Posted before the thread ever ran: must not be lost.
    ASSERT_TRUE(PostThreadMessageA(id, WM_USER, 77, 0));
    ResumeThread(thread);
    ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
    EXPECT_EQ(seen, 77u);
    EXPECT_FALSE(PostThreadMessageA(id, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
    CloseHandle(thread);
}

TEST(MessageQueue, AThreadNotMadeHereEndsItsQueueWhenItExits) {
    DWORD id = 0;
    std::thread foreign([&] { id = GetCurrentThreadId(); });
    foreign.join();
    ASSERT_NE(id, 0u);
    EXPECT_NE(id, GetCurrentThreadId());
    EXPECT_FALSE(PostThreadMessageA(id, WM_USER, 0, 0));
}

}  // namespace
