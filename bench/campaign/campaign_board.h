// One simulated board for one campaign session: a chip with the session's
// faults, served over RFC 2217 or a pseudo-terminal and mapped as a COM port
// of the program.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stm32sim/faults.hpp"
#include "stm32sim/target.hpp"

namespace campaign {

enum class Transport { rfc2217, pty };

const char* TransportName(Transport transport);

struct BoardSpec {
    std::string product = "f103c8";
    Transport transport = Transport::rfc2217;
    stm32sim::Timing timing = stm32sim::Timing::none;
    stm32sim::FaultConfig faults{};
    std::uint64_t seed = 1;
};

class Board {
  public:
    // Starts serving and maps COM`com` to the board.
    Board(int com, const BoardSpec& spec);
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    stm32sim::Target& target() { return *target_; }

  private:
    std::unique_ptr<stm32sim::Target> target_;
    struct Server;
    std::unique_ptr<Server> server_;
};

}  // namespace campaign
