// The RFC 2217 client's Telnet codec on arbitrary server bytes. Beyond memory
// safety: the parser gives the same events however the stream is cut between
// reads, keeps subnegotiations within their bound, decodes every com port
// reply without harm, and gives back exactly the data the encoder escaped.
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "com_port_reply.h"
#include "fuzz_check.h"
#include "telnet_encoder.h"
#include "telnet_parser.h"
#include "telnet_protocol.h"

namespace {

using namespace chipload::rfc2217;
using Bytes = std::vector<std::uint8_t>;

struct Negotiation {
    std::uint8_t verb, option;
    bool operator==(const Negotiation&) const = default;
};
struct Subnegotiation {
    std::uint8_t option;
    Bytes payload;
    bool operator==(const Subnegotiation&) const = default;
};
using Event = std::variant<Bytes, Negotiation, Subnegotiation>;

// Collects events; data split by a cut between reads is joined again.
class Recorder final : public TelnetParser::Sink {
  public:
    void onData(std::span<const std::uint8_t> bytes) override {
        FUZZ_CHECK(!bytes.empty(), "no empty data event");
        if (!events.empty() && std::holds_alternative<Bytes>(events.back())) {
            auto& last = std::get<Bytes>(events.back());
            last.insert(last.end(), bytes.begin(), bytes.end());
        } else {
            events.emplace_back(Bytes(bytes.begin(), bytes.end()));
        }
    }
    void onNegotiation(std::uint8_t verb, std::uint8_t option) override {
        FUZZ_CHECK(verb >= telnet::kWill && verb <= telnet::kDont, "negotiation verb");
        events.emplace_back(Negotiation{verb, option});
    }
    void onSubnegotiation(std::uint8_t option, std::span<const std::uint8_t> payload) override {
        FUZZ_CHECK(payload.size() <= TelnetParser::kMaxSubnegotiation, "subnegotiation bound");
        if (option == telnet::kOptionComPort) {
            const auto reply = decodeServerComPort(payload);
            if (reply) {
                FUZZ_CHECK(static_cast<std::uint8_t>(reply->command) < kComPortCommandCount,
                           "decoded command is a client code");
            }
        }
        events.emplace_back(Subnegotiation{option, Bytes(payload.begin(), payload.end())});
    }

    std::vector<Event> events;
};

Bytes DataOf(const std::vector<Event>& events) {
    Bytes data;
    for (const Event& event : events) {
        FUZZ_CHECK(std::holds_alternative<Bytes>(event), "escaped data parses as data only");
        const auto& bytes = std::get<Bytes>(event);
        data.insert(data.end(), bytes.begin(), bytes.end());
    }
    return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool binary = (data[0] & 1) != 0;
    const std::span<const std::uint8_t> stream(data + 1, size - 1);

    TelnetParser whole;
    whole.setBinary(binary);
    Recorder wholeEvents;
    whole.feed(stream, wholeEvents);

    // The same stream in reads of 1..8 bytes, the lengths taken from the stream itself.
    TelnetParser cut;
    cut.setBinary(binary);
    Recorder cutEvents;
    for (std::size_t at = 0; at < stream.size();) {
        const std::size_t n = std::min<std::size_t>(1 + stream[at] % 8, stream.size() - at);
        cut.feed(stream.subspan(at, n), cutEvents);
        at += n;
    }
    FUZZ_CHECK(cutEvents.events == wholeEvents.events, "cuts between reads change nothing");

    // The stream as line data, escaped by the encoder, comes back unchanged.
    Bytes escaped;
    appendData(escaped, stream, binary);
    TelnetParser back;
    back.setBinary(binary);
    Recorder backEvents;
    back.feed(escaped, backEvents);
    FUZZ_CHECK(DataOf(backEvents.events) == Bytes(stream.begin(), stream.end()),
               "escaped data round trip");

    // A server's com port reply carrying a piece of the stream decodes to its command.
    const auto command = static_cast<ComPortCommand>(data[0] % kComPortCommandCount);
    const std::size_t payloadLength = std::min<std::size_t>(stream.size(), 8);
    Bytes reply;
    appendComPort(reply, Sender::Server, command, stream.first(payloadLength));
    TelnetParser replyParser;
    Recorder replyEvents;
    replyParser.feed(reply, replyEvents);
    FUZZ_CHECK(replyEvents.events.size() == 1 &&
                   std::holds_alternative<Subnegotiation>(replyEvents.events[0]),
               "a com port frame is one subnegotiation");
    const auto& sub = std::get<Subnegotiation>(replyEvents.events[0]);
    FUZZ_CHECK(sub.option == telnet::kOptionComPort, "com port option");
    FUZZ_CHECK(sub.payload.size() == 1 + payloadLength &&
                   sub.payload[0] == static_cast<std::uint8_t>(command) + kServerOffset,
               "server code and payload kept");
    const auto decoded = decodeServerComPort(sub.payload);
    if (decoded) {
        FUZZ_CHECK(decoded->command == command, "decoded command");
    }
    return 0;
}
