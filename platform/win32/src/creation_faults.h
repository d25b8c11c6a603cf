// Failures a test armed for the calling thread's next CreateEventA or
// CreateThread (see win32_test_hooks.h); each is taken once.
#pragma once

#include <windows.h>

#include <optional>

namespace chipload::win32 {

std::optional<DWORD> takeCreateEventFailure();
std::optional<DWORD> takeCreateThreadFailure();

}  // namespace chipload::win32
