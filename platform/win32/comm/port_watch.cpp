#include "port_watch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace fs = std::filesystem;

namespace chipload::portmap {

namespace {
constexpr std::uint32_t kEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
}

PortWatch::PortWatch(std::vector<fs::path> folders, std::function<void()> changed)
    : folders_(std::move(folders)), watched_(folders_.size(), false), changed_(std::move(changed)) {
    fd_ = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    stopFd_ = eventfd(0, EFD_CLOEXEC);
    if (fd_ < 0 || stopFd_ < 0) {
        if (fd_ >= 0) {
            close(fd_);
            fd_ = -1;
        }
        return;
    }
    addMissingWatches();
    thread_ = std::thread([this] { run(); });
}

PortWatch::~PortWatch() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(stopFd_, &one, sizeof one);
        thread_.join();
    }
    if (fd_ >= 0) {
        close(fd_);
    }
    if (stopFd_ >= 0) {
        close(stopFd_);
    }
}

std::vector<fs::path> PortWatch::defaultFolders() {
    return {"/dev", "/dev/serial/by-id"};
}

void PortWatch::addMissingWatches() {
    for (std::size_t i = 0; i < folders_.size(); ++i) {
        if (!watched_[i]) {
            // A parent's watch reports the folder appearing; then it is added.
            watched_[i] = inotify_add_watch(fd_, folders_[i].c_str(), kEvents | IN_ONLYDIR) >= 0;
            if (!watched_[i]) {
                std::error_code error;
                for (fs::path parent = folders_[i].parent_path();
                     !parent.empty() && parent != parent.root_path();
                     parent = parent.parent_path()) {
                    if (fs::is_directory(parent, error)) {
                        inotify_add_watch(fd_, parent.c_str(), kEvents | IN_ONLYDIR);
                        break;
                    }
                }
                // The folder may have appeared before the parent's watch was in place, and
                // then no event will tell.
                watched_[i] =
                    inotify_add_watch(fd_, folders_[i].c_str(), kEvents | IN_ONLYDIR) >= 0;
            }
        }
    }
}

void PortWatch::run() {
    alignas(inotify_event) char buffer[4096];
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[1].revents != 0) {
            return;
        }
        bool any = false;
        while (read(fd_, buffer, sizeof buffer) > 0) {
            any = true;
        }
        if (any) {
            addMissingWatches();
            changed_();
        }
    }
}

}  // namespace chipload::portmap
