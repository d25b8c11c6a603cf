#include "fake_comm_backend.h"

#include <poll.h>
#include <win32_test_hooks.h>

#include <atomic>
#include <memory>
#include <string>

namespace serialtest {

DWORD FakeCommBackend::start(chipload::win32::comm::CommEventSink& sink) {
    std::lock_guard lock(shared_.mutex);
    shared_.sink = &sink;
    return ERROR_SUCCESS;
}

DWORD FakeCommBackend::read(std::span<BYTE>, std::size_t& received, int timeoutMs,
                            const chipload::win32::comm::Wakeup& wake) {
    pollfd fd{wake.fd(), POLLIN, 0};
    poll(&fd, 1, timeoutMs);
    received = 0;
    return ERROR_SUCCESS;
}

DWORD FakeCommBackend::write(std::span<const BYTE> data, std::size_t& written,
                             const chipload::win32::comm::Wakeup&) {
    std::lock_guard lock(shared_.mutex);
    shared_.writes.emplace_back(data.begin(), data.end());
    written = data.size();
    return ERROR_SUCCESS;
}

DWORD FakeCommBackend::readSettings(DCB&) {
    return ERROR_SUCCESS;
}
DWORD FakeCommBackend::applySettings(const DCB&) {
    return ERROR_SUCCESS;
}
DWORD FakeCommBackend::escape(DWORD) {
    return ERROR_SUCCESS;
}

DWORD FakeCommBackend::modemStatus(DWORD& status) {
    status = shared_.modemStatus;
    return ERROR_SUCCESS;
}

DWORD FakeCommBackend::purge(DWORD) {
    return ERROR_SUCCESS;
}

namespace {
std::atomic<int> deviceNumber{0};
}

FakeDevice::FakeDevice()
    : handle_(chipload::win32::openCommBackend(
          std::make_unique<FakeCommBackend>(shared_),
          "fake-device-" + std::to_string(deviceNumber.fetch_add(1)))) {}

FakeDevice::~FakeDevice() {
    CloseHandle(handle_);
}

void FakeDevice::raise(DWORD events, DWORD lineErrors) {
    std::lock_guard lock(shared_.mutex);
    shared_.sink->commEvents(events, lineErrors);
}

std::vector<std::vector<BYTE>> FakeDevice::writes() {
    std::lock_guard lock(shared_.mutex);
    return shared_.writes;
}

}  // namespace serialtest
