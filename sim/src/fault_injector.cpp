#include "fault_injector.hpp"

namespace stm32sim {

FaultInjector::FaultInjector(const FaultConfig& config, std::uint64_t seed)
    : config_(config), random_(seeded_value(seed, 0xFA017)) {}

bool FaultInjector::refuse_command(std::uint8_t command) const {
    return config_.refuse_command && *config_.refuse_command == command;
}

void FaultInjector::command_taken(std::uint8_t command) {
    in_refused_occurrence_ = false;
    if (config_.refuse_step && config_.refuse_step->command == command) {
        if (refused_command_seen_ <= config_.refuse_step->occurrence) {
            ++refused_command_seen_;  // stops counting past the one that matters
        }
        in_refused_occurrence_ = refused_command_seen_ == config_.refuse_step->occurrence;
    }
}

bool FaultInjector::refuse_step(RefusedStep::Step step) const {
    return in_refused_occurrence_ && config_.refuse_step->step == step;
}

int FaultInjector::noise_byte() {
    if (!chance(config_.noise_fraction)) {
        return -1;
    }
    return static_cast<int>(random_() & 0xFF);
}

bool FaultInjector::chance(double fraction) {
    if (fraction <= 0.0) {
        return false;
    }
    // Drawn by hand rather than with a distribution, whose output the
    // standard leaves to the library: a seed must replay the same faults.
    const double draw = static_cast<double>(random_() >> 11) * 0x1.0p-53;
    return draw < fraction;
}

std::uint64_t seeded_value(std::uint64_t seed, std::uint64_t index) {
    // splitmix64 finaliser
    std::uint64_t z = seed + (index + 1) * 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

}  // namespace stm32sim
