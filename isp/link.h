// What the client needs from a serial line, and the clock it measures
// time-outs with. Adapters: a comm device of the project's serial layer
// (comm_link.h) and, in tests, the in-process simulator.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace isp {

class Link {
  public:
    virtual ~Link() = default;
    // Sends every byte; false when the line failed.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Waits until buffer.size() bytes arrived or `timeout` passed, and returns
    // the count it put at the front of buffer (0 on time-out); nullopt when
    // the line failed. It returns as soon as the count is reached.
    virtual std::optional<std::size_t> read(std::span<std::uint8_t> buffer,
                                            std::chrono::milliseconds timeout) = 0;
    // `asserted` is the line's active level (DTR/RTS on, pin low at the
    // adapter's TTL output on most boards).
    virtual bool setDtr(bool asserted) = 0;
    virtual bool setRts(bool asserted) = 0;
    // Drops whatever has arrived and not been read.
    virtual bool flushInput() = 0;
};

// Time as the client sees it; tests inject one that moves only when told.
class Clock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

// The real steady clock; one instance serves every client.
Clock& steadyClock();

}  // namespace isp
