// Events and the wait functions.
#include <windows.h>

#include <map>
#include <string>

#include "src/creation_faults.h"
#include "src/sync.h"

namespace chipload::win32 {
namespace {

class Event : public Waitable {
  public:
    Event(bool manualReset, bool initialState)
        : manualReset_(manualReset), signaled_(initialState) {}

    bool signaledLocked() const override { return signaled_; }
    void acquireLocked() override {
        if (!manualReset_) {
            signaled_ = false;
        }
    }
    void setLocked() {
        signaled_ = true;
        wakeWaitersLocked();
    }
    void resetLocked() { signaled_ = false; }

  private:
    const bool manualReset_;
    bool signaled_;
};

// Named events are shared by name while any handle to them is open.
std::map<std::string, std::weak_ptr<Event>>& namedEvents() {
    static auto* events = new std::map<std::string, std::weak_ptr<Event>>;
    return *events;
}

}  // namespace
}  // namespace chipload::win32

using namespace chipload::win32;

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL bManualReset, BOOL bInitialState,
                           LPCSTR lpName) {
    if (auto injected = takeCreateEventFailure()) {
        SetLastError(*injected);
        return nullptr;
    }
    std::shared_ptr<Event> event;
    DWORD error = ERROR_SUCCESS;
    {
        std::lock_guard lock(syncMutex());
        if (lpName != nullptr) {
            auto& named = namedEvents()[lpName];
            event = named.lock();
            if (event) {
                error = ERROR_ALREADY_EXISTS;
            } else {
                event = std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE);
                named = event;
            }
        } else {
            event = std::make_shared<Event>(bManualReset != FALSE, bInitialState != FALSE);
        }
    }
    HANDLE handle = registerHandle(std::move(event));
    SetLastError(error);
    return handle;
}

BOOL WINAPI SetEvent(HANDLE hEvent) {
    auto event = findHandleAs<Event>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(syncMutex());
    event->setLocked();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE hEvent) {
    auto event = findHandleAs<Event>(hEvent);
    if (!event) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::lock_guard lock(syncMutex());
    event->resetLocked();
    return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD dwMilliseconds) {
    return WaitForMultipleObjects(1, &hHandle, FALSE, dwMilliseconds);
}

DWORD WINAPI WaitForMultipleObjects(DWORD nCount, const HANDLE* lpHandles, BOOL bWaitAll,
                                    DWORD dwMilliseconds) {
    std::vector<std::shared_ptr<Waitable>> objects;
    if (nCount == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WAIT_FAILED;
    }
    if (!collectWaitables(nCount, lpHandles, objects)) {
        return WAIT_FAILED;
    }
    return waitForObjects(objects, bWaitAll != FALSE, dwMilliseconds, 0);
}
