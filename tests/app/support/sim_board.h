// A simulated STM32 board behind an RFC 2217 server on a free loopback port,
// or on a pseudo-terminal, mapped as a COM port of the program.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "stm32sim/pty_server.hpp"
#include "stm32sim/rfc2217_server.hpp"
#include "stm32sim/target.hpp"

namespace apptest {

enum class Link { kRfc2217, kPty };
// Over a pseudo-terminal a 0x7F after this much silence starts a new session.
inline constexpr std::chrono::milliseconds kPtyResyncIdle{100};

class SimBoard {
  public:
    // Serves the given part (e.g. "f103c8") with instant timing and maps
    // COM`com` to it. Over RFC 2217 the pins are followed from power-up; a
    // pseudo-terminal has none, so the part waits in its bootloader.
    explicit SimBoard(int com, const std::string& product = "f103c8",
                      stm32sim::FaultConfig faults = {}, Link link = Link::kRfc2217,
                      bool readProtected = false, std::vector<std::uint32_t> writeProtected = {});
    // A part of one's own making (say, a product ID no table knows), with
    // perhaps an erase command in its Get reply other than its version's.
    SimBoard(int com, const stm32sim::Product& product, stm32sim::FaultConfig faults, Link link,
             bool readProtected = false, std::vector<std::uint32_t> writeProtected = {},
             std::optional<std::uint8_t> eraseCommand = std::nullopt);
    ~SimBoard();
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    stm32sim::Target& target() { return *target_; }
    std::string device() const;

  private:
    std::unique_ptr<stm32sim::Target> target_;
    std::unique_ptr<stm32sim::Rfc2217Server> server_;
    std::unique_ptr<stm32sim::PtyServer> pty_;
    std::uint16_t port_ = 0;
};

}  // namespace apptest
