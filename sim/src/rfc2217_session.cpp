#include "rfc2217_session.hpp"

#include <array>
#include <string_view>

namespace stm32sim {
namespace {

using namespace telnet;

// The board drives none of the adapter's inputs (CTS, DSR, RI, CD).
constexpr std::uint8_t board_modem_state = 0x00;
constexpr std::string_view signature_text = "chipload-sim STM32F1 bootloader simulator";

enum Control : std::uint8_t {
    flow_request = 0,
    flow_hardware = 3,
    break_request = 4,
    break_on = 5,
    break_off = 6,
    dtr_request = 7,
    dtr_on = 8,
    dtr_off = 9,
    rts_request = 10,
    rts_on = 11,
    rts_off = 12,
    inbound_request = 13,
    inbound_none = 14,
    inbound_hardware = 16,
    dcd_flow = 17,
    dsr_flow = 19,
};

std::uint8_t parity_code(Parity parity) {
    return static_cast<std::uint8_t>(parity) + 1;
}

std::uint8_t stop_code(StopBits stop) {
    switch (stop) {
        case StopBits::one:
            return 1;
        case StopBits::two:
            return 2;
        case StopBits::one_and_half:
            return 3;
    }
    return 1;
}

}  // namespace

Rfc2217Session::Rfc2217Session(Target& target) : target_(target) {
    target_.resume_firmware();  // what the last client stopped
}

void Rfc2217Session::from_client(std::span<const std::uint8_t> bytes, TimePoint now,
                                 std::vector<std::uint8_t>& reply) {
    for (Event& event : parser_.feed(bytes)) {
        if (auto* data = std::get_if<Data>(&event)) {
            if (!break_on_) {  // a line held in break carries no characters
                target_.receive(data->bytes, now);
            }
        } else if (auto* negotiation = std::get_if<Negotiation>(&event)) {
            auto [answer, com_port_enabled] = negotiator_.on(*negotiation);
            reply.insert(reply.end(), answer.begin(), answer.end());
            if (com_port_enabled) {
                append_modem_state(reply);
            }
        } else if (auto* sub = std::get_if<Subnegotiation>(&event)) {
            if (sub->option == option_com_port && !sub->payload.empty()) {
                on_com_port(*sub, now, reply);
            }
        }
    }
}

bool Rfc2217Session::to_client(TimePoint now, std::vector<std::uint8_t>& out) {
    if (suspended_) {
        return false;
    }
    const Output output = target_.take_output(now);
    append_data(out, output.bytes);
    return output.drop_connection;
}

void Rfc2217Session::end(TimePoint now) {
    target_.set_rts(false, now);
    target_.set_dtr(false, now);
    target_.stop_firmware();  // nobody is left to hear it
}

void Rfc2217Session::on_com_port(const Subnegotiation& sub, TimePoint now,
                                 std::vector<std::uint8_t>& reply) {
    const std::uint8_t command = sub.payload[0];
    const auto value = std::span(sub.payload).subspan(1);
    const std::uint8_t first = value.empty() ? 0 : value[0];
    const auto answer = static_cast<std::uint8_t>(command + server_offset);
    LineSettings line = target_.line();
    switch (command) {
        case signature:
            if (value.empty()) {  // a request: anything else is the client's own
                const auto* text = reinterpret_cast<const std::uint8_t*>(signature_text.data());
                append_com_port(reply, answer, std::span(text, signature_text.size()));
            }
            return;
        case set_baudrate: {
            if (value.size() == 4) {
                const std::uint32_t baud = std::uint32_t{value[0]} << 24 |
                                           std::uint32_t{value[1]} << 16 |
                                           std::uint32_t{value[2]} << 8 | value[3];
                if (baud != 0) {
                    line.baud = baud;
                }
            }
            target_.set_line(line);
            const std::array<std::uint8_t, 4> now_baud{static_cast<std::uint8_t>(line.baud >> 24),
                                                       static_cast<std::uint8_t>(line.baud >> 16),
                                                       static_cast<std::uint8_t>(line.baud >> 8),
                                                       static_cast<std::uint8_t>(line.baud)};
            append_com_port(reply, answer, now_baud);
            return;
        }
        case set_datasize:
            if (first >= 5 && first <= 8) {
                line.data_bits = first;
                target_.set_line(line);
            }
            append_com_port(reply, answer, std::array{line.data_bits});
            return;
        case set_parity:
            if (first >= 1 && first <= 5) {
                line.parity = static_cast<Parity>(first - 1);
                target_.set_line(line);
            }
            append_com_port(reply, answer, std::array{parity_code(line.parity)});
            return;
        case set_stopsize:
            if (first >= 1 && first <= 3) {
                line.stop_bits = first == 1   ? StopBits::one
                                 : first == 2 ? StopBits::two
                                              : StopBits::one_and_half;
                target_.set_line(line);
            }
            append_com_port(reply, answer, std::array{stop_code(line.stop_bits)});
            return;
        case set_control:
            append_com_port(reply, answer, std::array{on_control(first, now)});
            return;
        case notify_linestate:
            append_com_port(reply, answer, std::array{std::uint8_t{0}});
            return;
        case notify_modemstate:  // a client polling for the modem lines
            append_modem_state(reply);
            return;
        case flowcontrol_suspend:
            suspended_ = true;
            return;
        case flowcontrol_resume:
            suspended_ = false;
            return;
        case set_linestate_mask:  // no line state events to report: echo it
            append_com_port(reply, answer, std::array{first});
            return;
        case set_modemstate_mask:
            modemstate_mask_ = first;
            append_com_port(reply, answer, std::array{first});
            return;
        case purge_data:
            if (first == 2 || first == 3) {  // what the chip sent and we still hold
                target_.discard_output(now);
            }
            append_com_port(reply, answer, std::array{first});
            return;
        default:
            return;  // unknown commands are ignored, as RFC 2217 asks
    }
}

std::uint8_t Rfc2217Session::on_control(std::uint8_t value, TimePoint now) {
    switch (value) {
        case flow_request:
            return outbound_flow_;
        case break_request:
            return break_on_ ? break_on : break_off;
        case break_on:
        case break_off:
            break_on_ = value == break_on;
            return value;
        case dtr_request:
            return target_.dtr() ? dtr_on : dtr_off;
        case dtr_on:
        case dtr_off:
            target_.set_dtr(value == dtr_on, now);
            return value;
        case rts_request:
            return target_.rts() ? rts_on : rts_off;
        case rts_on:
        case rts_off:
            target_.set_rts(value == rts_on, now);
            return value;
        case inbound_request:
            return inbound_flow_;
        default:
            break;
    }
    if (value >= inbound_none && value <= inbound_hardware) {
        inbound_flow_ = value;
    } else if ((value >= 1 && value <= flow_hardware) || (value >= dcd_flow && value <= dsr_flow)) {
        outbound_flow_ = value;
    }
    return value;
}

void Rfc2217Session::append_modem_state(std::vector<std::uint8_t>& out) const {
    append_com_port(out, notify_modemstate + server_offset,
                    std::array{static_cast<std::uint8_t>(board_modem_state & modemstate_mask_)});
}

}  // namespace stm32sim
