// Posting between the port threads and to the user-interface thread.
#include <rte.h>

#include <mutex>

#include "TideCommInternal.h"

namespace {

// A deferred call carries the callback chosen when the event happened, so a later install
// does not redirect an event already on its way, and, for OnComm, the event code. The
// (callback, port, event) triples are interned in a table that lives as long as the process:
// a call the engine drops unrun (at quit) leaks nothing, and posting never allocates once a
// triple is known.
struct DeferredEvent {
    TideCommEventCallback callback;
    int port;
    int commEvent;  // 0: not an OnComm call
};

constexpr int kDeferredEventSlots = 256;
std::mutex deferredEventsMutex;
DeferredEvent deferredEvents[kDeferredEventSlots];
int deferredEventCount = 0;

DeferredEvent* InternDeferredEvent(TideCommEventCallback callback, int port, int commEvent) {
    std::lock_guard lock(deferredEventsMutex);
    for (int i = 0; i < deferredEventCount; ++i) {
        if (deferredEvents[i].callback == callback && deferredEvents[i].port == port &&
            deferredEvents[i].commEvent == commEvent) {
            return &deferredEvents[i];
        }
    }
    if (deferredEventCount == kDeferredEventSlots) {
        return nullptr;
    }
    deferredEvents[deferredEventCount] = {callback, port, commEvent};
    return &deferredEvents[deferredEventCount++];
}

void RunDeferredEvent(void* data) {
    const DeferredEvent* event = static_cast<const DeferredEvent*>(data);
    if (event->commEvent != 0) {
        if (TideCommPortRecord* record = TideComm_GetSystemStructPtr(event->port)) {
            record->commEvent = event->commEvent;
        }
    }
    event->callback(event->port);
}

int PostDeferredEvent(TideCommEventCallback callback, int port, int commEvent) {
    if (callback == nullptr) {
        return 0;
    }
    // More distinct callbacks than slots would take a program that installs new functions
    // endlessly; such an event is dropped like any call that cannot be queued.
    DeferredEvent* event = InternDeferredEvent(callback, port, commEvent);
    return event != nullptr && PostDeferredCall(RunDeferredEvent, event) >= 0 ? 1 : 0;
}

}  // namespace

int TideCommPostEventCallback(TideCommEventCallback callback, int port) {
    return PostDeferredEvent(callback, port, 0);
}

int TideCommPostOnCommCallback(TideCommEventCallback callback, int port, int eventCode) {
    return PostDeferredEvent(callback, port, eventCode);
}

int TideCommPostDispatch(TideCommPortRecord* record, UINT message, WPARAM wParam, LPARAM lParam) {
    return PostThreadMessageA(record->dispatchThreadId, message, wParam, lParam) ? 1 : 0;
}

int TideCommRequestHangupEvent(TideCommPortRecord* record) {
    return TideCommPostDispatch(record, TIDECOMM_MSG_HANGUP, static_cast<WPARAM>(record->port), 0);
}

int TideCommAwaitMessage(TideCommPortRecord* record) {
    DWORD wait = MsgWaitForMultipleObjects(1, &record->stopEvent, FALSE, INFINITE, QS_ALLINPUT);
    if (wait == WAIT_OBJECT_0) {
        return 0;
    }
    if (wait != WAIT_OBJECT_0 + 1) {
        TideCommRequestHangupEvent(record);
        return 0;
    }
    return 1;
}

int TideCommReceiveErrorEvent(TideCommPortRecord* record) {
    if (TideCommPostDispatch(record, TIDECOMM_MSG_RECEIVE_ERROR, static_cast<WPARAM>(record->port),
                             static_cast<LPARAM>(record->lineErrors))) {
        return 1;
    }
    TideCommRequestHangupEvent(record);
    return 0;
}

int ModemStateChange(TideCommPortRecord* record, UINT message) {
    if (TideCommPostDispatch(record, message, static_cast<WPARAM>(record->port),
                             static_cast<LPARAM>(record->modemEvent.load()))) {
        return 1;
    }
    TideCommRequestHangupEvent(record);
    return 0;
}

int TideCommUserDebugEvent(TideCommPortRecord* record) {
    int granted = record->zeroErrorCount.load();
    while (granted <= 9) {
        if (record->zeroErrorCount.compare_exchange_weak(granted, granted + 1)) {
            return 1;
        }
    }
    return 0;
}
