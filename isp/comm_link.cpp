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

class CommLink final : public Link {
  public:
    explicit CommLink(HANDLE handle) : handle_(handle) {}
    ~CommLink() override { CloseHandle(handle_); }
    CommLink(const CommLink&) = delete;
    CommLink& operator=(const CommLink&) = delete;

    bool write(std::span<const std::uint8_t> bytes) override {
        DWORD written = 0;
        return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) != FALSE &&
               written == bytes.size();
    }

    // A total time-out and no interval time-out: the read ends the moment
    // the asked count is in, never an interval later.
    std::optional<std::size_t> read(std::span<std::uint8_t> buffer,
                                    std::chrono::milliseconds timeout) override {
        const auto limit = static_cast<DWORD>(
            std::clamp<std::chrono::milliseconds::rep>(timeout.count(), 1, MAXDWORD - 1));
        if (limit != readTimeout_) {
            COMMTIMEOUTS timeouts{0, 0, limit, 0, 0};
            if (SetCommTimeouts(handle_, &timeouts) == FALSE) {
                return std::nullopt;
            }
            readTimeout_ = limit;
        }
        DWORD got = 0;
        if (ReadFile(handle_, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) ==
            FALSE) {
            return std::nullopt;
        }
        return std::size_t{got};
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
    DWORD readTimeout_ = 0;
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
                                OPEN_EXISTING, 0, nullptr);
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
        return SetCommState(handle, &dcb) != FALSE;
    }();
    if (!configured) {
        result.systemError = GetLastError();
        result.kind = CommOpenError::Kind::kConfigFailed;
        return nullptr;
    }
    return link;
}

}  // namespace isp
