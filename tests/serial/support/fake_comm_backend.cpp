#include "fake_comm_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <win32_test_hooks.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

namespace serialtest {

DWORD FakeCommBackend::start(chipload::win32::comm::CommEventSink& sink) {
    std::lock_guard lock(shared_.mutex);
    shared_.sink = &sink;
    return ERROR_SUCCESS;
}

DWORD FakeCommBackend::read(std::span<BYTE> buffer, std::size_t& received, int timeoutMs,
                            const chipload::win32::comm::Wakeup& wake) {
    pollfd fds[2] = {{wake.fd(), POLLIN, 0}, {shared_.input[0], POLLIN, 0}};
    poll(fds, 2, timeoutMs);
    received = 0;
    if ((fds[1].revents & POLLIN) != 0 && !buffer.empty()) {
        const ssize_t n = ::read(shared_.input[0], buffer.data(), buffer.size());
        received = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
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

FakeCommBackend::Shared::Shared() {
    if (pipe2(input, O_CLOEXEC | O_NONBLOCK) != 0) {
        ADD_FAILURE() << "no pipe for the fake device's input";
    }
}

FakeCommBackend::Shared::~Shared() {
    ::close(input[0]);
    ::close(input[1]);
}

FakeDevice::FakeDevice()
    : handle_(chipload::win32::openCommBackend(
          std::make_unique<FakeCommBackend>(shared_),
          "fake-device-" + std::to_string(deviceNumber.fetch_add(1)))) {}

FakeDevice::~FakeDevice() {
    CloseHandle(handle_);
}

void FakeDevice::feed(const std::string& bytes) {
    ASSERT_EQ(::write(shared_.input[1], bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
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
