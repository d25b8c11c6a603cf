#include "asynctimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "rte.h"

namespace {

using namespace std::chrono_literals;

// What one timer's callback saw, shared with the test thread.
struct Recorder {
    std::atomic<int> ticks{0};
    std::atomic<int> discards{0};
    std::atomic<int> insideAsyncBracket{-1};
    std::mutex mutex;
    std::vector<double> sinceStart;
    std::vector<double> sinceLast;
    std::vector<int> events;
};

int Record(int /*reserved*/, int /*timerId*/, int event, void* data, void* eventData1,
           void* eventData2) {
    auto* recorder = static_cast<Recorder*>(data);
    {
        std::lock_guard<std::mutex> lock(recorder->mutex);
        recorder->events.push_back(event);
        recorder->sinceStart.push_back(*static_cast<double*>(eventData1));
        recorder->sinceLast.push_back(*static_cast<double*>(eventData2));
    }
    recorder->insideAsyncBracket = RTE_InAsyncCallback();
    if (event == ASYNC_TIMER_EVENT_TICK) {
        recorder->ticks++;
    } else if (event == ASYNC_TIMER_EVENT_DISCARD) {
        recorder->discards++;
    }
    return 0;
}

template <typename Pred>
bool WaitFor(Pred pred, std::chrono::milliseconds timeout = 2s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class AsyncTimerTest : public ::testing::Test {
  protected:
    // Owned here so that TearDown's discards still find them alive.
    Recorder recorder;
    Recorder other;

    void TearDown() override {
        DiscardAsyncTimer(-1);
        ResumeAsyncTimerCallbacks();
        unsetenv("OS");
    }
};

TEST_F(AsyncTimerTest, RefusesBadArgumentsWithoutCreatingAnything) {
    EXPECT_EQ(TIMER_ERR_BAD_ARG, NewAsyncTimer(0.01, 0, 1, Record, &recorder));
    EXPECT_EQ(TIMER_ERR_BAD_ARG, NewAsyncTimer(0.01, -1, 2, Record, &recorder));
    EXPECT_EQ(TIMER_ERR_BAD_ARG, NewAsyncTimer(-0.5, -1, 1, Record, &recorder));
    // Nothing was taken from the ID counter.
    const int id = NewAsyncTimer(1.0, -1, 0, Record, &recorder);
    EXPECT_EQ(1, id);

    EXPECT_EQ(TIMER_ERR_BAD_ARG, SetAsyncTimerAttribute(id, TIMER_ATTR_COUNT, 0));
    EXPECT_EQ(TIMER_ERR_BAD_ARG, SetAsyncTimerAttribute(id, TIMER_ATTR_ENABLED, 2));
    EXPECT_EQ(TIMER_ERR_BAD_ARG, SetAsyncTimerAttribute(id, TIMER_ATTR_INTERVAL, -1.0));
    EXPECT_EQ(TIMER_ERR_BAD_ARG, SetAsyncTimerAttribute(id, 7, 1));
    int value = 0;
    EXPECT_EQ(TIMER_ERR_BAD_ARG, GetAsyncTimerAttribute(id, 0, &value));
    EXPECT_EQ(TIMER_ERR_BAD_ID, GetAsyncTimerAttribute(id + 1, TIMER_ATTR_COUNT, &value));
    EXPECT_EQ(TIMER_ERR_BAD_ID, SetAsyncTimerAttribute(id + 1, TIMER_ATTR_ENABLED, 1));
    EXPECT_EQ(0, GetAsyncTimerAttribute(id, TIMER_ATTR_COUNT, &value));
    EXPECT_EQ(-1, value);
}

TEST_F(AsyncTimerTest, AttributesReadBackAsSet) {
    const int id = NewAsyncTimer(1.5, 4, 0, Record, &recorder);
    ASSERT_GT(id, 0);
    double interval = 0;
    ASSERT_EQ(0, GetAsyncTimerAttribute(id, TIMER_ATTR_INTERVAL, &interval));
    EXPECT_DOUBLE_EQ(1.5, interval);
    ASSERT_EQ(0, SetAsyncTimerAttribute(id, TIMER_ATTR_INTERVAL, 0.25));
    ASSERT_EQ(0, GetAsyncTimerAttribute(id, TIMER_ATTR_INTERVAL, &interval));
    EXPECT_NEAR(0.25, interval, 1e-9);

    ASSERT_EQ(0, SetAsyncTimerAttribute(id, TIMER_ATTR_CALLBACK_DATA, static_cast<void*>(&other)));
    void* data = nullptr;
    ASSERT_EQ(0, GetAsyncTimerAttribute(id, TIMER_ATTR_CALLBACK_DATA, &data));
    EXPECT_EQ(&other, data);
    ASSERT_EQ(0, SetAsyncTimerAttribute(id, TIMER_ATTR_CALLBACK, AsyncTimerCallbackPtr{nullptr}));
    AsyncTimerCallbackPtr callback = Record;
    ASSERT_EQ(0, GetAsyncTimerAttribute(id, TIMER_ATTR_CALLBACK, &callback));
    EXPECT_EQ(nullptr, callback);
    int enabled = -1;
    ASSERT_EQ(0, SetAsyncTimerAttribute(id, TIMER_ATTR_ENABLED, 1));
    ASSERT_EQ(0, GetAsyncTimerAttribute(id, TIMER_ATTR_ENABLED, &enabled));
    EXPECT_EQ(1, enabled);
}

TEST_F(AsyncTimerTest, IntervalBelowResolutionRunsAtResolution) {
    double resolution = 0;
    ASSERT_EQ(0, GetAsyncTimerResolution(&resolution));
    ASSERT_GT(resolution, 0.0);
    const int id = NewAsyncTimer(0.0, 5, 1, Record, &recorder);
    ASSERT_GT(id, 0);
    double interval = -1;
    ASSERT_EQ(0, GetAsyncTimerAttribute(id, TIMER_ATTR_INTERVAL, &interval));
    EXPECT_DOUBLE_EQ(resolution, interval);
    EXPECT_TRUE(WaitFor([&] { return recorder.discards.load() == 1; }));
    EXPECT_EQ(5, recorder.ticks.load());
}

TEST_F(AsyncTimerTest, CountThreeGivesThreeTicksThenTheDiscardEvent) {
    const int id = NewAsyncTimer(0.01, 3, 1, Record, &recorder);
    ASSERT_GT(id, 0);
    ASSERT_TRUE(WaitFor([&] { return recorder.discards.load() == 1; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(3, recorder.ticks.load());
    EXPECT_EQ(1, recorder.discards.load());
    int count = 0;
    EXPECT_EQ(TIMER_ERR_BAD_ID, GetAsyncTimerAttribute(id, TIMER_ATTR_COUNT, &count));
    EXPECT_EQ(TIMER_ERR_BAD_ID, DiscardAsyncTimer(id));

    std::lock_guard<std::mutex> lock(recorder.mutex);
    ASSERT_EQ(4u, recorder.events.size());
    EXPECT_EQ((std::vector<int>{15, 15, 15, 16}), recorder.events);
    // Times run from the first delivered tick; each gap is about one period.
    EXPECT_DOUBLE_EQ(0.0, recorder.sinceStart[0]);
    EXPECT_DOUBLE_EQ(0.0, recorder.sinceLast[0]);
    EXPECT_GT(recorder.sinceStart[2], recorder.sinceStart[1]);
    EXPECT_NEAR(0.01, recorder.sinceLast[1], 0.009);
}

TEST_F(AsyncTimerTest, TickRunsInsideTheAsyncBracketDiscardDoesNot) {
    const int id = NewAsyncTimer(0.005, -1, 1, Record, &recorder);
    ASSERT_TRUE(WaitFor([&] { return recorder.ticks.load() >= 1; }));
    EXPECT_EQ(1, recorder.insideAsyncBracket.load());
    ASSERT_EQ(0, DiscardAsyncTimer(id));
    EXPECT_EQ(1, recorder.discards.load());
    EXPECT_EQ(0, recorder.insideAsyncBracket.load());
}

TEST_F(AsyncTimerTest, DisabledTimerKeepsItsCountAndTicksOnceEnabled) {
    const int id = NewAsyncTimer(0.02, 2, 0, Record, &recorder);
    ASSERT_GT(id, 0);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(0, recorder.ticks.load());
    int count = 0;
    ASSERT_EQ(0, GetAsyncTimerAttribute(id, TIMER_ATTR_COUNT, &count));
    EXPECT_EQ(2, count);

    const auto enabledAt = std::chrono::steady_clock::now();
    ASSERT_EQ(0, SetAsyncTimerAttribute(id, TIMER_ATTR_ENABLED, 1));
    ASSERT_TRUE(WaitFor([&] { return recorder.ticks.load() >= 1; }));
    // Within one period of the enabling (and a little scheduling slack).
    EXPECT_LT(std::chrono::steady_clock::now() - enabledAt, 100ms);
    ASSERT_EQ(0, GetAsyncTimerAttribute(id, TIMER_ATTR_COUNT, &count));
    EXPECT_LE(count, 1);
}

TEST_F(AsyncTimerTest, SuspendedCallbacksDropTicksWithoutUsingTheCount) {
    ASSERT_EQ(0, SuspendAsyncTimerCallbacks());
    const int id = NewAsyncTimer(0.01, 3, 1, Record, &recorder);
    ASSERT_GT(id, 0);
    std::this_thread::sleep_for(80ms);
    EXPECT_EQ(0, recorder.ticks.load());
    int count = 0;
    ASSERT_EQ(0, GetAsyncTimerAttribute(id, TIMER_ATTR_COUNT, &count));
    EXPECT_EQ(3, count);

    ASSERT_EQ(0, ResumeAsyncTimerCallbacks());
    ASSERT_TRUE(WaitFor([&] { return recorder.discards.load() == 1; }));
    EXPECT_EQ(3, recorder.ticks.load());
}

TEST_F(AsyncTimerTest, DiscardEventComesEvenWhileSuspended) {
    const int id = NewAsyncTimer(1.0, -1, 1, Record, &recorder);
    ASSERT_EQ(0, SuspendAsyncTimerCallbacks());
    ASSERT_EQ(0, DiscardAsyncTimer(id));
    EXPECT_EQ(1, recorder.discards.load());
}

TEST_F(AsyncTimerTest, IdsAreReusedAndRestartWhenNoTimerIsLive) {
    const int first = NewAsyncTimer(1.0, -1, 0, Record, &recorder);
    const int second = NewAsyncTimer(1.0, -1, 0, Record, &recorder);
    const int third = NewAsyncTimer(1.0, -1, 0, Record, &recorder);
    EXPECT_EQ(1, first);
    EXPECT_EQ(2, second);
    EXPECT_EQ(3, third);
    // Another timer stays live: the discarded record comes back with its ID.
    ASSERT_EQ(0, DiscardAsyncTimer(second));
    EXPECT_EQ(2, NewAsyncTimer(1.0, -1, 0, Record, &recorder));
    EXPECT_EQ(4, NewAsyncTimer(1.0, -1, 0, Record, &recorder));

    ASSERT_EQ(0, DiscardAsyncTimer(-1));
    EXPECT_EQ(5, recorder.discards.load());
    EXPECT_EQ(TIMER_ERR_BAD_ID, DiscardAsyncTimer(first));
    // The last live timer went: numbering starts again.
    EXPECT_EQ(1, NewAsyncTimer(1.0, -1, 0, Record, &recorder));
    ASSERT_EQ(0, DiscardAsyncTimer(1));
    EXPECT_EQ(1, NewAsyncTimer(1.0, -1, 0, Record, &recorder));
}

TEST_F(AsyncTimerTest, PriorityIsOnlyForTheRealTimeSystem) {
    EXPECT_EQ(TIMER_ERR_NOT_SUPPORTED, NewAsyncTimerWithPriority(1.0, -1, 0, Record, &recorder, 5));
    const int id = NewAsyncTimer(1.0, -1, 0, Record, &recorder);
    int priority = 0;
    EXPECT_EQ(TIMER_ERR_NOT_SUPPORTED, SetAsyncTimerAttribute(id, TIMER_ATTR_PRIORITY, 1));
    EXPECT_EQ(TIMER_ERR_NOT_SUPPORTED, GetAsyncTimerAttribute(id, TIMER_ATTR_PRIORITY, &priority));

    setenv("OS", "pharlap ETS", 1);
    const int realTime = NewAsyncTimerWithPriority(1.0, -1, 0, Record, &recorder, 5);
    ASSERT_GT(realTime, 0);
    EXPECT_EQ(TIMER_ERR_READ_ONLY, SetAsyncTimerAttribute(realTime, TIMER_ATTR_PRIORITY, 1));
    ASSERT_EQ(0, GetAsyncTimerAttribute(realTime, TIMER_ATTR_PRIORITY, &priority));
    EXPECT_EQ(5, priority);
    ASSERT_EQ(0, GetAsyncTimerAttribute(id, TIMER_ATTR_PRIORITY, &priority));
    EXPECT_EQ(2, priority);  // the default handed to the engine
}

int DiscardSelf(int /*reserved*/, int timerId, int event, void* data, void* /*eventData1*/,
                void* /*eventData2*/) {
    auto* recorder = static_cast<Recorder*>(data);
    if (event == ASYNC_TIMER_EVENT_TICK) {
        recorder->ticks++;
        DiscardAsyncTimer(timerId);
    } else if (event == ASYNC_TIMER_EVENT_DISCARD) {
        recorder->discards++;
    }
    return 0;
}

TEST_F(AsyncTimerTest, CallbackMayDiscardItsOwnTimer) {
    const int id = NewAsyncTimer(0.005, -1, 1, DiscardSelf, &recorder);
    ASSERT_TRUE(WaitFor([&] { return recorder.discards.load() == 1; }));
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(1, recorder.ticks.load());
    EXPECT_EQ(TIMER_ERR_BAD_ID, DiscardAsyncTimer(id));
}

TEST_F(AsyncTimerTest, DisablingAndDiscardingFromAnotherThreadWhileTicking) {
    for (int round = 0; round < 20; round++) {
        const int id = NewAsyncTimer(0.001, -1, 1, Record, &recorder);
        ASSERT_GT(id, 0);
        std::this_thread::sleep_for(2ms);
        ASSERT_EQ(0, SetAsyncTimerAttribute(id, TIMER_ATTR_ENABLED, 0));
        ASSERT_EQ(0, SetAsyncTimerAttribute(id, TIMER_ATTR_ENABLED, 1));
        ASSERT_EQ(0, DiscardAsyncTimer(id));
    }
    EXPECT_EQ(20, recorder.discards.load());
    const int ticksAfterDiscards = recorder.ticks.load();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(ticksAfterDiscards, recorder.ticks.load());
}

}  // namespace
