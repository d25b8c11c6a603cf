#include "pty_link.h"

#include <fcntl.h>
#include <poll.h>
#include <port_map.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <stdexcept>

namespace serialtest {

PtyLink::PtyLink(int com) : master_(posix_openpt(O_RDWR | O_NOCTTY)) {
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        throw std::runtime_error("no pseudo-terminal");
    }
    slavePath_ = ptsname(master_);
    slaveKeeper_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    termios raw{};
    tcgetattr(slaveKeeper_, &raw);
    cfmakeraw(&raw);
    tcsetattr(slaveKeeper_, TCSANOW, &raw);
    chipload::portmap::assign(com, slavePath_);
}

PtyLink::~PtyLink() {
    close(slaveKeeper_);
    close(master_);
}

void PtyLink::write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            throw std::runtime_error("write to the pseudo-terminal failed");
        }
        done += static_cast<std::size_t>(n);
    }
}

std::string PtyLink::read(std::size_t count, std::chrono::milliseconds timeout) {
    std::string result;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    char buffer[4096];
    while (result.size() < count) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd fd{master_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) {
            continue;
        }
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            result.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return result;
}

}  // namespace serialtest
