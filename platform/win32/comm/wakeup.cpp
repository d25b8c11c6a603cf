#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

#include "comm/comm_backend.h"

namespace chipload::win32::comm {

Wakeup::Wakeup() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (fd_ < 0) {
        throw std::bad_alloc();
    }
}

Wakeup::~Wakeup() {
    ::close(fd_);
}

void Wakeup::wake() noexcept {
    const std::uint64_t one = 1;
    // The counter cannot overflow in practice; EAGAIN would still leave it readable.
    while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void Wakeup::clear() noexcept {
    std::uint64_t value = 0;
    while (::read(fd_, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

}  // namespace chipload::win32::comm
