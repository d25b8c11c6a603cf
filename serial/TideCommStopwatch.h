// One program-wide stopwatch on the performance counter, with busy-wait
// delays. Times are seconds. Not locked: keep timer use to one thread at a
// time. Every start, delay or set-timer call restarts it.
#ifndef TIDECOMM_STOPWATCH_H
#define TIDECOMM_STOPWATCH_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TideCommTimer {
    LARGE_INTEGER counter;  // where each counter or frequency query lands
    long long start;
    long long now;
    double elapsedTicks;
    double frequency;
    double elapsed;
    double period;
    int reserved;
} TideCommTimer;

extern TideCommTimer TideTimer;

void TideComm_TimerStart(void);
// Spins (never sleeps) until `seconds` have passed since the last start; reads
// the counter at least once. Before the first start the readings are not
// meaningful and the wait returns at once.
void TideComm_TimerWait(double seconds);
void TideComm_TimerDelay(double seconds);
void TideComm_TimerSetTimer(double seconds);
double TideComm_TimerGetTimer(void);
// 1 while the period set by TideComm_TimerSetTimer has not yet run out, else 0.
int TideComm_TimerStop(void);

#ifdef __cplusplus
}
#endif

#endif
