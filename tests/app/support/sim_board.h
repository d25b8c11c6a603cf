// A simulated STM32 board behind an RFC 2217 server on a free loopback port,
// mapped as a COM port of the program.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stm32sim/rfc2217_server.hpp"
#include "stm32sim/target.hpp"

namespace apptest {

class SimBoard {
  public:
    // Serves the given part (e.g. "f103c8"), pins followed from power-up,
    // instant timing, and maps COM`com` to it.
    explicit SimBoard(int com, const std::string& product = "f103c8",
                      stm32sim::FaultConfig faults = {}, bool readProtected = false);
    ~SimBoard();
    SimBoard(const SimBoard&) = delete;
    SimBoard& operator=(const SimBoard&) = delete;

    stm32sim::Target& target() { return *target_; }
    std::string device() const;

  private:
    std::unique_ptr<stm32sim::Target> target_;
    std::unique_ptr<stm32sim::Rfc2217Server> server_;
    std::uint16_t port_ = 0;
};

}  // namespace apptest
