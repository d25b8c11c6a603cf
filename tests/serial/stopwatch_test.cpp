#include <gtest/gtest.h>

#include <chrono>

#include "TideCommStopwatch.h"

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

TEST(Stopwatch, DelayLastsAtLeastTheAskedTimeOnTheSystemClock) {
    const auto t0 = Clock::now();
    TideComm_TimerDelay(0.02);
    const double real = SecondsSince(t0);
    EXPECT_GE(real, 0.02);
    EXPECT_GT(TideTimer.frequency, 0.0);
    EXPECT_GE(TideTimer.elapsed, 0.02);
    EXPECT_DOUBLE_EQ(TideTimer.elapsed, TideTimer.elapsedTicks / TideTimer.frequency);
    // The counter's idea of a second agrees with the system's (loosely).
    EXPECT_LT(TideTimer.elapsed, real + 0.01);
}

TEST(Stopwatch, StopReportsWhetherThePeriodIsStillRunning) {
    TideComm_TimerSetTimer(0.0);
    EXPECT_EQ(TideComm_TimerStop(), 0);

    TideComm_TimerSetTimer(1.0);
    EXPECT_EQ(TideComm_TimerStop(), 1);
    EXPECT_DOUBLE_EQ(TideTimer.period, 1.0);

    TideComm_TimerSetTimer(0.03);
    EXPECT_EQ(TideComm_TimerStop(), 1);
    TideComm_TimerWait(0.03);
    EXPECT_EQ(TideComm_TimerStop(), 0);
}

TEST(Stopwatch, GetTimerGrowsFromTheSameStartAndLeavesElapsedAlone) {
    TideComm_TimerStart();
    EXPECT_EQ(TideTimer.reserved, 0);
    const long long start = TideTimer.start;
    TideComm_TimerStop();
    const double elapsedBefore = TideTimer.elapsed;

    const double first = TideComm_TimerGetTimer();
    const auto t0 = Clock::now();
    while (SecondsSince(t0) < 0.005) {
    }
    const double second = TideComm_TimerGetTimer();
    EXPECT_GE(first, 0.0);
    EXPECT_GE(second - first, 0.005);
    EXPECT_EQ(TideTimer.start, start);
    EXPECT_DOUBLE_EQ(TideTimer.elapsed, elapsedBefore);
}

TEST(Stopwatch, WaitForATimeAlreadyPastReturnsAtOnce) {
    TideComm_TimerStart();
    TideComm_TimerWait(0.02);
    const auto t0 = Clock::now();
    TideComm_TimerWait(0.01);
    TideComm_TimerWait(0.0);
    TideComm_TimerWait(-1.0);
    EXPECT_LT(SecondsSince(t0), 0.5);
    // Measured from the same start, not restarted by the waits.
    EXPECT_GE(TideTimer.elapsed, 0.02);
}

}  // namespace
