#include "src/creation_faults.h"

#include <algorithm>
#include <utility>

#include "win32_test_hooks.h"

namespace chipload::win32 {
namespace {

// Per thread, so the port's own threads creating their events never take a
// failure meant for the thread that opens the port.
struct ArmedCreations {
    std::optional<DWORD> eventError;
    std::optional<DWORD> threadError;
    int threadSkip = 0;
};
thread_local ArmedCreations armed;

}  // namespace

void failNextCreateEvent(DWORD error) {
    armed.eventError = error;
}

void failNextCreateThread(int skip, DWORD error) {
    armed.threadError = error;
    armed.threadSkip = std::max(skip, 0);
}

std::optional<DWORD> takeCreateEventFailure() {
    return std::exchange(armed.eventError, std::nullopt);
}

std::optional<DWORD> takeCreateThreadFailure() {
    if (!armed.threadError) {
        return std::nullopt;
    }
    if (armed.threadSkip > 0) {
        --armed.threadSkip;
        return std::nullopt;
    }
    return std::exchange(armed.threadError, std::nullopt);
}

}  // namespace chipload::win32
