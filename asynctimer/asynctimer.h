// Periodic timers whose callbacks run on the engine's timer thread.
#pragma once

#ifdef __cplusplus
#include <cstdarg>
extern "C" {
#else
#include <stdarg.h>
#endif

// Callback(0, timer ID, event, callback data, &seconds since the first tick,
// &seconds since the previous tick); the two event data point to doubles.
typedef int (*AsyncTimerCallbackPtr)(int reserved, int timerId, int event, void* callbackData,
                                     void* eventData1, void* eventData2);

enum {
    ASYNC_TIMER_EVENT_TICK = 15,
    ASYNC_TIMER_EVENT_DISCARD = 16,
};

enum {
    TIMER_ATTR_INTERVAL = 1,       // double, seconds
    TIMER_ATTR_COUNT = 2,          // int, negative = unlimited
    TIMER_ATTR_ENABLED = 3,        // int, 0 or 1
    TIMER_ATTR_CALLBACK_DATA = 4,  // void*
    TIMER_ATTR_CALLBACK = 5,       // AsyncTimerCallbackPtr
    TIMER_ATTR_PRIORITY = 6,       // int, read-only
};

enum {
    TIMER_ERR_ENGINE = -2,
    TIMER_ERR_NO_IDS = -3,
    TIMER_ERR_NO_MEMORY = -4,
    TIMER_ERR_BAD_ID = -5,
    TIMER_ERR_INIT = -6,
    TIMER_ERR_BAD_ARG = -7,
    TIMER_ERR_NOT_SUPPORTED = -8,
    TIMER_ERR_READ_ONLY = -9,
};

int NewAsyncTimer(double interval, int count, int initialState, AsyncTimerCallbackPtr callback,
                  void* callbackData);
int NewAsyncTimerWithPriority(double interval, int count, int initialState,
                              AsyncTimerCallbackPtr callback, void* callbackData, int priority);
// id -1 discards every timer.
int DiscardAsyncTimer(int id);
int SuspendAsyncTimerCallbacks(void);
int ResumeAsyncTimerCallbacks(void);
// The value's type follows the attribute (see TIMER_ATTR_*).
int SetAsyncTimerAttribute(int id, int attribute, ...);
int SetAsyncTimerAttributeFromParmInfo(int id, int attribute, va_list value);
int GetAsyncTimerAttribute(int id, int attribute, void* value);
int GetAsyncTimerResolution(double* resolution);

#ifdef __cplusplus
}
#endif
