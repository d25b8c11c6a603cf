// Splits a Telnet byte stream into line data, option negotiations and
// subnegotiations. Sequences may be cut anywhere between reads; the parser
// keeps its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace chipload::rfc2217 {

class TelnetParser {
  public:
    class Sink {
      public:
        virtual ~Sink() = default;
        virtual void onData(std::span<const std::uint8_t> bytes) = 0;
        // verb is WILL, WONT, DO or DONT.
        virtual void onNegotiation(std::uint8_t verb, std::uint8_t option) = 0;
        virtual void onSubnegotiation(std::uint8_t option,
                                      std::span<const std::uint8_t> payload) = 0;
    };

    // No legitimate subnegotiation of ours comes near this; longer ones are
    // dropped whole rather than grown without bound.
    static constexpr std::size_t kMaxSubnegotiation = 64;

    // Outside binary mode a sender turns a bare CR into CR NUL (RFC 854);
    // the NUL is not data.
    void setBinary(bool binary) { binary_ = binary; }

    void feed(std::span<const std::uint8_t> bytes, Sink& sink);

  private:
    enum class State { Data, Iac, Verb, SbOption, SbData, SbIac };

    void flushData(Sink& sink);
    void endSubnegotiation(Sink& sink);

    State state_ = State::Data;
    bool binary_ = false;
    bool afterCr_ = false;
    std::uint8_t verb_ = 0;
    std::uint8_t sbOption_ = 0;
    bool sbOverflow_ = false;
    std::vector<std::uint8_t> sbPayload_;
    std::vector<std::uint8_t> data_;
};

}  // namespace chipload::rfc2217
