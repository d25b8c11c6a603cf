#include "TideCommStopwatch.h"

TideCommTimer TideTimer;

static long long ReadCounter(void) {
    QueryPerformanceCounter(&TideTimer.counter);
    return TideTimer.counter.QuadPart;
}

// Updates now, elapsedTicks and elapsed. Without a start the frequency is 0
// and the division gives infinity or NaN, both of which end a wait.
static void TakeReading(void) {
    TideTimer.now = ReadCounter();
    TideTimer.elapsedTicks =
        static_cast<double>(TideTimer.now) - static_cast<double>(TideTimer.start);
    TideTimer.elapsed = TideTimer.elapsedTicks / TideTimer.frequency;
}

void TideComm_TimerStart(void) {
    QueryPerformanceFrequency(&TideTimer.counter);
    TideTimer.frequency = static_cast<double>(TideTimer.counter.QuadPart);
    TideTimer.start = ReadCounter();
    TideTimer.reserved = 0;
}

void TideComm_TimerWait(double seconds) {
    do {
        TakeReading();
    } while (TideTimer.elapsed < seconds);
}

void TideComm_TimerDelay(double seconds) {
    TideComm_TimerStart();
    TideComm_TimerWait(seconds);
}

void TideComm_TimerSetTimer(double seconds) {
    TideComm_TimerStart();
    TideTimer.period = seconds;
}

double TideComm_TimerGetTimer(void) {
    TideTimer.now = ReadCounter();
    return (static_cast<double>(TideTimer.now) - static_cast<double>(TideTimer.start)) /
           TideTimer.frequency;
}

int TideComm_TimerStop(void) {
    TakeReading();
    return TideTimer.period > TideTimer.elapsed ? 1 : 0;
}
