#include "comm_link.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string_view>

#include "port_map.h"

namespace isp {

namespace {

// n of "COMn" or "\\.\COMn" (any case); 0 for other names.
int comNumber(std::string_view name) {
    if (name.starts_with("\\\\.\\")) {
        name.remove_prefix(4);
    }
    if (name.size() < 4 || name.size() > 6) {
        return 0;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) {
            return 0;
        }
    }
    int number = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9') {
            return 0;
        }
        number = number * 10 + (c - '0');
    }
    return number;
}

// Overlapped I/O with no device time-outs: a read ends the moment the asked
// count is in, never an interval later, and the wait for it is the caller's
// own, so starting a read costs the device's threads nothing.
class CommLink final : public Link {
  public:
    explicit CommLink(HANDLE handle)
        : handle_(handle),
          readDone_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          writeDone_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~CommLink() override {
        CloseHandle(handle_);
        for (HANDLE event : {readDone_, writeDone_}) {
            if (event != nullptr) {
                CloseHandle(event);
            }
        }
    }
    CommLink(const CommLink&) = delete;
    CommLink& operator=(const CommLink&) = delete;

    bool ready() const { return readDone_ != nullptr && writeDone_ != nullptr; }

    bool write(std::span<const std::uint8_t> bytes) override {
        OVERLAPPED overlapped{};
        overlapped.hEvent = writeDone_;
        DWORD written = 0;
        if (WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                      &overlapped) == FALSE &&
            (GetLastError() != ERROR_IO_PENDING ||
             GetOverlappedResult(handle_, &overlapped, &written, TRUE) == FALSE)) {
            return false;
        }
        return written == bytes.size();
    }

    std::optional<std::size_t> read(std::span<std::uint8_t> buffer,
                                    std::chrono::milliseconds timeout) override {
        const auto limit = static_cast<DWORD>(
            std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 1, MAXDWORD - 1));
        OVERLAPPED overlapped{};
        overlapped.hEvent = readDone_;
        DWORD got = 0;
        if (ReadFile(handle_, buffer.data(), static_cast<DWORD>(buffer.size()), &got,
                     &overlapped) != FALSE) {
            return std::size_t{got};
        }
        if (GetLastError() != ERROR_IO_PENDING) {
            return std::nullopt;
        }
        const DWORD waited = WaitForSingleObject(readDone_, limit);
        if (waited != WAIT_OBJECT_0) {
            // Time is up: the read ends with what it has.
            PurgeComm(handle_, PURGE_RXABORT);
        }
        if (GetOverlappedResult(handle_, &overlapped, &got, TRUE) != FALSE ||
            (waited == WAIT_TIMEOUT && GetLastError() == ERROR_OPERATION_ABORTED)) {
            return std::size_t{got};
        }
        return std::nullopt;
    }

    bool setDtr(bool asserted) override {
        return EscapeCommFunction(handle_, asserted ? SETDTR : CLRDTR) != FALSE;
    }
    bool setRts(bool asserted) override {
        return EscapeCommFunction(handle_, asserted ? SETRTS : CLRRTS) != FALSE;
    }
    bool flushInput() override { return PurgeComm(handle_, PURGE_RXCLEAR) != FALSE; }

  private:
    HANDLE handle_;
    HANDLE readDone_;
    HANDLE writeDone_;
};

CommOpenError::Kind kindOf(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return CommOpenError::Kind::kNotFound;
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
            return CommOpenError::Kind::kAccessDenied;
        default:
            return CommOpenError::Kind::kOther;
    }
}

}  // namespace

std::string resolvePortName(const std::string& port) {
    const int number = comNumber(port);
    return number > 0 ? chipload::portmap::resolve(number) : port;
}

std::unique_ptr<Link> openCommLink(const std::string& port, std::uint32_t baud,
                                   CommOpenError* error) {
    CommOpenError ignored;
    CommOpenError& result = error != nullptr ? *error : ignored;
    HANDLE handle = CreateFileA(port.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        result.systemError = GetLastError();
        result.kind = kindOf(result.systemError);
        return nullptr;
    }
    auto link = std::make_unique<CommLink>(handle);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    const bool configured = GetCommState(handle, &dcb) != FALSE && [&] {
        dcb.BaudRate = baud;
        dcb.ByteSize = 8;
        dcb.Parity = EVENPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = TRUE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDtrControl = DTR_CONTROL_DISABLE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        COMMTIMEOUTS none{};  // reads end when full (or when the caller gives up)
        return SetCommState(handle, &dcb) != FALSE && SetCommTimeouts(handle, &none) != FALSE &&
               link->ready();
    }();
    if (!configured) {
        result.systemError = GetLastError();
        result.kind = CommOpenError::Kind::kConfigFailed;
        return nullptr;
    }
    return link;
}

}  // namespace isp
