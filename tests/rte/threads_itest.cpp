// The thread pool, named locks, and the engine timer service.
#include <chrono>
#include <mutex>
#include <set>
#include <vector>

#include "rte_test_support.h"

using namespace std::chrono_literals;

namespace {

// --- thread pool

int ReturnsData(void* data) {
    std::this_thread::sleep_for(20ms);
    return static_cast<int>(reinterpret_cast<std::intptr_t>(data));
}

std::atomic<bool> deferredRan{false};
void MarkDeferred(void*) {
    deferredRan = true;
}

std::atomic<bool> releaseWorker{false};
int WaitsForRelease(void*) {
    while (!releaseWorker) {
        ProcessSystemEvents();  // off the UI thread: a short sleep
    }
    return 5;
}

TEST(ThreadPool, RunsFunctionsAndJoinsThemWithTheirResults) {
    int a = 0, b = 0;
    ASSERT_EQ(CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, ReturnsData,
                                            reinterpret_cast<void*>(std::intptr_t{11}), &a),
              RTE_OK);
    ASSERT_EQ(CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, ReturnsData,
                                            reinterpret_cast<void*>(std::intptr_t{22}), &b),
              RTE_OK);
    EXPECT_NE(a, b);
    EXPECT_EQ(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, b, 0), RTE_OK);
    EXPECT_EQ(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, a, 0), RTE_OK);
    int result = 0;
    EXPECT_EQ(CmtGetThreadPoolFunctionResult(DEFAULT_THREAD_POOL_HANDLE, a, &result), RTE_OK);
    EXPECT_EQ(result, 11);
    EXPECT_EQ(CmtGetThreadPoolFunctionResult(DEFAULT_THREAD_POOL_HANDLE, b, &result), RTE_OK);
    EXPECT_EQ(result, 22);
    EXPECT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, a), RTE_OK);
    EXPECT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, b), RTE_OK);
    EXPECT_EQ(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, a, 0),
              RTE_ERR_BAD_HANDLE);
    EXPECT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, a), RTE_ERR_BAD_HANDLE);
    EXPECT_EQ(CmtScheduleThreadPoolFunction(3, ReturnsData, nullptr, &a), RTE_ERR_BAD_ARGUMENT);
}

TEST(ThreadPool, WaitingOnTheUiThreadRunsEventsMeanwhile) {
    // As at the program's exit: the loop has ended, a worker still runs and
    // events posted meanwhile must run while the UI thread waits for it.
    rte_test::RunningEngine engine;  // this thread starts the engine: it is the UI thread
    deferredRan = false;
    releaseWorker = false;
    int id = 0;
    ASSERT_EQ(
        CmtScheduleThreadPoolFunction(DEFAULT_THREAD_POOL_HANDLE, WaitsForRelease, nullptr, &id),
        RTE_OK);
    std::thread poster([] {
        PostDeferredCall(MarkDeferred, nullptr);
        while (!deferredRan) {
            std::this_thread::sleep_for(1ms);
        }
        releaseWorker = true;  // only once the deferred call ran during the wait
    });
    EXPECT_EQ(CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, id,
                                                     OPT_TP_PROCESS_EVENTS_WHILE_WAITING),
              RTE_OK);
    poster.join();
    EXPECT_TRUE(deferredRan.load());
    EXPECT_EQ(CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, id), RTE_OK);
}

// --- locks

TEST(Locks, ANamedLockIsOneLockForEveryoneWhoNamesIt) {
    CmtLockHandle first = 0, second = 0, other = 0;
    ASSERT_EQ(CmtNewLock("rte-test-shared", 0, &first), RTE_OK);
    ASSERT_EQ(CmtNewLock("rte-test-shared", 0, &second), RTE_OK);
    ASSERT_EQ(CmtNewLock(nullptr, 0, &other), RTE_OK);
    ASSERT_EQ(CmtGetLock(first), RTE_OK);
    ASSERT_EQ(CmtGetLock(first), RTE_OK);  // recursive for its owner
    std::atomic<bool> gotShared{false}, gotOther{false};
    std::thread t([&] {
        CmtGetLock(other);  // an unnamed lock is not the shared one
        gotOther = true;
        CmtReleaseLock(other);
        EXPECT_EQ(CmtReleaseLock(second), RTE_ERR_FAILED) << "released a lock it does not hold";
        CmtGetLock(second);
        gotShared = true;
        CmtReleaseLock(second);
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(gotOther.load());
    EXPECT_FALSE(gotShared.load()) << "the second name got a different lock";
    EXPECT_EQ(CmtReleaseLock(first), RTE_OK);
    std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(gotShared.load()) << "one release of two freed the lock";
    EXPECT_EQ(CmtReleaseLock(first), RTE_OK);
    t.join();
    EXPECT_TRUE(gotShared.load());

    // The name lives while any handle does.
    EXPECT_EQ(CmtDiscardLock(first), RTE_OK);
    CmtLockHandle third = 0;
    ASSERT_EQ(CmtNewLock("rte-test-shared", 0, &third), RTE_OK);
    ASSERT_EQ(CmtGetLock(second), RTE_OK);
    std::atomic<bool> gotThird{false};
    std::thread u([&] {
        CmtGetLock(third);
        gotThird = true;
        CmtReleaseLock(third);
    });
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(gotThird.load());
    CmtReleaseLock(second);
    u.join();
    EXPECT_EQ(CmtDiscardLock(second), RTE_OK);
    EXPECT_EQ(CmtDiscardLock(third), RTE_OK);
    EXPECT_EQ(CmtDiscardLock(other), RTE_OK);
    EXPECT_EQ(CmtDiscardLock(other), RTE_ERR_BAD_HANDLE);
    EXPECT_EQ(CmtGetLock(other), RTE_ERR_BAD_HANDLE);
}

// --- engine timer service

struct TickLog {
    std::mutex mutex;
    std::vector<std::chrono::steady_clock::time_point> times;
    std::set<std::thread::id> threads;
    std::atomic<int> handle{0};
    std::atomic<bool> discardInTick{false};
    std::atomic<int> discardResult{-1};
    std::atomic<bool> slow{false};
    std::atomic<bool> inTick{false};
};

void Tick(void* record) {
    auto* log = static_cast<TickLog*>(record);
    log->inTick = true;
    {
        std::lock_guard lock(log->mutex);
        log->times.push_back(std::chrono::steady_clock::now());
        log->threads.insert(std::this_thread::get_id());
    }
    if (log->discardInTick) {
        log->discardResult = RTEUSTEdiscardtimer(log->handle);
    }
    if (log->slow) {
        std::this_thread::sleep_for(100ms);
    }
    log->inTick = false;
}

std::size_t Count(TickLog& log) {
    std::lock_guard lock(log.mutex);
    return log.times.size();
}

bool WaitForTicks(TickLog& log, std::size_t n) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (Count(log) < n) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

const std::uint32_t kTenMs[2] = {0, 10000000};

TEST(TimerService, PeriodicTicksOfAllTimersRunOnOneThread) {
    ASSERT_NE(RTEUSTEinitialize(), 0);
    ASSERT_NE(RTEUSTEinitialize(), 0);
    TickLog a, b;
    const int ha = RTEUSTEnewtimer(Tick, &a);
    const int hb = RTEUSTEnewtimer(Tick, &b);
    ASSERT_GT(ha, 0);
    ASSERT_GT(hb, 0);
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(Count(a), 0u) << "a timer without a period ticked";
    ASSERT_NE(RTEUSTEsettimer(ha, kTenMs), 0);
    const std::uint32_t fifteen[2] = {0, 15000000};
    ASSERT_NE(RTEUSTEsettimer(hb, fifteen), 0);
    ASSERT_TRUE(WaitForTicks(a, 10));
    ASSERT_TRUE(WaitForTicks(b, 5));
    EXPECT_NE(RTEUSTEdiscardtimer(ha), 0);
    EXPECT_NE(RTEUSTEdiscardtimer(hb), 0);
    const std::size_t after = Count(a);
    std::this_thread::sleep_for(40ms);
    EXPECT_EQ(Count(a), after) << "ticked after its discard returned";
    EXPECT_EQ(RTEUSTEdiscardtimer(ha), 0);

    std::set<std::thread::id> threads = a.threads;
    threads.insert(b.threads.begin(), b.threads.end());
    EXPECT_EQ(threads.size(), 1u) << "ticks ran on more than one thread";
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);
    // Ten ticks of 10 ms: the schedule holds its period on average.
    const auto span = a.times[9] - a.times[0];
    EXPECT_GE(span, 80ms);
    EXPECT_LT(span, 2s);
}

TEST(TimerService, ATimerDiscardedInsideItsOwnTickStopsAndTheServiceGoesOn) {
    ASSERT_NE(RTEUSTEinitialize(), 0);
    TickLog self, other;
    self.handle = RTEUSTEnewtimer(Tick, &self);
    self.discardInTick = true;
    const int ho = RTEUSTEnewtimer(Tick, &other);
    ASSERT_NE(RTEUSTEsettimer(self.handle, kTenMs), 0);
    ASSERT_NE(RTEUSTEsettimer(ho, kTenMs), 0);
    ASSERT_TRUE(WaitForTicks(self, 1));
    ASSERT_TRUE(WaitForTicks(other, 5));  // the thread survived
    EXPECT_EQ(Count(self), 1u);
    EXPECT_NE(self.discardResult.load(), 0);
    EXPECT_NE(RTEUSTEdiscardtimer(ho), 0);
}

TEST(TimerService, DiscardFromAnotherThreadWaitsForARunningTick) {
    ASSERT_NE(RTEUSTEinitialize(), 0);
    TickLog log;
    log.slow = true;
    const int h = RTEUSTEnewtimer(Tick, &log);
    ASSERT_NE(RTEUSTEsettimer(h, kTenMs), 0);
    while (!log.inTick) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_NE(RTEUSTEdiscardtimer(h), 0);
    EXPECT_FALSE(log.inTick.load()) << "discard returned while its tick still ran";
}

TEST(TimerService, ResolutionPriorityAndEngineTime) {
    ASSERT_NE(RTEUSTEinitialize(), 0);
    std::uint32_t resolution[2] = {9, 9};
    ASSERT_NE(RTEUSTEresolution(resolution), 0);
    EXPECT_EQ(resolution[0], 0u);
    EXPECT_EQ(resolution[1], 1000000u);
    std::uint32_t t1[2], t2[2];
    ASSERT_NE(RTEUSTElocaltime(t1), 0);
    std::this_thread::sleep_for(20ms);
    ASSERT_NE(RTEUSTElocaltime(t2), 0);
    const double d = (t2[0] - t1[0]) + (static_cast<double>(t2[1]) - t1[1]) / 1e9;
    EXPECT_GE(d, 0.019);
    EXPECT_LT(d, 5.0);
    EXPECT_LT(t1[1], 1000000000u);

    TickLog log;
    const int h = RTEUSTEnewtimer(Tick, &log);
    int priority = -1;
    EXPECT_NE(RTEUSTEsetpriority(h, 2), 0);
    EXPECT_NE(RTEUSTEgetpriority(h, &priority), 0);
    EXPECT_EQ(priority, 2);
    const std::uint32_t bad[2] = {0, 1000000000u};
    EXPECT_EQ(RTEUSTEsettimer(h, bad), 0);
    EXPECT_NE(RTEUSTEdiscardtimer(h), 0);
    EXPECT_EQ(RTEUSTEsetpriority(h, 2), 0);
}

TEST(AsyncCallback, EnterAndExitBracketOnThisThread) {
    alignas(8) unsigned char context[RTE_ASYNC_CALLBACK_CONTEXT_SIZE] = {};
    EXPECT_EQ(RTE_InAsyncCallback(), 0);
    EXPECT_EQ(EnterAsyncCallback(context), RTE_OK);
    EXPECT_EQ(RTE_InAsyncCallback(), 1);
    EXPECT_EQ(ExitAsyncCallback(context), RTE_OK);
    EXPECT_EQ(RTE_InAsyncCallback(), 0);
    EXPECT_EQ(ExitAsyncCallback(context), RTE_ERR_BAD_ARGUMENT);
    EXPECT_EQ(EnterAsyncCallback(nullptr), RTE_ERR_BAD_ARGUMENT);
}

}  // namespace
