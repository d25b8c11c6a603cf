// Each timer is a record driven by one engine timer. Records live on the
// active list while the timer is live and on the free list afterwards, so an
// ID is reused with its record until the last live timer goes.
#include "asynctimer.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "rte.h"

namespace {

struct TimerRecord {
    int id;
    AsyncTimerCallbackPtr callback;
    void* callbackData;
    int count;
    int enabled;
    int engineTimer;
    std::uint32_t tickPeriod[2];
    double startTime;
    double lastTime;
    int firstTick;
    int isLive;   // on the active list
    int ticking;  // a tick callback is running: the record must outlive it
    alignas(std::max_align_t) unsigned char callbackContext[RTE_ASYNC_CALLBACK_CONTEXT_SIZE];
    TimerRecord* prev;
    TimerRecord* next;
};

struct TimerList {
    TimerRecord* head;
    TimerRecord* tail;
};

constexpr int kNoLock = -1;
constexpr int kDefaultPriority = 2;
constexpr char kInitLockPrefix[] = "chipload.asynctimer.init.";

std::atomic<CmtLockHandle> initLock{kNoLock};
std::atomic<CmtLockHandle> listLock{kNoLock};
std::atomic<int> onRealTimeSystem{0};
std::atomic<double> resolutionCache{-1.0};

// Guarded by listLock.
int callbacksEnabled = 1;
int nextTimerId = 1;
TimerList activeList = {nullptr, nullptr};
TimerList freeList = {nullptr, nullptr};

double ToSeconds(const std::uint32_t time[2]) {
    return static_cast<double>(time[0]) + static_cast<double>(time[1]) / 1e9;
}

double EngineTime() {
    std::uint32_t now[2] = {0, 0};
    RTEUSTElocaltime(now);
    return ToSeconds(now);
}

bool ReadRealTimeSystemFlag() {
    const char* os = std::getenv("OS");
    if (os == nullptr) {
        return false;
    }
    char copy[65] = {0};
    std::strncpy(copy, os, 64);
    return strncasecmp(copy, "PHARLAP", 7) == 0;
}

bool CreateInitLock() {
    char name[64];
    std::snprintf(name, sizeof name, "%s%ld", kInitLockPrefix, static_cast<long>(getpid()));
    CmtLockHandle fresh = kNoLock;
    if (CmtNewLock(name, 0, &fresh) < 0) {
        return false;
    }
    CmtLockHandle expected = kNoLock;
    if (!initLock.compare_exchange_strong(expected, fresh)) {
        CmtDiscardLock(fresh);
    }
    return true;
}

// Runs at the start of every operation; false means TIMER_ERR_INIT.
bool Initialize() {
    if (initLock.load() == kNoLock && !CreateInitLock()) {
        return false;
    }
    const CmtLockHandle lock = initLock.load();
    CmtGetLock(lock);
    bool ok = true;
    if (listLock.load() == kNoLock) {
        CmtLockHandle fresh = kNoLock;
        if (CmtNewLock(nullptr, 0, &fresh) < 0) {
            ok = false;
        } else {
            listLock.store(fresh);
        }
    }
    if (ok && RTEUSTEinitialize() == 0) {
        ok = false;
    }
    if (ok) {
        onRealTimeSystem.store(ReadRealTimeSystemFlag() ? 1 : 0);
    }
    CmtReleaseLock(lock);
    return ok;
}

void LockList() {
    CmtGetLock(listLock.load());
}
void UnlockList() {
    CmtReleaseLock(listLock.load());
}

double Resolution() {
    double cached = resolutionCache.load();
    if (cached < 0.0) {
        std::uint32_t period[2] = {0, 0};
        RTEUSTEresolution(period);
        cached = ToSeconds(period);
        resolutionCache.store(cached);
    }
    return cached;
}

void SplitPeriod(double seconds, std::uint32_t period[2]) {
    const double whole = std::floor(seconds);
    period[0] = static_cast<std::uint32_t>(whole);
    period[1] = static_cast<std::uint32_t>((seconds - whole) * 1e9);
}

void Unlink(TimerList& list, TimerRecord* record) {
    if (record->prev != nullptr) {
        record->prev->next = record->next;
    } else {
        list.head = record->next;
    }
    if (record->next != nullptr) {
        record->next->prev = record->prev;
    } else {
        list.tail = record->prev;
    }
    record->prev = record->next = nullptr;
}

void Append(TimerList& list, TimerRecord* record) {
    record->prev = list.tail;
    record->next = nullptr;
    if (list.tail != nullptr) {
        list.tail->next = record;
    } else {
        list.head = record;
    }
    list.tail = record;
}

void Push(TimerList& list, TimerRecord* record) {
    record->prev = nullptr;
    record->next = list.head;
    if (list.head != nullptr) {
        list.head->prev = record;
    } else {
        list.tail = record;
    }
    list.head = record;
}

// A record still being created (no engine timer yet) is not live to anyone
// else: its creator alone may finish or undo it.
bool IsReady(const TimerRecord* record) {
    return record->engineTimer != 0;
}

TimerRecord* FindLive(int id) {
    for (TimerRecord* record = activeList.head; record != nullptr; record = record->next) {
        if (record->id == id && IsReady(record)) {
            return record;
        }
    }
    return nullptr;
}

TimerRecord* FirstReady() {
    for (TimerRecord* record = activeList.head; record != nullptr; record = record->next) {
        if (IsReady(record)) {
            return record;
        }
    }
    return nullptr;
}

void ClearRecord(TimerRecord* record) {
    record->engineTimer = 0;
    record->enabled = 0;
    record->count = 0;
    record->callback = nullptr;
    record->callbackData = nullptr;
}

// With no live timer left the spare records go, except one whose tick
// callback still runs (it discarded its own timer); IDs restart at 1 once
// every record is gone.
void PurgeIdleRecords() {
    if (activeList.head != nullptr) {
        return;
    }
    TimerRecord* record = freeList.head;
    while (record != nullptr) {
        TimerRecord* const next = record->next;
        if (record->ticking == 0) {
            Unlink(freeList, record);
            delete record;
        }
        record = next;
    }
    if (freeList.head == nullptr) {
        nextTimerId = 1;
    }
}

void RetireRecord(TimerRecord* record) {
    record->isLive = 0;
    Push(freeList, record);
    PurgeIdleRecords();
}

// Entered and left with listLock held; releases it around the engine call
// and the discard callback.
void DiscardRecord(TimerRecord* record) {
    record->enabled = 0;
    Unlink(activeList, record);
    record->isLive = 0;
    const double now = EngineTime();
    double sinceStart = now - record->startTime;
    double sinceLast = now - record->lastTime;
    record->lastTime = now;
    if (record->engineTimer != 0) {
        const int engineTimer = record->engineTimer;
        const AsyncTimerCallbackPtr callback = record->callback;
        void* const data = record->callbackData;
        const int id = record->id;
        UnlockList();
        RTEUSTEdiscardtimer(engineTimer);
        if (callback != nullptr) {
            callback(0, id, ASYNC_TIMER_EVENT_DISCARD, data, &sinceStart, &sinceLast);
        }
        LockList();
        ClearRecord(record);
    }
    RetireRecord(record);
}

void TickHandler(void* argument) {
    auto* record = static_cast<TimerRecord*>(argument);
    LockList();
    if (callbacksEnabled == 0 || record->isLive == 0 || record->enabled == 0) {
        UnlockList();
        return;
    }
    if (record->count == 0) {
        DiscardRecord(record);
        UnlockList();
        return;
    }
    if (record->count > 0) {
        record->count--;
    }
    const double now = EngineTime();
    if (record->firstTick != 0) {
        record->startTime = now;
        record->lastTime = now;
        record->firstTick = 0;
    }
    double sinceStart = now - record->startTime;
    double sinceLast = now - record->lastTime;
    record->lastTime = now;
    const AsyncTimerCallbackPtr callback = record->callback;
    void* const data = record->callbackData;
    const int id = record->id;
    record->ticking++;
    UnlockList();

    EnterAsyncCallback(record->callbackContext);
    if (callback != nullptr) {
        callback(0, id, ASYNC_TIMER_EVENT_TICK, data, &sinceStart, &sinceLast);
    }
    ExitAsyncCallback(record->callbackContext);

    LockList();
    record->ticking--;
    PurgeIdleRecords();
    UnlockList();
}

int CreateTimer(double interval, int count, int initialState, AsyncTimerCallbackPtr callback,
                void* callbackData, int priority) {
    if (initialState < 0 || initialState > 1 || !(interval >= 0.0) || count == 0) {
        return TIMER_ERR_BAD_ARG;
    }
    LockList();
    TimerRecord* record = freeList.head;
    if (record != nullptr) {
        Unlink(freeList, record);
    } else {
        if (nextTimerId < 1) {
            UnlockList();
            return TIMER_ERR_NO_IDS;
        }
        record = new (std::nothrow) TimerRecord{};
        if (record == nullptr) {
            UnlockList();
            return TIMER_ERR_NO_MEMORY;
        }
        record->id = nextTimerId;
        // Past INT_MAX the counter wraps below 1 and the next allocation is refused.
        nextTimerId = static_cast<int>(static_cast<unsigned int>(nextTimerId) + 1U);
    }
    Append(activeList, record);
    record->isLive = 1;

    const double resolution = Resolution();
    if (resolution == 0.0) {
        ClearRecord(record);
        Unlink(activeList, record);
        RetireRecord(record);
        UnlockList();
        return TIMER_ERR_ENGINE;
    }
    record->enabled = 0;
    record->count = count;
    record->callback = callback;
    record->callbackData = callbackData;
    record->firstTick = 1;
    record->startTime = 0.0;
    record->lastTime = 0.0;
    SplitPeriod(std::max(interval, resolution), record->tickPeriod);
    const std::uint32_t period[2] = {record->tickPeriod[0], record->tickPeriod[1]};
    UnlockList();

    int engineTimer = RTEUSTEnewtimer(TickHandler, record);
    if (engineTimer != 0) {
        RTEUSTEsetpriority(engineTimer, priority);
        if (RTEUSTEsettimer(engineTimer, period) == 0) {
            RTEUSTEdiscardtimer(engineTimer);
            engineTimer = 0;
        }
    }

    LockList();
    if (engineTimer != 0) {
        record->engineTimer = engineTimer;
        record->enabled = initialState;
        const int id = record->id;
        UnlockList();
        return id;
    }
    ClearRecord(record);
    Unlink(activeList, record);
    RetireRecord(record);
    UnlockList();
    return TIMER_ERR_ENGINE;
}

}  // namespace

int NewAsyncTimer(double interval, int count, int initialState, AsyncTimerCallbackPtr callback,
                  void* callbackData) {
    if (!Initialize()) {
        return TIMER_ERR_INIT;
    }
    return CreateTimer(interval, count, initialState, callback, callbackData, kDefaultPriority);
}

int NewAsyncTimerWithPriority(double interval, int count, int initialState,
                              AsyncTimerCallbackPtr callback, void* callbackData, int priority) {
    if (!Initialize()) {
        return TIMER_ERR_INIT;
    }
    if (onRealTimeSystem.load() == 0) {
        return TIMER_ERR_NOT_SUPPORTED;
    }
    return CreateTimer(interval, count, initialState, callback, callbackData, priority);
}

int DiscardAsyncTimer(int id) {
    if (!Initialize()) {
        return TIMER_ERR_INIT;
    }
    LockList();
    if (id == -1) {
        for (TimerRecord* record = FirstReady(); record != nullptr; record = FirstReady()) {
            DiscardRecord(record);
        }
    } else {
        TimerRecord* record = FindLive(id);
        if (record == nullptr) {
            UnlockList();
            return TIMER_ERR_BAD_ID;
        }
        DiscardRecord(record);
    }
    UnlockList();
    return 0;
}

int SuspendAsyncTimerCallbacks(void) {
    if (!Initialize()) {
        return TIMER_ERR_INIT;
    }
    LockList();
    callbacksEnabled = 0;
    UnlockList();
    return 0;
}

int ResumeAsyncTimerCallbacks(void) {
    if (!Initialize()) {
        return TIMER_ERR_INIT;
    }
    LockList();
    callbacksEnabled = 1;
    UnlockList();
    return 0;
}

// Checks an attribute call and finds its timer; on success (0) the list stays
// locked for the caller, who unlocks it.
static int LockAttributeTarget(int id, int attribute, TimerRecord** record) {
    if (!Initialize()) {
        return TIMER_ERR_INIT;
    }
    if (attribute < TIMER_ATTR_INTERVAL || attribute > TIMER_ATTR_PRIORITY) {
        return TIMER_ERR_BAD_ARG;
    }
    LockList();
    *record = FindLive(id);
    if (*record == nullptr) {
        UnlockList();
        return TIMER_ERR_BAD_ID;
    }
    return 0;
}

int SetAsyncTimerAttribute(int id, int attribute, ...) {
    va_list value;
    va_start(value, attribute);
    const int result = SetAsyncTimerAttributeFromParmInfo(id, attribute, value);
    va_end(value);
    return result;
}

int SetAsyncTimerAttributeFromParmInfo(int id, int attribute, va_list value) {
    TimerRecord* record = nullptr;
    if (const int refused = LockAttributeTarget(id, attribute, &record)) {
        return refused;
    }
    int result = 0;
    switch (attribute) {
        case TIMER_ATTR_INTERVAL: {
            const double interval = va_arg(value, double);
            if (!(interval >= 0.0)) {
                result = TIMER_ERR_BAD_ARG;
                break;
            }
            std::uint32_t period[2];
            SplitPeriod(std::max(interval, Resolution()), period);
            if (RTEUSTEsettimer(record->engineTimer, period) == 0) {
                result = TIMER_ERR_ENGINE;
                break;
            }
            record->tickPeriod[0] = period[0];
            record->tickPeriod[1] = period[1];
            break;
        }
        case TIMER_ATTR_COUNT: {
            const int count = va_arg(value, int);
            if (count == 0) {
                result = TIMER_ERR_BAD_ARG;
            } else {
                record->count = count;
            }
            break;
        }
        case TIMER_ATTR_ENABLED: {
            const int enabled = va_arg(value, int);
            if (enabled != 0 && enabled != 1) {
                result = TIMER_ERR_BAD_ARG;
            } else {
                record->enabled = enabled;
            }
            break;
        }
        case TIMER_ATTR_CALLBACK_DATA:
            record->callbackData = va_arg(value, void*);
            break;
        case TIMER_ATTR_CALLBACK:
            record->callback = va_arg(value, AsyncTimerCallbackPtr);
            break;
        case TIMER_ATTR_PRIORITY:
            result = onRealTimeSystem.load() != 0 ? TIMER_ERR_READ_ONLY : TIMER_ERR_NOT_SUPPORTED;
            break;
    }
    UnlockList();
    return result;
}

int GetAsyncTimerAttribute(int id, int attribute, void* value) {
    TimerRecord* record = nullptr;
    if (const int refused = LockAttributeTarget(id, attribute, &record)) {
        return refused;
    }
    int result = 0;
    switch (attribute) {
        case TIMER_ATTR_INTERVAL:
            *static_cast<double*>(value) = ToSeconds(record->tickPeriod);
            break;
        case TIMER_ATTR_COUNT:
            *static_cast<int*>(value) = record->count;
            break;
        case TIMER_ATTR_ENABLED:
            *static_cast<int*>(value) = record->enabled;
            break;
        case TIMER_ATTR_CALLBACK_DATA:
            *static_cast<void**>(value) = record->callbackData;
            break;
        case TIMER_ATTR_CALLBACK:
            *static_cast<AsyncTimerCallbackPtr*>(value) = record->callback;
            break;
        case TIMER_ATTR_PRIORITY:
            if (onRealTimeSystem.load() != 0) {
                RTEUSTEgetpriority(record->engineTimer, static_cast<int*>(value));
            } else {
                result = TIMER_ERR_NOT_SUPPORTED;
            }
            break;
    }
    UnlockList();
    return result;
}

int GetAsyncTimerResolution(double* resolution) {
    if (!Initialize()) {
        return TIMER_ERR_INIT;
    }
    *resolution = Resolution();
    return *resolution == 0.0 ? TIMER_ERR_INIT : 0;
}
