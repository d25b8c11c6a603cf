// The thread a transport serves the target on.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "posix_io.hpp"
#include "stm32sim/target.hpp"

namespace stm32sim {

// Runs a serving loop that polls wakeup() beside its own descriptors and ends
// once stopping() is true. The target's output wakes it, and so does stop().
class ServerThread {
  public:
    explicit ServerThread(Target& target) : target_(target) {}
    ~ServerThread() { stop(); }
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

    bool running() const { return thread_.joinable(); }
    void start(std::function<void()> loop);
    // Waits for the loop to end; the target no longer wakes anyone after.
    void stop();

    bool stopping() const { return stopping_; }
    const Wakeup& wakeup() const { return wakeup_; }

  private:
    Target& target_;
    Wakeup wakeup_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

}  // namespace stm32sim
