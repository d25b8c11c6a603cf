// Telnet (RFC 854/855) framing with the COM-PORT-OPTION of RFC 2217: splits
// the client's stream into data, option negotiation and subnegotiations, and
// builds the server's frames with IAC doubled.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <utility>
#include <variant>
#include <vector>

namespace stm32sim::telnet {

inline constexpr std::uint8_t se = 240;
inline constexpr std::uint8_t sb = 250;
inline constexpr std::uint8_t will = 251;
inline constexpr std::uint8_t wont = 252;
inline constexpr std::uint8_t do_ = 253;
inline constexpr std::uint8_t dont = 254;
inline constexpr std::uint8_t iac = 255;

inline constexpr std::uint8_t option_binary = 0;
inline constexpr std::uint8_t option_echo = 1;
inline constexpr std::uint8_t option_sga = 3;
inline constexpr std::uint8_t option_com_port = 44;

// COM-PORT-OPTION commands from the client; the server answers with +100.
enum ComPort : std::uint8_t {
    signature = 0,
    set_baudrate = 1,
    set_datasize = 2,
    set_parity = 3,
    set_stopsize = 4,
    set_control = 5,
    notify_linestate = 6,
    notify_modemstate = 7,
    flowcontrol_suspend = 8,
    flowcontrol_resume = 9,
    set_linestate_mask = 10,
    set_modemstate_mask = 11,
    purge_data = 12,
};
inline constexpr std::uint8_t server_offset = 100;

struct Data {
    std::vector<std::uint8_t> bytes;
};
struct Negotiation {
    std::uint8_t verb;  // will, wont, do_, dont
    std::uint8_t option;
};
struct Subnegotiation {
    std::uint8_t option;
    std::vector<std::uint8_t> payload;  // IAC IAC already undone
};
using Event = std::variant<Data, Negotiation, Subnegotiation>;

class Parser {
  public:
    // Subnegotiations longer than this are cut (nothing this server
    // understands comes close).
    static constexpr std::size_t max_payload = 256;

    // Events in stream order; a frame split across calls is kept until whole.
    std::vector<Event> feed(std::span<const std::uint8_t> bytes);

  private:
    enum class State { data, command, negotiation, sub_option, sub_data, sub_iac };

    State state_ = State::data;
    std::uint8_t verb_ = 0;
    Subnegotiation sub_;
};

// Data with IAC doubled.
void append_data(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bytes);
void append_negotiation(std::vector<std::uint8_t>& out, std::uint8_t verb, std::uint8_t option);
// IAC SB COM-PORT-OPTION command payload IAC SE, IAC in the payload doubled.
void append_com_port(std::vector<std::uint8_t>& out, std::uint8_t command,
                     std::span<const std::uint8_t> payload);

// The server's side of option negotiation: agrees to binary, suppress-go-ahead
// and COM-PORT-OPTION in both directions, refuses the rest, and never answers
// a request for a state it is already in (so that no loop can start).
class Negotiator {
  public:
    // The reply for one request (possibly none); true in the pair when the
    // client has just enabled COM-PORT-OPTION.
    std::pair<std::vector<std::uint8_t>, bool> on(const Negotiation& request);

  private:
    static bool supported(std::uint8_t option);

    std::array<bool, 256> local_{};   // we WILL
    std::array<bool, 256> remote_{};  // they WILL
    std::array<bool, 256> refused_local_{};
    std::array<bool, 256> refused_remote_{};
};

}  // namespace stm32sim::telnet
