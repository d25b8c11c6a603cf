// Gathers a reply whose length is known in advance (or announced by its first
// byte) from the pieces a link delivers. It takes only what it is given and
// never asks for more than the reply still needs, so bytes that belong to the
// next exchange are never swallowed.
#pragma once

#include <cstdint>
#include <span>

#include "protocol.h"

namespace isp {

class ReplyAssembler {
  public:
    // What the awaited reply looks like.
    struct Shape {
        // Bytes of the reply's fixed part, leading ACK included.
        std::size_t fixed = 1;
        // When true, the byte at index countAt gives the number of further
        // bytes minus one, which follow the fixed part (Get, Get ID).
        bool counted = false;
        std::size_t countAt = 1;
        // A closing ACK follows the rest.
        bool closingAck = false;
    };

    enum class State {
        kIdle,      // nothing expected
        kWaiting,   // more bytes needed
        kComplete,  // reply() is whole
        kRefused,   // the first byte was NACK
        kInvalid,   // the first byte was neither ACK nor NACK, or the closing
                    // byte was not ACK
    };

    // Starts a new reply; forgets any earlier one.
    void expect(Shape shape);
    // Takes bytes from the front of `bytes` until the reply is whole (or
    // refused/invalid) and returns how many it took.
    std::size_t feed(std::span<const std::uint8_t> bytes);
    // How many more bytes the reply needs at least (0 once it ends).
    std::size_t missing() const;
    // ACK followed by `count` raw bytes (Read Memory's answer to its length).
    static Shape dataShape(std::size_t count) { return {1 + count, false, 1, false}; }
    void reset();

    Shape shape() const { return shape_; }
    State state() const { return state_; }
    const Bytes& reply() const { return reply_; }

  private:
    std::size_t total() const;

    Shape shape_{};
    State state_ = State::kIdle;
    Bytes reply_;
};

// Shapes of the replies the client awaits.
inline constexpr ReplyAssembler::Shape kAckShape{1, false, 1, false};
// ACK, N, version and N command codes, ACK.
inline constexpr ReplyAssembler::Shape kGetShape{2, true, 1, true};
// ACK, version, two option bytes, then the closing ACK.
inline constexpr ReplyAssembler::Shape kGetVersionShape{4, false, 1, true};
// ACK, N, N+1 ID bytes, ACK.
inline constexpr ReplyAssembler::Shape kGetIdShape{2, true, 1, true};

}  // namespace isp
