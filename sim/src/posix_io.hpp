// Small RAII pieces over POSIX descriptors shared by the transports.
#pragma once

#include <poll.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "stm32sim/line.hpp"

namespace stm32sim {

class UniqueFd {
  public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    void reset(int fd = -1);

  private:
    int fd_ = -1;
};

// Wakes a thread blocked in poll(): an eventfd that is written to wake and
// drained by the woken thread.
class Wakeup {
  public:
    Wakeup();
    int fd() const { return fd_.get(); }
    void notify() const;
    void drain() const;

  private:
    UniqueFd fd_;
};

// Throws std::system_error built from errno.
[[noreturn]] void throw_errno(const std::string& what);

// Waits like poll() until a descriptor is ready or `due` has come (no limit
// without one), to the microsecond so that line pacing stays exact.
// Returns poll()'s result; EINTR counts as 0.
int poll_until(std::span<struct pollfd> fds, std::optional<TimePoint> due);

// Writes as much as the descriptor takes without blocking; returns the
// number written, or nullopt when the peer is gone.
std::optional<std::size_t> write_some(int fd, std::span<const std::uint8_t> bytes);

}  // namespace stm32sim
