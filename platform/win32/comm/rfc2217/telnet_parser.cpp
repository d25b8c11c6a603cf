#include "telnet_parser.h"

#include "telnet_protocol.h"

namespace chipload::rfc2217 {

void TelnetParser::feed(std::span<const std::uint8_t> bytes, Sink& sink) {
    using namespace telnet;
    for (const std::uint8_t b : bytes) {
        switch (state_) {
            case State::Data:
                if (b == kIac) {
                    state_ = State::Iac;
                    break;
                }
                if (!(afterCr_ && b == 0 && !binary_)) {
                    data_.push_back(b);
                }
                afterCr_ = b == '\r';
                break;
            case State::Iac:
                state_ = State::Data;
                if (b == kIac) {
                    data_.push_back(kIac);
                    afterCr_ = false;
                } else if (b == kSb) {
                    state_ = State::SbOption;
                } else if (b >= kWill && b <= kDont) {
                    verb_ = b;
                    state_ = State::Verb;
                }
                // Other commands (NOP, GA, DM, ...) carry nothing for a serial line.
                break;
            case State::Verb:
                state_ = State::Data;
                flushData(sink);
                sink.onNegotiation(verb_, b);
                break;
            case State::SbOption:
                sbOption_ = b;
                sbPayload_.clear();
                sbOverflow_ = false;
                state_ = State::SbData;
                break;
            case State::SbData:
                if (b == kIac) {
                    state_ = State::SbIac;
                } else if (sbPayload_.size() < kMaxSubnegotiation) {
                    sbPayload_.push_back(b);
                } else {
                    sbOverflow_ = true;
                }
                break;
            case State::SbIac:
                if (b == kIac) {
                    state_ = State::SbData;
                    if (sbPayload_.size() < kMaxSubnegotiation) {
                        sbPayload_.push_back(kIac);
                    } else {
                        sbOverflow_ = true;
                    }
                } else if (b == kSe) {
                    state_ = State::Data;
                    endSubnegotiation(sink);
                } else {
                    // A command inside a subnegotiation means the peer lost
                    // its place: drop the subnegotiation, take the command.
                    state_ = State::Iac;
                    feed(std::span(&b, 1), sink);
                }
                break;
        }
    }
    flushData(sink);
}

void TelnetParser::flushData(Sink& sink) {
    if (!data_.empty()) {
        sink.onData(data_);
        data_.clear();
    }
}

void TelnetParser::endSubnegotiation(Sink& sink) {
    if (sbOverflow_) {
        return;
    }
    flushData(sink);
    sink.onSubnegotiation(sbOption_, sbPayload_);
}

}  // namespace chipload::rfc2217
