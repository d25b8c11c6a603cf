#include "com_handle.h"

#include <port_map.h>

namespace chipload::rfc2217::testing {

ComHandle::ComHandle(int com, const std::string& device) {
    portmap::assign(com, device);
    const std::string name = "\\\\.\\COM" + std::to_string(com);
    handle_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_OVERLAPPED, nullptr);
    if (handle_ == INVALID_HANDLE_VALUE) {
        openError_ = GetLastError();
    }
}

ComHandle::~ComHandle() {
    if (valid()) {
        CloseHandle(handle_);
    }
}

DWORD finish(HANDLE handle, OVERLAPPED& overlapped, DWORD& transferred, DWORD timeoutMs) {
    if (WaitForSingleObject(overlapped.hEvent, timeoutMs) != WAIT_OBJECT_0) {
        return ERROR_TIMEOUT;
    }
    return GetOverlappedResult(handle, &overlapped, &transferred, FALSE) ? ERROR_SUCCESS
                                                                         : GetLastError();
}

DWORD ComHandle::write(const std::vector<BYTE>& data) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD written = 0;
    DWORD error = ERROR_SUCCESS;
    if (!WriteFile(handle_, data.data(), static_cast<DWORD>(data.size()), &written, &overlapped)) {
        error = GetLastError();
        if (error == ERROR_IO_PENDING) {
            error = finish(handle_, overlapped, written, 5000);
        }
    }
    CloseHandle(overlapped.hEvent);
    if (error == ERROR_SUCCESS && written != data.size()) {
        error = ERROR_GEN_FAILURE;
    }
    return error;
}

std::vector<BYTE> ComHandle::read(std::size_t count, DWORD timeoutMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = timeoutMs;
    timeouts.ReadTotalTimeoutConstant = timeoutMs;
    SetCommTimeouts(handle_, &timeouts);
    std::vector<BYTE> got;
    OVERLAPPED overlapped{};
    overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    while (got.size() < count) {
        std::vector<BYTE> chunk(count - got.size());
        DWORD n = 0;
        ResetEvent(overlapped.hEvent);
        if (!ReadFile(handle_, chunk.data(), static_cast<DWORD>(chunk.size()), &n, &overlapped) &&
            (GetLastError() != ERROR_IO_PENDING ||
             finish(handle_, overlapped, n, timeoutMs + 5000) != ERROR_SUCCESS)) {
            break;
        }
        if (n == 0) {
            break;  // a quiet line for timeoutMs
        }
        got.insert(got.end(), chunk.begin(), chunk.begin() + n);
    }
    CloseHandle(overlapped.hEvent);
    return got;
}

}  // namespace chipload::rfc2217::testing
