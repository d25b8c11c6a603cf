#include "option_negotiator.h"

namespace chipload::rfc2217 {

OptionNegotiator::OptionNegotiator(std::initializer_list<std::uint8_t> local,
                                   std::initializer_list<std::uint8_t> remote) {
    for (const std::uint8_t option : local) {
        local_[option].wanted = true;
    }
    for (const std::uint8_t option : remote) {
        remote_[option].wanted = true;
    }
}

void OptionNegotiator::start(Bytes& out) {
    for (std::size_t option = 0; option < local_.size(); ++option) {
        if (local_[option].wanted && !local_[option].enabled) {
            local_[option].requested = true;
            appendNegotiation(out, telnet::kWill, static_cast<std::uint8_t>(option));
        }
    }
    for (std::size_t option = 0; option < remote_.size(); ++option) {
        if (remote_[option].wanted && !remote_[option].enabled) {
            remote_[option].requested = true;
            appendNegotiation(out, telnet::kDo, static_cast<std::uint8_t>(option));
        }
    }
}

bool OptionNegotiator::allSettled() const {
    for (std::size_t option = 0; option < local_.size(); ++option) {
        if (local_[option].requested || remote_[option].requested) {
            return false;
        }
    }
    return true;
}

void OptionNegotiator::receive(std::uint8_t verb, std::uint8_t option, Bytes& out) {
    switch (verb) {
        case telnet::kDo:
            onRequest(local_[option], telnet::kWill, telnet::kWont, option, out);
            break;
        case telnet::kDont:
            onRefusal(local_[option], telnet::kWont, option, out);
            break;
        case telnet::kWill:
            onRequest(remote_[option], telnet::kDo, telnet::kDont, option, out);
            break;
        case telnet::kWont:
            onRefusal(remote_[option], telnet::kDont, option, out);
            break;
        default:
            break;
    }
}

void OptionNegotiator::onRequest(Side& side, std::uint8_t accept, std::uint8_t refuse,
                                 std::uint8_t option, Bytes& out) {
    const bool wasRequested = side.requested;
    side.requested = false;
    if (side.enabled) {
        return;
    }
    if (!side.wanted) {
        appendNegotiation(out, refuse, option);
        return;
    }
    side.enabled = true;
    if (!wasRequested) {
        appendNegotiation(out, accept, option);
    }
}

void OptionNegotiator::onRefusal(Side& side, std::uint8_t refuse, std::uint8_t option, Bytes& out) {
    side.requested = false;
    if (!side.enabled) {
        return;
    }
    side.enabled = false;
    appendNegotiation(out, refuse, option);
}

}  // namespace chipload::rfc2217
