// Serves a Target on a Linux pseudo-terminal. A pseudo-terminal has no modem
// lines and no parity: the chip starts in its bootloader, accepts any framing,
// paces at the configured baud (8E1 frames), and a 0x7F after a quiet spell
// starts a new session as a reset would. The server keeps a descriptor of the
// slave open so that clients may come and go.
//
//   stm32sim::TargetConfig config;
//   config.boot0 = stm32sim::Boot0Polarity::tied_high;
//   config.start = stm32sim::StartMode::bootloader;
//   config.resync_after_idle = std::chrono::milliseconds(100);
//   stm32sim::Target chip(config);
//   stm32sim::PtyServer server(chip);
//   server.start("/tmp/chipload-tty");   // optional symlink to the slave
//   open server.slave_path()
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stm32sim/target.hpp"

namespace stm32sim {

class PtyServer {
  public:
    // The target must outlive the server. The server sets the target's line
    // to `baud` with 8E1 framing.
    explicit PtyServer(Target& target, std::uint32_t baud = 115200);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Opens the pseudo-terminal, creates the symlink `link` to its slave
    // (replacing an old symlink; empty: none) and starts the serving thread.
    // Throws std::system_error on failure.
    void start(const std::string& link = {});
    // Stops the thread, closes the pseudo-terminal and removes the symlink.
    void stop();
    // e.g. "/dev/pts/7"; changes when the drop fault hangs the line up.
    std::string slave_path() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace stm32sim
