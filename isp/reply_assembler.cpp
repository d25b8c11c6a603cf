#include "reply_assembler.h"

namespace isp {

void ReplyAssembler::expect(Shape shape) {
    shape_ = shape;
    reply_.clear();
    state_ = State::kWaiting;
}

void ReplyAssembler::reset() {
    reply_.clear();
    state_ = State::kIdle;
}

// The reply's full length as far as it is known yet: until a counted reply's
// count byte arrived, only its fixed part.
std::size_t ReplyAssembler::total() const {
    std::size_t length = shape_.fixed;
    if (shape_.counted) {
        if (reply_.size() <= shape_.countAt) {
            return length;
        }
        length += std::size_t{reply_[shape_.countAt]} + 1;
    }
    return shape_.closingAck ? length + 1 : length;
}

std::size_t ReplyAssembler::missing() const {
    if (state_ != State::kWaiting) {
        return 0;
    }
    return total() - reply_.size();
}

std::size_t ReplyAssembler::feed(std::span<const std::uint8_t> bytes) {
    std::size_t taken = 0;
    while (state_ == State::kWaiting && taken < bytes.size()) {
        const std::uint8_t byte = bytes[taken++];
        if (reply_.empty() && byte != kAck) {
            state_ = byte == kNack ? State::kRefused : State::kInvalid;
            reply_.push_back(byte);
            break;
        }
        reply_.push_back(byte);
        if (reply_.size() == total()) {
            const bool closed = !shape_.closingAck || reply_.back() == kAck;
            state_ = closed ? State::kComplete : State::kInvalid;
        }
    }
    return taken;
}

}  // namespace isp
