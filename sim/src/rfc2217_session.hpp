// One RFC 2217 client's conversation with the target, without the socket:
// Telnet negotiation, the COM-PORT-OPTION commands (answered with the server
// codes, command + 100) and the data in both directions.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "stm32sim/target.hpp"
#include "telnet.hpp"

namespace stm32sim {

class Rfc2217Session {
  public:
    explicit Rfc2217Session(Target& target);

    // Handles the client's bytes; appends what must go back to `reply`.
    void from_client(std::span<const std::uint8_t> bytes, TimePoint now,
                     std::vector<std::uint8_t>& reply);
    // Appends the target's due output, escaped; true when the drop fault
    // asks to hang up after it.
    bool to_client(TimePoint now, std::vector<std::uint8_t>& out);
    // The client asked the server to hold its data (FLOWCONTROL-SUSPEND).
    bool suspended() const { return suspended_; }
    // The client is gone: its port closed, so DTR and RTS fall.
    void end(TimePoint now);

  private:
    void on_com_port(const telnet::Subnegotiation& sub, TimePoint now,
                     std::vector<std::uint8_t>& reply);
    std::uint8_t on_control(std::uint8_t value, TimePoint now);
    void append_modem_state(std::vector<std::uint8_t>& out) const;

    Target& target_;
    telnet::Parser parser_;
    telnet::Negotiator negotiator_;
    bool suspended_ = false;
    bool break_on_ = false;
    std::uint8_t outbound_flow_ = 1;  // none
    std::uint8_t inbound_flow_ = 14;  // none
    std::uint8_t modemstate_mask_ = 0xFF;
};

}  // namespace stm32sim
