// The simulator's RFC 2217 session on arbitrary client bytes. Beyond memory
// safety: whatever it sends back parses cleanly with the program's own client
// codec, and every com port frame it sends carries a server code.
#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "com_port_reply.h"
#include "fuzz_check.h"
#include "rfc2217_session.hpp"
#include "stm32sim/target.hpp"
#include "telnet_parser.h"
#include "telnet_protocol.h"

namespace {

namespace client = chipload::rfc2217;

class ServerFrames final : public client::TelnetParser::Sink {
  public:
    void onData(std::span<const std::uint8_t> /*bytes*/) override {}
    void onNegotiation(std::uint8_t verb, std::uint8_t /*option*/) override {
        FUZZ_CHECK(verb >= client::telnet::kWill && verb <= client::telnet::kDont,
                   "negotiation verb");
    }
    void onSubnegotiation(std::uint8_t option, std::span<const std::uint8_t> payload) override {
        FUZZ_CHECK(option == client::telnet::kOptionComPort, "only com port subnegotiations");
        FUZZ_CHECK(!payload.empty() && payload[0] >= client::kServerOffset &&
                       payload[0] < client::kServerOffset + client::kComPortCommandCount,
                   "server code");
        client::decodeServerComPort(payload);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    stm32sim::TargetConfig config;
    stm32sim::Target chip(config);
    stm32sim::Rfc2217Session session(chip);
    client::TelnetParser parser;
    parser.setBinary(true);
    ServerFrames frames;

    stm32sim::TimePoint now{};
    std::vector<std::uint8_t> reply;
    for (std::size_t at = 0; at < size;) {
        // Reads of 1..16 bytes, the lengths taken from the stream itself.
        const std::size_t n = std::min<std::size_t>(1 + data[at] % 16, size - at);
        session.from_client(std::span(data + at, n), now, reply);
        at += n;
        now += std::chrono::milliseconds(5);
        session.to_client(now, reply);
        parser.feed(reply, frames);
        reply.clear();
    }
    session.end(now);
    FUZZ_CHECK(!chip.dtr() && !chip.rts(), "lines fall when the client goes");
    return 0;
}
