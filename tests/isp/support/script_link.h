// A link that answers from a script: the bytes the test queued, in order,
// whatever the client sends. Reads with nothing queued time out on the
// manual clock.
#pragma once

#include <deque>

#include "link.h"
#include "protocol.h"
#include "sim_link.h"

namespace isp_test {

class ScriptLink final : public isp::Link {
  public:
    explicit ScriptLink(ManualClock& clock) : clock_(clock) {}

    void queue(const isp::Bytes& bytes) {
        incoming_.insert(incoming_.end(), bytes.begin(), bytes.end());
    }
    const isp::Bytes& sent() const { return sent_; }
    std::size_t unread() const { return incoming_.size(); }

    bool write(std::span<const std::uint8_t> bytes) override {
        sent_.insert(sent_.end(), bytes.begin(), bytes.end());
        return true;
    }
    std::optional<std::size_t> read(std::span<std::uint8_t> buffer,
                                    std::chrono::milliseconds timeout) override {
        const std::size_t count = std::min(buffer.size(), incoming_.size());
        if (count < buffer.size()) {
            clock_.sleepFor(timeout);
        }
        for (std::size_t i = 0; i < count; ++i) {
            buffer[i] = incoming_.front();
            incoming_.pop_front();
        }
        return count;
    }
    bool setDtr(bool) override { return true; }
    bool setRts(bool) override { return true; }
    bool flushInput() override {
        incoming_.clear();
        return true;
    }

  private:
    ManualClock& clock_;
    std::deque<std::uint8_t> incoming_;
    isp::Bytes sent_;
};

}  // namespace isp_test
