// Seeded decisions for the configured faults.
#pragma once

#include <cstdint>
#include <random>

#include "stm32sim/faults.hpp"

namespace stm32sim {

class FaultInjector {
  public:
    FaultInjector(const FaultConfig& config, std::uint64_t seed);

    bool refuse_command(std::uint8_t command) const;
    // Called once for every command the bootloader takes (complement good),
    // and for every synchronisation byte it answers.
    void command_taken(std::uint8_t command);
    // Whether this step of the command taken last is the refused step.
    bool refuse_step(RefusedStep::Step step) const;
    bool refuse_reply() { return chance(config_.refuse_fraction); }
    bool lose_reply() { return chance(config_.lose_fraction); }
    bool reset_now() { return chance(config_.reset_fraction); }
    std::optional<std::uint32_t> corrupt_programmed_byte() const {
        return config_.corrupt_programmed_byte;
    }
    // A noise byte to send before a reply, or -1 for none.
    int noise_byte();

  private:
    bool chance(double fraction);

    FaultConfig config_;
    std::mt19937_64 random_;
    std::uint32_t refused_command_seen_ = 0;
    bool in_refused_occurrence_ = false;
};

// One well-mixed 64-bit value per (seed, index): used for the unique ID.
std::uint64_t seeded_value(std::uint64_t seed, std::uint64_t index);

}  // namespace stm32sim
