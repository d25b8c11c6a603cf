#include "stm32sim/line.hpp"

namespace stm32sim {
namespace {

// Stop bits in half bits, so 1.5 stays an integer.
std::uint64_t stop_half_bits(StopBits stop) {
    switch (stop) {
        case StopBits::one:
            return 2;
        case StopBits::one_and_half:
            return 3;
        case StopBits::two:
            return 4;
    }
    return 2;
}

std::uint64_t half_bits_per_byte(const LineSettings& line) {
    std::uint64_t bits = 1 + line.data_bits + (line.parity == Parity::none ? 0 : 1);
    return 2 * bits + stop_half_bits(line.stop_bits);
}

}  // namespace

double LineSettings::bits_per_byte() const {
    return static_cast<double>(half_bits_per_byte(*this)) / 2.0;
}

Duration LineSettings::time_for_bytes(std::uint64_t count) const {
    if (baud == 0) {
        return Duration::zero();
    }
    // Integer arithmetic: 2^63 ns covers far more bytes than a session sends.
    const std::uint64_t half_bits = count * half_bits_per_byte(*this);
    const std::uint64_t divisor = 2ULL * baud;
    const std::uint64_t ns = (half_bits * 1'000'000'000ULL + divisor / 2) / divisor;
    return Duration(static_cast<Duration::rep>(ns));
}

}  // namespace stm32sim
