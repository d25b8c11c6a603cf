#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace chipload::test {

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        closeMaster();
        throw std::runtime_error("no pseudo-terminal available");
    }
    std::array<char, 128> name{};
    if (ptsname_r(master_, name.data(), name.size()) != 0) {
        closeMaster();
        throw std::runtime_error("ptsname_r failed");
    }
    slavePath_ = name.data();
    slaveKeeper_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (slaveKeeper_ < 0 || tcgetattr(slaveKeeper_, &raw) != 0) {
        closeMaster();
        throw std::runtime_error("cannot open the pseudo-terminal slave");
    }
    cfmakeraw(&raw);
    tcsetattr(slaveKeeper_, TCSANOW, &raw);
}

PtyPair::~PtyPair() {
    closeMaster();
    if (slaveKeeper_ >= 0) {
        ::close(slaveKeeper_);
    }
}

void PtyPair::write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t count = ::write(master_, bytes.data(), bytes.size());
        if (count > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(count));
        } else if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            pollfd fd{master_, POLLOUT, 0};
            ::poll(&fd, 1, 100);
        } else {
            throw std::runtime_error("write to the pseudo-terminal master failed");
        }
    }
}

std::string PtyPair::read(std::size_t count, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    std::string received;
    while (received.size() < count) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd fd{master_, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        std::array<char, 4096> buffer{};
        const ssize_t n =
            ::read(master_, buffer.data(), std::min(buffer.size(), count - received.size()));
        if (n > 0) {
            received.append(buffer.data(), static_cast<std::size_t>(n));
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
    }
    return received;
}

void PtyPair::closeMaster() {
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
}

}  // namespace chipload::test
