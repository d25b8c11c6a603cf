// Hooks for tests of code that runs on top of this layer.
#pragma once

#include <windows.h>

#include <cstddef>
#include <memory>
#include <string>

namespace chipload::win32 {

namespace comm {
class CommBackend;
}

// The next `count` device calls on comm handle h (every comm function that
// takes the handle, except CloseHandle) fail with `error`; error 0 included,
// in which case the call fails and GetLastError() gives 0. Reads and writes
// fail before anything is queued, so nothing is lost by the injected failure.
void failNextCalls(HANDLE h, int count, DWORD error);

// Opens a comm handle over a backend of the test's own making (a fake device
// that can raise modem changes and line errors on demand). The name counts
// for the exclusive-open rule like a device path.
HANDLE openCommBackend(std::unique_ptr<comm::CommBackend> backend, const std::string& name);

// Arms failNextCalls for the next device CreateFileA opens as COM`com`: its
// first `skip` device calls succeed, the `count` after them fail with `error`.
// GetFileType counts as a device call; failed, it reports FILE_TYPE_UNKNOWN.
// The arming waits for an open that succeeds; a new one replaces it.
void failCallsOnNextOpen(int com, int skip, int count, DWORD error);

// The calling thread's next CreateEventA returns NULL with `error`.
void failNextCreateEvent(DWORD error);

// The calling thread's CreateThread calls succeed `skip` times, then one
// returns NULL with `error` without starting a thread.
void failNextCreateThread(int skip, DWORD error);

// Handles open in the process (threads, events, devices ...), for leak checks.
std::size_t openHandleCount();

}  // namespace chipload::win32
