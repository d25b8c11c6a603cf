// Tells when serial adapters come and go: a watch on the folders where their
// device nodes and /dev/serial/by-id names appear.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>
#include <vector>

namespace chipload::portmap {

class PortWatch {
  public:
    // `changed` runs on the watch's own thread after an entry is created,
    // removed or renamed in one of `folders`. A folder that does not exist
    // yet (by-id before the first adapter) is watched once its parent shows
    // it.
    PortWatch(std::vector<std::filesystem::path> folders, std::function<void()> changed);
    ~PortWatch();
    PortWatch(const PortWatch&) = delete;
    PortWatch& operator=(const PortWatch&) = delete;

    // False when the kernel refused the watch (no inotify): the list then
    // changes only when asked again.
    bool active() const { return fd_ >= 0; }

    // /dev and /dev/serial/by-id.
    static std::vector<std::filesystem::path> defaultFolders();

  private:
    void addMissingWatches();
    void run();

    std::vector<std::filesystem::path> folders_;
    std::vector<bool> watched_;
    std::function<void()> changed_;
    int fd_ = -1;
    int stopFd_ = -1;
    std::thread thread_;
};

}  // namespace chipload::portmap
