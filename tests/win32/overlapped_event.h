// An OVERLAPPED with its own manual-reset event, for tests of overlapped calls.
#pragma once

#include <windows.h>

struct Overlapped {
    OVERLAPPED ov{};
    Overlapped() { ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr); }
    ~Overlapped() { CloseHandle(ov.hEvent); }
    Overlapped(const Overlapped&) = delete;
    Overlapped& operator=(const Overlapped&) = delete;
    bool completesWithin(DWORD ms) const {
        return WaitForSingleObject(ov.hEvent, ms) == WAIT_OBJECT_0;
    }
};
