// Serial line framing and the time a byte takes on the wire.
#pragma once

#include <chrono>
#include <cstdint>

namespace stm32sim {

using Clock = std::chrono::steady_clock;
using TimePoint = Clock::time_point;
using Duration = std::chrono::nanoseconds;

// real: bytes are paced at the line rate and flash operations take their
// datasheet times; none: everything is answered at once (for tests).
enum class Timing { none, real };

enum class Parity { none, odd, even, mark, space };
enum class StopBits { one, one_and_half, two };

struct LineSettings {
    std::uint32_t baud = 115200;
    std::uint8_t data_bits = 8;
    Parity parity = Parity::even;
    StopBits stop_bits = StopBits::one;

    // Bits of one character: start + data + parity + stop.
    double bits_per_byte() const;
    // Exact to the nanosecond for any count (no per-byte rounding drift).
    Duration time_for_bytes(std::uint64_t count) const;

    bool operator==(const LineSettings&) const = default;
};

// Datasheet flash timings of the STM32F1 (maximum values).
inline constexpr Duration page_erase_time = std::chrono::milliseconds(20);
inline constexpr Duration mass_erase_time = std::chrono::milliseconds(40);
inline constexpr Duration halfword_program_time = std::chrono::nanoseconds(52'500);

}  // namespace stm32sim
