// A COM port opened through the Windows API, as the serial library opens
// one, with the few overlapped calls the RFC 2217 tests need.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace chipload::rfc2217::testing {

class ComHandle {
  public:
    // Maps COMn to device and opens it; valid() tells whether that worked.
    ComHandle(int com, const std::string& device);
    ~ComHandle();
    ComHandle(const ComHandle&) = delete;
    ComHandle& operator=(const ComHandle&) = delete;

    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    DWORD openError() const { return openError_; }
    HANDLE get() const { return handle_; }

    // Overlapped write, waited for; the error code, ERROR_SUCCESS if all went.
    DWORD write(const std::vector<BYTE>& data);
    // Collects count bytes or stops after timeoutMs without a byte.
    std::vector<BYTE> read(std::size_t count, DWORD timeoutMs);

  private:
    HANDLE handle_;
    DWORD openError_ = ERROR_SUCCESS;
};

// Waits for an overlapped operation's event; the result's error code.
DWORD finish(HANDLE handle, OVERLAPPED& overlapped, DWORD& transferred, DWORD timeoutMs);

}  // namespace chipload::rfc2217::testing
