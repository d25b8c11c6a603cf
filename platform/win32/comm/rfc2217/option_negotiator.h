// Telnet option negotiation without loops (RFC 854's rule: answer only
// requests that change a state). Options not named at construction are
// refused: DO is answered WONT, WILL is answered DONT.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>

#include "telnet_encoder.h"

namespace chipload::rfc2217 {

class OptionNegotiator {
  public:
    // local: options we offer to perform (WILL); remote: options we ask the
    // peer to perform (DO).
    OptionNegotiator(std::initializer_list<std::uint8_t> local,
                     std::initializer_list<std::uint8_t> remote);

    // The opening requests: WILL for each local option, DO for each remote one.
    void start(Bytes& out);

    // Takes a WILL/WONT/DO/DONT from the peer and appends the answer, if any.
    void receive(std::uint8_t verb, std::uint8_t option, Bytes& out);

    bool localEnabled(std::uint8_t option) const { return local_[option].enabled; }
    bool remoteEnabled(std::uint8_t option) const { return remote_[option].enabled; }
    // The peer has answered our request for the option (either way).
    bool localSettled(std::uint8_t option) const { return !local_[option].requested; }
    // Every request of ours has been answered.
    bool allSettled() const;

  private:
    struct Side {
        bool wanted = false;
        bool enabled = false;
        bool requested = false;  // our request is out, its answer not yet in
    };

    // Shared by both directions: a request (DO or WILL) or refusal arrived.
    static void onRequest(Side& side, std::uint8_t accept, std::uint8_t refuse, std::uint8_t option,
                          Bytes& out);
    static void onRefusal(Side& side, std::uint8_t refuse, std::uint8_t option, Bytes& out);

    std::array<Side, 256> local_{};
    std::array<Side, 256> remote_{};
};

}  // namespace chipload::rfc2217
