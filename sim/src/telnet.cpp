#include "telnet.hpp"

namespace stm32sim::telnet {

std::vector<Event> Parser::feed(std::span<const std::uint8_t> bytes) {
    std::vector<Event> events;
    Data data;
    auto flush_data = [&] {
        if (!data.bytes.empty()) {
            events.emplace_back(std::move(data));
            data = {};
        }
    };
    for (std::uint8_t byte : bytes) {
        switch (state_) {
            case State::data:
                if (byte == iac) {
                    state_ = State::command;
                } else {
                    data.bytes.push_back(byte);
                }
                break;
            case State::command:
                state_ = State::data;
                if (byte == iac) {
                    data.bytes.push_back(iac);
                } else if (byte >= will && byte <= dont) {
                    verb_ = byte;
                    state_ = State::negotiation;
                } else if (byte == sb) {
                    state_ = State::sub_option;
                }
                // NOP, GA, AYT and the like carry nothing for a serial line.
                break;
            case State::negotiation:
                flush_data();
                events.emplace_back(Negotiation{verb_, byte});
                state_ = State::data;
                break;
            case State::sub_option:
                sub_ = Subnegotiation{byte, {}};
                state_ = State::sub_data;
                break;
            case State::sub_data:
                if (byte == iac) {
                    state_ = State::sub_iac;
                } else if (sub_.payload.size() < max_payload) {
                    sub_.payload.push_back(byte);
                }
                break;
            case State::sub_iac:
                if (byte == iac) {
                    if (sub_.payload.size() < max_payload) {
                        sub_.payload.push_back(iac);
                    }
                    state_ = State::sub_data;
                    break;
                }
                // IAC SE ends it; any other command after IAC ends it too.
                flush_data();
                events.emplace_back(std::move(sub_));
                sub_ = {};
                state_ = State::data;
                break;
        }
    }
    flush_data();
    return events;
}

void append_data(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes) {
    for (std::uint8_t byte : bytes) {
        out.push_back(byte);
        if (byte == iac) {
            out.push_back(iac);
        }
    }
}

void append_negotiation(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option) {
    out.insert(out.end(), {iac, verb, option});
}

void append_com_port(std::vector<std::uint8_t>& out, std::uint8_t command,
                     std::span<const std::uint8_t> payload) {
    out.insert(out.end(), {iac, sb, option_com_port});
    append_data(out, std::span(&command, 1));
    append_data(out, payload);
    out.insert(out.end(), {iac, se});
}

bool Negotiator::supported(std::uint8_t option) {
    return option == option_binary || option == option_sga || option == option_com_port;
}

std::pair<std::vector<std::uint8_t>, bool> Negotiator::on(const Negotiation& request) {
    std::vector<std::uint8_t> reply;
    bool com_port_enabled = false;
    const std::uint8_t option = request.option;
    switch (request.verb) {
        case will:
            if (supported(option) && !remote_[option]) {
                remote_[option] = true;
                com_port_enabled = option == option_com_port;
                append_negotiation(reply, do_, option);
            } else if (!supported(option) && !refused_remote_[option]) {
                refused_remote_[option] = true;
                append_negotiation(reply, dont, option);
            }
            break;
        case wont:
            if (remote_[option]) {
                remote_[option] = false;
                append_negotiation(reply, dont, option);
            }
            break;
        case do_:
            if (supported(option) && !local_[option]) {
                local_[option] = true;
                append_negotiation(reply, will, option);
            } else if (!supported(option) && !refused_local_[option]) {
                refused_local_[option] = true;
                append_negotiation(reply, wont, option);
            }
            break;
        case dont:
            if (local_[option]) {
                local_[option] = false;
                append_negotiation(reply, wont, option);
            }
            break;
        default:
            break;
    }
    return {std::move(reply), com_port_enabled};
}

}  // namespace stm32sim::telnet
