// Thread message queues. Only thread messages exist here (there are no
// windows), so TranslateMessage and DispatchMessageA have nothing to do.
#include <windows.h>

#include <algorithm>

#include "src/sync.h"

using namespace chipload::win32;

namespace {

// Windows refuses posts beyond this many waiting messages per queue.
constexpr std::size_t kQueueLimit = 10000;
constexpr DWORD kPostedInput = QS_POSTMESSAGE | QS_ALLPOSTMESSAGE;

bool matches(const MSG& message, UINT filterMin, UINT filterMax) {
    if (filterMin == 0 && filterMax == 0) {
        return true;
    }
    return message.message >= filterMin && message.message <= filterMax;
}

// Takes (or copies) the first matching message; syncMutex held.
bool takeMessageLocked(ThreadState& self, LPMSG out, UINT filterMin, UINT filterMax, bool remove) {
    self.newInput = 0;
    auto it = std::find_if(self.queue.begin(), self.queue.end(),
                           [&](const MSG& m) { return matches(m, filterMin, filterMax); });
    if (it == self.queue.end()) {
        return false;
    }
    *out = *it;
    if (remove) {
        self.queue.erase(it);
    }
    return true;
}

}  // namespace

BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam) {
    const DWORD now = GetTickCount();
    std::lock_guard lock(syncMutex());
    auto target = findThreadLocked(idThread);
    if (!target) {
        SetLastError(ERROR_INVALID_THREAD_ID);
        return FALSE;
    }
    if (target->queue.size() >= kQueueLimit) {
        SetLastError(ERROR_NOT_ENOUGH_QUOTA);
        return FALSE;
    }
    target->queue.push_back(MSG{nullptr, Msg, wParam, lParam, now, POINT{0, 0}});
    target->newInput |= kPostedInput;
    target->wakeup.notify_all();
    return TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND, UINT wMsgFilterMin, UINT wMsgFilterMax,
                         UINT wRemoveMsg) {
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto& self = currentThread();
    std::unique_lock lock(syncMutex());
    holdIfSuspendedLocked(self, lock);
    return takeMessageLocked(self, lpMsg, wMsgFilterMin, wMsgFilterMax,
                             (wRemoveMsg & PM_REMOVE) != 0)
               ? TRUE
               : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND, UINT wMsgFilterMin, UINT wMsgFilterMax) {
    if (lpMsg == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    auto& self = currentThread();
    std::unique_lock lock(syncMutex());
    for (;;) {
        holdIfSuspendedLocked(self, lock);
        if (takeMessageLocked(self, lpMsg, wMsgFilterMin, wMsgFilterMax, true)) {
            return lpMsg->message == WM_QUIT ? FALSE : TRUE;
        }
        self.wakeup.wait(lock);
    }
}

DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles, BOOL fWaitAll,
                                       DWORD dwMilliseconds, DWORD dwWakeMask) {
    std::vector<std::shared_ptr<Waitable>> objects;
    if (!collectWaitables(nCount, pHandles, objects)) {
        return WAIT_FAILED;
    }
    return waitForObjects(objects, fWaitAll != FALSE, dwMilliseconds, dwWakeMask);
}

BOOL WINAPI TranslateMessage(const MSG*) {
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG*) {
    return 0;
}
