#include "fault_injector.hpp"

namespace stm32sim {

FaultInjector::FaultInjector(const FaultConfig& config, std::uint64_t seed)
    : config_(config), random_(seeded_value(seed, 0xFA017)) {}

bool FaultInjector::refuse_command(std::uint8_t command) const {
    return config_.refuse_command && *config_.refuse_command == command;
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
