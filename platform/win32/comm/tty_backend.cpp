#include "comm/tty_backend.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <thread>

#include "comm/tty_line.h"

namespace chipload::win32::comm {
namespace {

DWORD errnoToError(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return ERROR_FILE_NOT_FOUND;
        case EACCES:
        case EPERM:
        case EBUSY:
        case EWOULDBLOCK:
            return ERROR_ACCESS_DENIED;
        case EIO:
            return ERROR_BAD_COMMAND;  // the device went away
        case EINVAL:
            return ERROR_INVALID_PARAMETER;
        default:
            return ERROR_GEN_FAILURE;
    }
}

// TIOCMIWAIT cannot be woken except by a signal; this one, with an empty
// handler and no SA_RESTART, is what the modem-line watcher is stopped with.
int watcherWakeSignal() {
    return SIGRTMIN + 7;
}

void installWatcherWakeSignal() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;
        sigaction(watcherWakeSignal(), &action, nullptr);
    });
}

class TtyBackend final : public CommBackend {
  public:
    TtyBackend(int fd, bool hasModemLines, bool hasCounters)
        : fd_(fd), hasModemLines_(hasModemLines), hasCounters_(hasCounters) {
        if (hasCounters_) {
            ioctl(fd_, TIOCGICOUNT, &errorCounts_);
        }
    }

    ~TtyBackend() override {
        stopWatcher();
        ::close(fd_);
    }

    DWORD start(CommEventSink& sink) override {
        sink_ = &sink;
        if (hasModemLines_) {
            installWatcherWakeSignal();
            watcher_ = std::thread(&TtyBackend::watchModemLines, this);
        }
        return ERROR_SUCCESS;
    }

    DWORD read(std::span<BYTE> buffer, std::size_t& received, int timeoutMs,
               const Wakeup& wake) override {
        received = 0;
        pollfd fds[2] = {{fd_, POLLIN, 0}, {wake.fd(), POLLIN, 0}};
        const int ready = ::poll(fds, 2, timeoutMs);
        if (ready < 0) {
            return errno == EINTR ? ERROR_SUCCESS : errnoToError(errno);
        }
        if (fds[1].revents != 0 || ready == 0) {
            return ERROR_SUCCESS;
        }
        const ssize_t count = ::read(fd_, buffer.data(), buffer.size());
        if (count > 0) {
            received = static_cast<std::size_t>(count);
            reportLineErrors();
            return ERROR_SUCCESS;
        }
        if (count < 0 && (errno == EAGAIN || errno == EINTR)) {
            return ERROR_SUCCESS;
        }
        return ERROR_BAD_COMMAND;  // end of file or EIO: hung up
    }

    DWORD write(std::span<const BYTE> data, std::size_t& written, const Wakeup& wake) override {
        written = 0;
        while (written < data.size()) {
            const ssize_t count = ::write(fd_, data.data() + written, data.size() - written);
            if (count > 0) {
                written += static_cast<std::size_t>(count);
                continue;
            }
            if (count < 0 && errno == EINTR) {
                continue;
            }
            if (count < 0 && errno != EAGAIN) {
                return errnoToError(errno);
            }
            pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake.fd(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
                return errnoToError(errno);
            }
            if (fds[1].revents != 0) {
                return ERROR_OPERATION_ABORTED;
            }
            if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                return ERROR_BAD_COMMAND;
            }
        }
        return ERROR_SUCCESS;
    }

    DWORD readSettings(DCB& dcb) override { return readLineSettings(fd_, hasModemLines_, dcb); }

    DWORD applySettings(const DCB& dcb) override {
        return applyLineSettings(fd_, hasModemLines_, dcb);
    }

    DWORD escape(DWORD function) override {
        switch (function) {
            case SETDTR:
                return setLine(TIOCMBIS, TIOCM_DTR);
            case CLRDTR:
                return setLine(TIOCMBIC, TIOCM_DTR);
            case SETRTS:
                return setLine(TIOCMBIS, TIOCM_RTS);
            case CLRRTS:
                return setLine(TIOCMBIC, TIOCM_RTS);
            case SETBREAK:
                return ioctl(fd_, TIOCSBRK) == 0 ? ERROR_SUCCESS : errnoToError(errno);
            case CLRBREAK:
                return ioctl(fd_, TIOCCBRK) == 0 ? ERROR_SUCCESS : errnoToError(errno);
            case SETXON:
                return tcflow(fd_, TCOON) == 0 ? ERROR_SUCCESS : errnoToError(errno);
            case SETXOFF:
                return tcflow(fd_, TCOOFF) == 0 ? ERROR_SUCCESS : errnoToError(errno);
            default:
                return ERROR_INVALID_PARAMETER;
        }
    }

    DWORD modemStatus(DWORD& status) override {
        status = 0;
        if (!hasModemLines_) {
            return ERROR_SUCCESS;
        }
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) != 0) {
            return errnoToError(errno);
        }
        status = ((lines & TIOCM_CTS) != 0 ? MS_CTS_ON : 0) |
                 ((lines & TIOCM_DSR) != 0 ? MS_DSR_ON : 0) |
                 ((lines & TIOCM_RNG) != 0 ? MS_RING_ON : 0) |
                 ((lines & TIOCM_CD) != 0 ? MS_RLSD_ON : 0);
        return ERROR_SUCCESS;
    }

    DWORD purge(DWORD flags) override {
        if ((flags & PURGE_TXCLEAR) != 0 && tcflush(fd_, TCOFLUSH) != 0) {
            return errnoToError(errno);
        }
        if ((flags & PURGE_RXCLEAR) != 0 && tcflush(fd_, TCIFLUSH) != 0) {
            return errnoToError(errno);
        }
        return ERROR_SUCCESS;
    }

  private:
    // A device without modem lines (a pseudo-terminal) takes line changes and
    // keeps nothing.
    DWORD setLine(unsigned long request, int line) {
        if (!hasModemLines_) {
            return ERROR_SUCCESS;
        }
        return ioctl(fd_, request, &line) == 0 ? ERROR_SUCCESS : errnoToError(errno);
    }

    // Line errors and breaks are found by comparing the driver's counters after
    // each read: a break or a damaged character always arrives with a byte (a
    // NUL), so nothing is missed; an overrun is seen with the next byte.
    void reportLineErrors() {
        if (!hasCounters_) {
            return;
        }
        serial_icounter_struct now{};
        if (ioctl(fd_, TIOCGICOUNT, &now) != 0) {
            return;
        }
        DWORD events = 0;
        DWORD errors = 0;
        if (now.frame != errorCounts_.frame) {
            errors |= CE_FRAME;
        }
        if (now.parity != errorCounts_.parity) {
            errors |= CE_RXPARITY;
        }
        if (now.overrun != errorCounts_.overrun) {
            errors |= CE_OVERRUN;
        }
        if (errors != 0) {
            events |= EV_ERR;
        }
        if (now.buf_overrun != errorCounts_.buf_overrun) {
            errors |= CE_RXOVER;
        }
        if (now.brk != errorCounts_.brk) {
            events |= EV_BREAK;
            errors |= CE_BREAK;
        }
        errorCounts_ = now;
        if (events != 0 || errors != 0) {
            sink_->commEvents(events, errors);
        }
    }

    // Sleeps in TIOCMIWAIT until a modem input line changes. A driver without
    // it (or a device that went away) ends the watcher: no modem events then.
    void watchModemLines() {
        int lines = 0;
        ioctl(fd_, TIOCMGET, &lines);
        serial_icounter_struct counts{};
        const bool counting = hasCounters_ && ioctl(fd_, TIOCGICOUNT, &counts) == 0;
        while (!stopping_.load()) {
            if (ioctl(fd_, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD | TIOCM_RNG) != 0) {
                if (errno == EINTR) {
                    continue;
                }
                break;
            }
            int now = 0;
            if (ioctl(fd_, TIOCMGET, &now) != 0) {
                break;
            }
            serial_icounter_struct nowCounts{};
            const bool counted = counting && ioctl(fd_, TIOCGICOUNT, &nowCounts) == 0;
            const int changed = lines ^ now;
            DWORD events = 0;
            // Counters also catch a pulse too short to show in the levels.
            if ((changed & TIOCM_CTS) != 0 || (counted && nowCounts.cts != counts.cts)) {
                events |= EV_CTS;
            }
            if ((changed & TIOCM_DSR) != 0 || (counted && nowCounts.dsr != counts.dsr)) {
                events |= EV_DSR;
            }
            if ((changed & TIOCM_CD) != 0 || (counted && nowCounts.dcd != counts.dcd)) {
                events |= EV_RLSD;
            }
            if ((changed & TIOCM_RNG) != 0 || (counted && nowCounts.rng != counts.rng)) {
                events |= EV_RING;
            }
            lines = now;
            counts = nowCounts;
            if (events != 0) {
                sink_->commEvents(events, 0);
            }
        }
        watcherDone_.store(true);
    }

    void stopWatcher() {
        if (!watcher_.joinable()) {
            return;
        }
        stopping_.store(true);
        // Repeated because the signal may land just before the ioctl starts.
        while (!watcherDone_.load()) {
            pthread_kill(watcher_.native_handle(), watcherWakeSignal());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        watcher_.join();
    }

    const int fd_;
    const bool hasModemLines_;
    const bool hasCounters_;
    CommEventSink* sink_ = nullptr;
    serial_icounter_struct errorCounts_{};  // reader thread only
    std::thread watcher_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> watcherDone_{false};
};

}  // namespace

std::unique_ptr<CommBackend> openTtyBackend(const std::string& path, DWORD& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = errnoToError(errno);
        return nullptr;
    }
    auto fail = [&](DWORD code) {
        ::close(fd);
        error = code;
        return nullptr;
    };
    if (!isatty(fd)) {
        return fail(ERROR_NOT_SUPPORTED);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return fail(ERROR_ACCESS_DENIED);
    }
    ioctl(fd, TIOCEXCL);
    if (DWORD rawError = makeRaw(fd); rawError != ERROR_SUCCESS) {
        return fail(rawError);
    }
    int lines = 0;
    const bool hasModemLines = ioctl(fd, TIOCMGET, &lines) == 0;
    serial_icounter_struct counts{};
    const bool hasCounters = ioctl(fd, TIOCGICOUNT, &counts) == 0;
    error = ERROR_SUCCESS;
    return std::make_unique<TtyBackend>(fd, hasModemLines, hasCounters);
}

}  // namespace chipload::win32::comm
