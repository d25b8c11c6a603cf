#include "stm32sim/pty_server.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <mutex>
#include <stdexcept>

#include "posix_io.hpp"
#include "server_thread.hpp"

namespace stm32sim {
namespace {

// Output nobody reads stays in the pseudo-terminal; beyond this much more
// it is thrown away, as a serial line with nobody listening would.
constexpr std::size_t max_unsent = 64 * 1024;
constexpr Duration hang_up_grace = std::chrono::milliseconds(250);

}  // namespace

struct PtyServer::Impl {
    Impl(Target& t, std::uint32_t b) : target(t), baud(b) {}

    // Opens a new pseudo-terminal and retires the current one, if any.
    void open_terminal();
    void close_terminal();
    void run();

    Target& target;
    std::uint32_t baud;
    std::string link;
    UniqueFd master;
    UniqueFd slave;  // held open so that the master never sees a hang-up
    mutable std::mutex path_mutex;
    std::string path;
    ServerThread worker{target};  // last: its loop uses all the rest
};

PtyServer::PtyServer(Target& target, std::uint32_t baud)
    : impl_(std::make_unique<Impl>(target, baud)) {}

PtyServer::~PtyServer() {
    stop();
}

void PtyServer::Impl::open_terminal() {
    UniqueFd m(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!m) {
        throw_errno("posix_openpt");
    }
    if (::grantpt(m.get()) != 0 || ::unlockpt(m.get()) != 0) {
        throw_errno("unlockpt");
    }
    std::array<char, PATH_MAX> name{};
    if (::ptsname_r(m.get(), name.data(), name.size()) != 0) {
        throw_errno("ptsname");
    }
    UniqueFd s(::open(name.data(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!s) {
        throw_errno(std::string("open ") + name.data());
    }
    termios raw{};
    ::tcgetattr(s.get(), &raw);
    ::cfmakeraw(&raw);
    raw.c_cflag |= PARENB;  // 8E1, what the bootloader speaks
    ::tcsetattr(s.get(), TCSANOW, &raw);
    if (!link.empty()) {
        struct stat old {};
        if (::lstat(link.c_str(), &old) == 0 && !S_ISLNK(old.st_mode)) {
            throw std::runtime_error(link + " exists and is not a symbolic link");
        }
        // Made aside and renamed over the old one: the link never dangles.
        const std::string fresh = link + ".new";
        ::unlink(fresh.c_str());
        if (::symlink(name.data(), fresh.c_str()) != 0 ||
            ::rename(fresh.c_str(), link.c_str()) != 0) {
            throw_errno("symlink " + link);
        }
    }
    {
        std::lock_guard lock(path_mutex);
        path = name.data();
    }
    // Replacing the descriptors closes an old terminal only now, so whoever
    // sees it hang up finds the new path already in place.
    master = std::move(m);
    slave = std::move(s);
}

void PtyServer::Impl::close_terminal() {
    master.reset();
    slave.reset();
    if (!link.empty()) {
        ::unlink(link.c_str());
    }
}

void PtyServer::start(const std::string& link) {
    if (impl_->worker.running()) {
        throw std::logic_error("pseudo-terminal server already started");
    }
    impl_->link = link;
    impl_->open_terminal();
    impl_->target.set_line(LineSettings{.baud = impl_->baud});
    impl_->worker.start([impl = impl_.get()] { impl->run(); });
}

void PtyServer::stop() {
    if (!impl_->worker.running()) {
        return;
    }
    impl_->worker.stop();
    impl_->close_terminal();
}

std::string PtyServer::slave_path() const {
    std::lock_guard lock(impl_->path_mutex);
    return impl_->path;
}

void PtyServer::Impl::run() {
    std::vector<std::uint8_t> unsent;
    std::optional<TimePoint> hang_up_at;
    while (!worker.stopping()) {
        // While hanging up nothing is read: the line is going away.
        const short want =
            hang_up_at ? short{0} : static_cast<short>(POLLIN | (unsent.empty() ? 0 : POLLOUT));
        std::array<pollfd, 2> fds{{{master.get(), want, 0}, {worker.wakeup().fd(), POLLIN, 0}}};
        poll_until(fds, hang_up_at ? hang_up_at : target.next_output_due());
        worker.wakeup().drain();
        const TimePoint now = Clock::now();
        if (hang_up_at) {
            if (now < *hang_up_at) {
                continue;
            }
            // Hang up: readers of the old slave see the line go away; a new
            // pseudo-terminal takes its place (and the symlink follows it).
            hang_up_at.reset();
            unsent.clear();
            try {
                open_terminal();
            } catch (const std::exception&) {
                return;  // no terminal to serve on any more
            }
            continue;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            std::array<std::uint8_t, 4096> buffer{};
            const ssize_t n = ::read(master.get(), buffer.data(), buffer.size());
            if (n > 0) {
                target.receive(std::span(buffer.data(), static_cast<std::size_t>(n)), now);
            }
        }
        Output output = target.take_output(now);
        unsent.insert(unsent.end(), output.bytes.begin(), output.bytes.end());
        if (const auto written = write_some(master.get(), unsent)) {
            unsent.erase(unsent.begin(), unsent.begin() + static_cast<std::ptrdiff_t>(*written));
        }
        if (unsent.size() > max_unsent) {
            unsent.erase(unsent.begin(), unsent.end() - static_cast<std::ptrdiff_t>(max_unsent));
        }
        if (output.drop_connection) {
            // A hang-up flushes what the slave has not read yet: give the
            // reader a moment for the last bytes, as a modem would.
            hang_up_at = now + hang_up_grace;
        }
    }
}

}  // namespace stm32sim
