// Hooks for tests of code that runs on top of this layer.
#pragma once

#include <windows.h>

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

}  // namespace chipload::win32
