// The client's link to an in-process simulated target, on virtual time: a
// read that finds nothing due moves the clock to the chip's next output or
// to the read's time-out, so time-outs and real timing are tested without
// sleeping.
#pragma once

#include <chrono>
#include <deque>

#include "link.h"
#include "protocol.h"
#include "stm32sim/target.hpp"

namespace isp_test {

class ManualClock final : public isp::Clock {
  public:
    TimePoint now() override { return now_; }
    void sleepFor(std::chrono::milliseconds duration) override { now_ += duration; }
    void advanceTo(TimePoint when) {
        if (when > now_) {
            now_ = when;
        }
    }
    std::chrono::nanoseconds elapsed() const { return now_ - start_; }

  private:
    // Any fixed point serves; the simulator only compares times.
    TimePoint start_ = TimePoint{} + std::chrono::hours(1);
    TimePoint now_ = start_;
};

class SimLink final : public isp::Link {
  public:
    SimLink(stm32sim::Target& target, ManualClock& clock) : target_(target), clock_(clock) {}

    bool write(std::span<const std::uint8_t> bytes) override;
    std::optional<std::size_t> read(std::span<std::uint8_t> buffer,
                                    std::chrono::milliseconds timeout) override;
    bool setDtr(bool asserted) override;
    bool setRts(bool asserted) override;
    bool flushInput() override;

    // Every byte the client sent, in order.
    const isp::Bytes& sent() const { return sent_; }
    // From now on every call fails, as with an unplugged adapter.
    void breakLine() { broken_ = true; }

  private:
    void collect();

    stm32sim::Target& target_;
    ManualClock& clock_;
    std::deque<std::uint8_t> received_;
    isp::Bytes sent_;
    bool broken_ = false;
};

}  // namespace isp_test
