#include "posix_io.hpp"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace stm32sim {

void UniqueFd::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

Wakeup::Wakeup() : fd_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (!fd_) {
        throw_errno("eventfd");
    }
}

void Wakeup::notify() const {
    const std::uint64_t one = 1;
    // A full counter already means "wake up": a failed write loses nothing.
    [[maybe_unused]] const auto written = ::write(fd_.get(), &one, sizeof one);
}

void Wakeup::drain() const {
    std::uint64_t count = 0;
    [[maybe_unused]] const auto got = ::read(fd_.get(), &count, sizeof count);
}

void throw_errno(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

int poll_until(std::span<struct pollfd> fds, std::optional<TimePoint> due) {
    timespec wait{};
    if (due) {
        const auto left = std::max(Duration::zero(), *due - Clock::now());
        wait.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
        wait.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
    }
    const int ready = ::ppoll(fds.data(), fds.size(), due ? &wait : nullptr, nullptr);
    if (ready < 0 && errno != EINTR) {
        throw_errno("ppoll");
    }
    return ready < 0 ? 0 : ready;
}

std::optional<std::size_t> write_some(int fd, std::span<const std::uint8_t> bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n >= 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (errno == ENOTSOCK) {
            const ssize_t m = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (m >= 0) {
                done += static_cast<std::size_t>(m);
                continue;
            }
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return done;
        }
        return std::nullopt;
    }
    return done;
}

}  // namespace stm32sim
