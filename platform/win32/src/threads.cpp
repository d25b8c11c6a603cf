// Threads on std::thread. A thread's identity and message queue exist before
// it first runs, so a message posted right after CreateThread is never lost.
#include <windows.h>

#include <algorithm>
#include <array>
#include <system_error>
#include <thread>

#include "src/creation_faults.h"
#include "src/sync.h"

using namespace chipload::win32;

namespace {

constexpr DWORD kMaxSuspendCount = 127;  // MAXIMUM_SUSPEND_COUNT
constexpr DWORD kFailedCount = 0xFFFFFFFF;

std::shared_ptr<ThreadState> findThread(HANDLE handle) {
    auto thread = findHandleAs<ThreadState>(handle);
    if (!thread) {
        SetLastError(ERROR_INVALID_HANDLE);
    }
    return thread;
}

bool isValidPriority(int priority) {
    constexpr std::array valid{THREAD_PRIORITY_IDLE,         THREAD_PRIORITY_LOWEST,
                               THREAD_PRIORITY_BELOW_NORMAL, THREAD_PRIORITY_NORMAL,
                               THREAD_PRIORITY_ABOVE_NORMAL, THREAD_PRIORITY_HIGHEST,
                               THREAD_PRIORITY_TIME_CRITICAL};
    return std::find(valid.begin(), valid.end(), priority) != valid.end();
}

void runThread(const std::shared_ptr<ThreadState>& state, LPTHREAD_START_ROUTINE start,
               LPVOID parameter) {
    bindCurrentThread(state);
    {
        std::unique_lock lock(syncMutex());
        holdIfSuspendedLocked(*state, lock);
        if (state->ended) {  // terminated before it ever ran
            return;
        }
    }
    const DWORD code = start(parameter);
    std::lock_guard lock(syncMutex());
    state->endLocked(code);
}

}  // namespace

HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE lpStartAddress,
                           LPVOID lpParameter, DWORD dwCreationFlags, LPDWORD lpThreadId) {
    if (lpStartAddress == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (auto injected = takeCreateThreadFailure()) {
        SetLastError(*injected);
        return nullptr;
    }
    auto state = makeThreadState();
    if ((dwCreationFlags & CREATE_SUSPENDED) != 0) {
        std::lock_guard lock(syncMutex());
        state->suspendCount = 1;
    }
    try {
        // Detached: the handle, not the std::thread, is how callers wait on
        // it, and TerminateThread must be able to abandon it.
        std::thread(runThread, state, lpStartAddress, lpParameter).detach();
    } catch (const std::system_error&) {
        std::lock_guard lock(syncMutex());
        state->endLocked(0);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (lpThreadId != nullptr) {
        *lpThreadId = state->id();
    }
    return registerHandle(std::move(state));
}

DWORD WINAPI ResumeThread(HANDLE hThread) {
    auto thread = findThread(hThread);
    if (!thread) {
        return kFailedCount;
    }
    std::lock_guard lock(syncMutex());
    const DWORD previous = thread->suspendCount;
    if (previous > 0 && --thread->suspendCount == 0) {
        thread->wakeup.notify_all();
    }
    return previous;
}

// A running thread is held at its next wait, not stopped where it stands.
DWORD WINAPI SuspendThread(HANDLE hThread) {
    auto thread = findThread(hThread);
    if (!thread) {
        return kFailedCount;
    }
    std::lock_guard lock(syncMutex());
    const DWORD previous = thread->suspendCount;
    if (previous >= kMaxSuspendCount) {
        SetLastError(ERROR_SIGNAL_REFCOUNT_EXCEEDED);
        return kFailedCount;
    }
    ++thread->suspendCount;
    return previous;
}

// Recorded and reported; POSIX would need privileges to apply it.
BOOL WINAPI SetThreadPriority(HANDLE hThread, int nPriority) {
    auto thread = findThread(hThread);
    if (!thread) {
        return FALSE;
    }
    if (!isValidPriority(nPriority)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(syncMutex());
    thread->priority = nPriority;
    return TRUE;
}

int WINAPI GetThreadPriority(HANDLE hThread) {
    auto thread = findThread(hThread);
    if (!thread) {
        return THREAD_PRIORITY_ERROR_RETURN;
    }
    std::lock_guard lock(syncMutex());
    return thread->priority;
}

HANDLE WINAPI GetCurrentThread(void) {
    return currentThreadPseudoHandle();
}

DWORD WINAPI GetCurrentThreadId(void) {
    return currentThread().id();
}

DWORD WINAPI GetThreadId(HANDLE hThread) {
    auto thread = findThread(hThread);
    return thread ? thread->id() : 0;
}

BOOL WINAPI GetExitCodeThread(HANDLE hThread, LPDWORD lpExitCode) {
    auto thread = findThread(hThread);
    if (!thread) {
        return FALSE;
    }
    if (lpExitCode == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::lock_guard lock(syncMutex());
    *lpExitCode = thread->exitCode;
    return TRUE;
}

// POSIX cannot kill one thread of a process safely: the thread is marked ended
// with dwExitCode (waiters wake, posts to it fail) and abandoned; if it ever
// returns, its own exit code is ignored.
BOOL WINAPI TerminateThread(HANDLE hThread, DWORD dwExitCode) {
    auto thread = findThread(hThread);
    if (!thread) {
        return FALSE;
    }
    std::lock_guard lock(syncMutex());
    thread->endLocked(dwExitCode);
    return TRUE;
}
