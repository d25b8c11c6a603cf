// Sleep, tick count and the performance counter on CLOCK_MONOTONIC.
#include <windows.h>

#include <chrono>
#include <thread>

#include "src/sync.h"

namespace {
using Clock = std::chrono::steady_clock;
constexpr LONGLONG kCounterFrequency = 1'000'000'000;  // nanoseconds
}  // namespace

void WINAPI Sleep(DWORD dwMilliseconds) {
    chipload::win32::holdIfSuspended();
    std::this_thread::sleep_for(std::chrono::milliseconds(dwMilliseconds));
    chipload::win32::holdIfSuspended();
}

DWORD WINAPI GetTickCount(void) {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch());
    return static_cast<DWORD>(ms.count());
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
    if (lpPerformanceCount == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    lpPerformanceCount->QuadPart =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
            .count();
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER* lpFrequency) {
    if (lpFrequency == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    lpFrequency->QuadPart = kCounterFrequency;
    return TRUE;
}
