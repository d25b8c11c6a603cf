// Posting between the port threads and to the user-interface thread.
#include <rte.h>

#include "TideCommInternal.h"

namespace {

// A deferred call carries the callback chosen when the event happened, so a later install
// does not redirect an event already on its way.
struct DeferredEvent {
    TideCommEventCallback callback;
    int port;
};

void RunDeferredEvent(void* data) {
    DeferredEvent* event = static_cast<DeferredEvent*>(data);
    TideCommEventCallback callback = event->callback;
    int port = event->port;
    delete event;
    callback(port);
}

}  // namespace

int TideCommPostEventCallback(TideCommEventCallback callback, int port) {
    if (callback == nullptr) {
        return 0;
    }
    DeferredEvent* event = new DeferredEvent{callback, port};
    if (PostDeferredCall(RunDeferredEvent, event) < 0) {
        delete event;
        return 0;
    }
    return 1;
}

int TideCommPostDispatch(TideCommPortRecord* record, UINT message, WPARAM wParam, LPARAM lParam) {
    return PostThreadMessageA(record->dispatchThreadId, message, wParam, lParam) ? 1 : 0;
}

int TideCommRequestHangupEvent(TideCommPortRecord* record) {
    return TideCommPostDispatch(record, TIDECOMM_MSG_HANGUP, static_cast<WPARAM>(record->port), 0);
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
