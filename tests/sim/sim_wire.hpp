// Helpers to talk to a Target byte by byte in tests, without a transport.
#pragma once

#include <cstdint>
#include <vector>

#include "stm32sim/target.hpp"

namespace stm32sim::test {

using Bytes = std::vector<std::uint8_t>;

// A command code and its complement.
inline Bytes command(std::uint8_t code) {
    return {code, static_cast<std::uint8_t>(code ^ 0xFF)};
}

// Four address bytes, most significant first, and their XOR.
inline Bytes address_frame(std::uint32_t address) {
    Bytes out{static_cast<std::uint8_t>(address >> 24), static_cast<std::uint8_t>(address >> 16),
              static_cast<std::uint8_t>(address >> 8), static_cast<std::uint8_t>(address)};
    out.push_back(static_cast<std::uint8_t>(out[0] ^ out[1] ^ out[2] ^ out[3]));
    return out;
}

// N-1, the items, and the XOR of all of them (Write Memory data, page lists).
inline Bytes block(const Bytes& items) {
    Bytes out{static_cast<std::uint8_t>(items.size() - 1)};
    out.insert(out.end(), items.begin(), items.end());
    std::uint8_t x = 0;
    for (std::uint8_t b : out) {
        x ^= b;
    }
    out.push_back(x);
    return out;
}

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Sends bytes and returns everything the target has sent by the same moment
// (with Timing::none and no gaps that is the whole answer).
inline Bytes talk(Target& target, const Bytes& in) {
    const TimePoint now = Clock::now();
    target.receive(in, now);
    return target.take_output(now).bytes;
}

// A board with BOOT0 strapped high: in the bootloader from power-up and
// after every reset.
inline TargetConfig bootloader_config(const char* product = "f103c8") {
    TargetConfig config;
    config.product = *find_product(product);
    config.start = StartMode::bootloader;
    config.boot0 = Boot0Polarity::tied_high;
    return config;
}

}  // namespace stm32sim::test
