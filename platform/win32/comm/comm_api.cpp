// The Windows comm entry points: find the device behind the handle, apply an
// injected failure if a test asked for one, and turn the device's error code
// into BOOL plus SetLastError.
#include <windows.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>

#include "comm/comm_device.h"
#include "comm/device_claims.h"
#include "comm/tty_backend.h"
#include "port_map.h"
#include "win32_test_hooks.h"

using namespace chipload::win32;
using namespace chipload::win32::comm;

namespace {

constexpr std::string_view kRfc2217Scheme = "rfc2217://";

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

// "\\.\COMn" or "COMn", n from 1 to 255 without leading zeros.
std::optional<int> comNumber(std::string_view name) {
    if (name.starts_with("\\\\.\\")) {
        name.remove_prefix(4);
    }
    if (name.size() < 4 || !equalsNoCase(name.substr(0, 3), "COM") || name[3] == '0') {
        return std::nullopt;
    }
    int number = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9' || number > 25) {
            return std::nullopt;
        }
        number = number * 10 + (c - '0');
    }
    return number <= 255 ? std::optional<int>(number) : std::nullopt;
}

// One name per device, however it was spelled.
std::string claimName(const std::string& device) {
    if (device.starts_with(kRfc2217Scheme)) {
        std::string lowered = device;
        for (char& c : lowered) {
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
        return lowered;
    }
    char resolved[PATH_MAX];
    return realpath(device.c_str(), resolved) != nullptr ? std::string(resolved) : device;
}

std::unique_ptr<CommBackend> openBackend(const std::string& device, DWORD& error) {
    if (device.starts_with(kRfc2217Scheme)) {
#ifdef CHIPLOAD_HAVE_RFC2217
        return openRfc2217Backend(device.substr(kRfc2217Scheme.size()), error);
#else
        error = ERROR_FILE_NOT_FOUND;
        return nullptr;
#endif
    }
    return openTtyBackend(device, error);
}

// Takes over the claim on name: released here on failure, by the device later.
HANDLE startDevice(std::unique_ptr<CommBackend> backend, const std::string& name) {
    std::shared_ptr<CommDevice> device;
    try {
        device = std::make_shared<CommDevice>(std::move(backend), name);
    } catch (const std::exception&) {  // no descriptor or memory left
        releaseDevice(name);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_SUCCESS;
    try {
        error = device->start();
    } catch (const std::exception&) {  // a thread could not be started
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error != ERROR_SUCCESS) {
        device.reset();  // stops what did start and releases the claim
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return registerHandle(std::move(device));
}

HANDLE openDevice(const std::string& device) {
    const std::string name = claimName(device);
    if (!claimDevice(name)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    DWORD error = ERROR_SUCCESS;
    std::unique_ptr<CommBackend> backend;
    try {
        backend = openBackend(device, error);
    } catch (const std::exception&) {
        error = ERROR_NOT_ENOUGH_MEMORY;
    }
    if (!backend) {
        releaseDevice(name);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    return startDevice(std::move(backend), name);
}

struct ArmedFailure {
    int skip;
    int count;
    DWORD error;
};

// Failures a test armed for the next open of a COM number.
struct ArmedOpens {
    std::mutex mutex;
    std::map<int, ArmedFailure> byCom;
};

ArmedOpens& armedOpens() {
    static ArmedOpens opens;
    return opens;
}

void applyArmedFailure(int com, HANDLE handle) {
    ArmedOpens& opens = armedOpens();
    std::lock_guard lock(opens.mutex);
    const auto armed = opens.byCom.find(com);
    if (armed == opens.byCom.end()) {
        return;
    }
    if (auto device = findHandleAs<CommDevice>(handle)) {
        device->failCallsAfter(armed->second.skip, armed->second.count, armed->second.error);
    }
    opens.byCom.erase(armed);
}

template <class Call>
BOOL onDevice(HANDLE handle, Call call) {
    auto device = findHandleAs<CommDevice>(handle);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (auto injected = device->injectedFailure()) {
        SetLastError(*injected);
        return FALSE;
    }
    if (DWORD error = call(*device); error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

namespace chipload::win32 {

void failNextCalls(HANDLE h, int count, DWORD error) {
    if (auto device = findHandleAs<CommDevice>(h)) {
        device->failNextCalls(count, error);
    }
}

HANDLE openCommBackend(std::unique_ptr<comm::CommBackend> backend, const std::string& name) {
    if (!claimDevice(name)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    return startDevice(std::move(backend), name);
}

void failCallsOnNextOpen(int com, int skip, int count, DWORD error) {
    ArmedOpens& opens = armedOpens();
    std::lock_guard lock(opens.mutex);
    opens.byCom.insert_or_assign(com, ArmedFailure{skip, count, error});
}

}  // namespace chipload::win32

// Sharing, security and template arguments mean nothing here: comm devices
// are always exclusive. Without FILE_FLAG_OVERLAPPED, calls given no
// OVERLAPPED simply wait; with an OVERLAPPED they are overlapped either way.
HANDLE WINAPI CreateFileA(LPCSTR lpFileName, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                          HANDLE) {
    const auto number = lpFileName != nullptr ? comNumber(lpFileName) : std::nullopt;
    std::string device = number ? chipload::portmap::resolve(*number) : std::string();
    // A device named outright (a tty path, rfc2217://HOST:PORT) is opened as
    // itself, for callers that are not limited to the mapped COM numbers.
    if (!number && lpFileName != nullptr &&
        (lpFileName[0] == '/' || std::string_view(lpFileName).starts_with(kRfc2217Scheme))) {
        device = lpFileName;
    }
    if (device.empty()) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE handle = openDevice(device);
    if (handle != INVALID_HANDLE_VALUE && number) {
        applyArmedFailure(*number, handle);
    }
    return handle;
}

DWORD WINAPI GetFileType(HANDLE hFile) {
    auto device = findHandleAs<CommDevice>(hFile);
    if (!device) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FILE_TYPE_UNKNOWN;
    }
    if (auto injected = device->injectedFailure()) {
        SetLastError(*injected);
        return FILE_TYPE_UNKNOWN;
    }
    SetLastError(NO_ERROR);
    return FILE_TYPE_CHAR;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                     LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesRead != nullptr) {
        *lpNumberOfBytesRead = 0;
    }
    return onDevice(hFile, [&](CommDevice& device) {
        DWORD transferred = 0;
        const DWORD error = device.read(static_cast<BYTE*>(lpBuffer), nNumberOfBytesToRead,
                                        transferred, lpOverlapped);
        if (error == ERROR_SUCCESS && lpNumberOfBytesRead != nullptr) {
            *lpNumberOfBytesRead = transferred;
        }
        return error;
    });
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                      LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped) {
    if (lpNumberOfBytesWritten != nullptr) {
        *lpNumberOfBytesWritten = 0;
    }
    return onDevice(hFile, [&](CommDevice& device) {
        DWORD transferred = 0;
        const DWORD error = device.write(static_cast<const BYTE*>(lpBuffer), nNumberOfBytesToWrite,
                                         transferred, lpOverlapped);
        if (error == ERROR_SUCCESS && lpNumberOfBytesWritten != nullptr) {
            *lpNumberOfBytesWritten = transferred;
        }
        return error;
    });
}

BOOL WINAPI GetOverlappedResult(HANDLE hFile, LPOVERLAPPED lpOverlapped,
                                LPDWORD lpNumberOfBytesTransferred, BOOL bWait) {
    return onDevice(hFile, [&](CommDevice& device) {
        if (lpOverlapped == nullptr || lpNumberOfBytesTransferred == nullptr) {
            return static_cast<DWORD>(ERROR_INVALID_PARAMETER);
        }
        return device.overlappedResult(lpOverlapped, *lpNumberOfBytesTransferred, bWait != FALSE);
    });
}

// Cancels every pending operation on the handle, whichever thread started it.
BOOL WINAPI CancelIo(HANDLE hFile) {
    return onDevice(hFile, [](CommDevice& device) { return device.cancel(); });
}

BOOL WINAPI SetupComm(HANDLE hFile, DWORD dwInQueue, DWORD) {
    return onDevice(hFile, [&](CommDevice& device) { return device.setupQueues(dwInQueue); });
}

BOOL WINAPI PurgeComm(HANDLE hFile, DWORD dwFlags) {
    return onDevice(hFile, [&](CommDevice& device) { return device.purge(dwFlags); });
}

BOOL WINAPI GetCommState(HANDLE hFile, LPDCB lpDCB) {
    return onDevice(hFile, [&](CommDevice& device) {
        return lpDCB == nullptr ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
                                : device.getState(*lpDCB);
    });
}

BOOL WINAPI SetCommState(HANDLE hFile, LPDCB lpDCB) {
    return onDevice(hFile, [&](CommDevice& device) {
        return lpDCB == nullptr ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
                                : device.setState(*lpDCB);
    });
}

BOOL WINAPI GetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    return onDevice(hFile, [&](CommDevice& device) {
        return lpCommTimeouts == nullptr ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
                                         : device.getTimeouts(*lpCommTimeouts);
    });
}

BOOL WINAPI SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
    return onDevice(hFile, [&](CommDevice& device) {
        return lpCommTimeouts == nullptr ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
                                         : device.setTimeouts(*lpCommTimeouts);
    });
}

BOOL WINAPI SetCommMask(HANDLE hFile, DWORD dwEvtMask) {
    return onDevice(hFile, [&](CommDevice& device) { return device.setMask(dwEvtMask); });
}

BOOL WINAPI GetCommMask(HANDLE hFile, LPDWORD lpEvtMask) {
    return onDevice(hFile, [&](CommDevice& device) {
        return lpEvtMask == nullptr ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
                                    : device.getMask(*lpEvtMask);
    });
}

BOOL WINAPI WaitCommEvent(HANDLE hFile, LPDWORD lpEvtMask, LPOVERLAPPED lpOverlapped) {
    return onDevice(
        hFile, [&](CommDevice& device) { return device.waitCommEvent(lpEvtMask, lpOverlapped); });
}

BOOL WINAPI ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
    return onDevice(hFile, [&](CommDevice& device) { return device.clearError(lpErrors, lpStat); });
}

BOOL WINAPI GetCommModemStatus(HANDLE hFile, LPDWORD lpModemStat) {
    return onDevice(hFile, [&](CommDevice& device) {
        return lpModemStat == nullptr ? static_cast<DWORD>(ERROR_INVALID_PARAMETER)
                                      : device.modemStatus(*lpModemStat);
    });
}

BOOL WINAPI EscapeCommFunction(HANDLE hFile, DWORD dwFunc) {
    return onDevice(hFile, [&](CommDevice& device) { return device.escape(dwFunc); });
}

BOOL WINAPI SetCommBreak(HANDLE hFile) {
    return EscapeCommFunction(hFile, SETBREAK);
}

BOOL WINAPI ClearCommBreak(HANDLE hFile) {
    return EscapeCommFunction(hFile, CLRBREAK);
}
