// Events, waits, threads and per-thread errors.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct Flag {
    std::atomic<int> value{0};
};

DWORD WINAPI setFlagAndReturn7(LPVOID parameter) {
    static_cast<Flag*>(parameter)->value.store(1);
    return 7;
}

DWORD WINAPI waitForEvent(LPVOID parameter) {
    WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
    return 3;
}

TEST(Events, WaitAnyReportsTheIndexOfTheSignalledEvent) {
    HANDLE events[3];
    for (auto& event : events) {
        event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        ASSERT_NE(event, nullptr);
    }
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(events[2]);
    });
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 2000), WAIT_OBJECT_0 + 2);
    setter.join();
    SetEvent(events[1]);
    // The lowest signalled index wins.
    EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);
    for (auto event : events) {
        CloseHandle(event);
    }
}

TEST(Events, AutoResetReleasesOneWaitManualResetStaysSet) {
    HANDLE automatic = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    HANDLE manual = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(manual, 0), WAIT_OBJECT_0);
    ResetEvent(manual);
    EXPECT_EQ(WaitForSingleObject(manual, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(automatic);
    CloseHandle(manual);
}

TEST(Events, WaitAllNeedsEveryObjectAndTakesAutoResetOnlyThen) {
    HANDLE automatic = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    HANDLE manual = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE both[] = {automatic, manual};
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 10), static_cast<DWORD>(WAIT_TIMEOUT));
    // The failed wait-all must not have consumed the auto-reset event.
    EXPECT_EQ(WaitForSingleObject(automatic, 0), WAIT_OBJECT_0);
    SetEvent(automatic);
    SetEvent(manual);
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(automatic, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    CloseHandle(automatic);
    CloseHandle(manual);
}

TEST(Events, TimeoutIsKeptAndClosedHandlesFail) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(event, 30), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(30));
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_FALSE(CloseHandle(event));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
    EXPECT_FALSE(SetEvent(event));
    HANDLE none[1] = {nullptr};
    EXPECT_EQ(WaitForMultipleObjects(0, none, FALSE, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Events, NamedEventsAreShared) {
    HANDLE first = CreateEventA(nullptr, TRUE, FALSE, "chipload-test-event");
    HANDLE second = CreateEventA(nullptr, TRUE, FALSE, "chipload-test-event");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    SetEvent(first);
    EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);
    CloseHandle(first);
    CloseHandle(second);
}

TEST(Threads, SuspendedThreadRunsOnlyAfterResumeAndReportsItsExitCode) {
    Flag flag;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, setFlagAndReturn7, &flag, CREATE_SUSPENDED, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(thread, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(flag.value.load(), 0);
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, 2000), WAIT_OBJECT_0);
    EXPECT_EQ(flag.value.load(), 1);
    ASSERT_TRUE(GetExitCodeThread(thread, &code));
    EXPECT_EQ(code, 7u);
    EXPECT_EQ(GetThreadId(thread), id);
    CloseHandle(thread);
}

TEST(Threads, SuspendHoldsARunningThreadAtItsNextWait) {
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, waitForEvent, go, 0, nullptr);
    EXPECT_EQ(SuspendThread(thread), 0u);
    SetEvent(go);
    // Its wait is satisfied, but it may not leave it while suspended.
    EXPECT_EQ(WaitForSingleObject(thread, 50), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(ResumeThread(thread), 1u);
    EXPECT_EQ(WaitForSingleObject(thread, 2000), WAIT_OBJECT_0);
    CloseHandle(thread);
    CloseHandle(go);
}

TEST(Threads, TerminateAbandonsAStuckThreadAndItsQueue) {
    HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, waitForEvent, never, 0, &id);
    EXPECT_EQ(WaitForSingleObject(thread, 20), static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_TRUE(TerminateThread(thread, 42));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 42u);
    EXPECT_FALSE(PostThreadMessageA(id, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_THREAD_ID));
    // Let the abandoned thread finish so the process ends cleanly; its own
    // return value must not replace the code it was terminated with.
    SetEvent(never);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 42u);
    CloseHandle(thread);
    CloseHandle(never);
}

TEST(Threads, PriorityIsCheckedAndKept) {
    HANDLE self = GetCurrentThread();
    EXPECT_TRUE(SetThreadPriority(self, THREAD_PRIORITY_HIGHEST));
    EXPECT_EQ(GetThreadPriority(self), THREAD_PRIORITY_HIGHEST);
    EXPECT_FALSE(SetThreadPriority(self, 5));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetThreadPriority(self, THREAD_PRIORITY_NORMAL);
}

TEST(Errors, LastErrorBelongsToEachThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenThere = 1;
    std::thread other([&] {
        seenThere = GetLastError();
        SetLastError(ERROR_TIMEOUT);
    });
    other.join();
    EXPECT_EQ(seenThere, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(Clock, PerformanceCounterIsMonotonicAndMatchesSleep) {
    LARGE_INTEGER frequency{};
    LARGE_INTEGER before{};
    LARGE_INTEGER after{};
    ASSERT_TRUE(QueryPerformanceFrequency(&frequency));
    ASSERT_GT(frequency.QuadPart, 0);
    QueryPerformanceCounter(&before);
    Sleep(20);
    QueryPerformanceCounter(&after);
    const double seconds = static_cast<double>(after.QuadPart - before.QuadPart) /
                           static_cast<double>(frequency.QuadPart);
    EXPECT_GE(seconds, 0.020);
    EXPECT_LT(seconds, 1.0);
}

}  // namespace
