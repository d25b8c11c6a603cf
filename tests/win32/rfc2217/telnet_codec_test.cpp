#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com_port_reply.h"
#include "option_negotiator.h"
#include "telnet_encoder.h"
#include "telnet_parser.h"

namespace chipload::rfc2217 {
namespace {

using telnet::kDo;
using telnet::kDont;
using telnet::kIac;
using telnet::kSb;
using telnet::kSe;
using telnet::kWill;
using telnet::kWont;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

// Records what the parser found, in order, with data runs merged.
struct Recorder : TelnetParser::Sink {
    Bytes data;
    Bytes lastPayload;
    std::vector<std::string> events;  // "data:N", "neg:V,O", "sb:O:payload bytes"

    void onData(std::span<const std::uint8_t> bytes) override {
        data.insert(data.end(), bytes.begin(), bytes.end());
        events.push_back("data:" + std::to_string(bytes.size()));
    }
    void onNegotiation(std::uint8_t verb, std::uint8_t option) override {
        events.push_back("neg:" + std::to_string(verb) + "," + std::to_string(option));
    }
    void onSubnegotiation(std::uint8_t option, std::span<const std::uint8_t> payload) override {
        lastPayload.assign(payload.begin(), payload.end());
        std::string text = "sb:" + std::to_string(option) + ":";
        for (const auto b : payload) {
            text += std::to_string(b) + " ";
        }
        events.push_back(text);
    }
};

Bytes allByteValues() {
    Bytes all;
    for (int i = 0; i < 256; ++i) {
        all.push_back(static_cast<std::uint8_t>(i));
    }
    return all;
}

TEST(TelnetCodec, EveryByteValueSurvivesEncodeAndParseInBinaryMode) {
    const Bytes all = allByteValues();
    Bytes wire;
    appendData(wire, all, true);
    EXPECT_EQ(wire.size(), 257u);  // only 0xFF doubled
    EXPECT_EQ(wire[255], kIac);
    EXPECT_EQ(wire[256], kIac);

    TelnetParser parser;
    parser.setBinary(true);
    Recorder rec;
    parser.feed(wire, rec);
    EXPECT_EQ(rec.data, all);
}

TEST(TelnetCodec, SequencesCutAtEveryPointParseTheSame) {
    Bytes wire{'a', kIac, kIac, 'b'};
    appendNegotiation(wire, kWill, telnet::kOptionBinary);
    appendSetBaudRate(wire, Sender::Server, 0x01FF02FFu);  // IACs inside the payload
    wire.insert(wire.end(), {kIac, kIac, 'c'});

    TelnetParser whole;
    Recorder expected;
    whole.feed(wire, expected);
    ASSERT_THAT(expected.data, ElementsAre('a', 0xFF, 'b', 0xFF, 'c'));

    // Every split, and byte by byte, gives the same non-data events and data.
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
        TelnetParser parser;
        Recorder rec;
        parser.feed(std::span(wire).first(cut), rec);
        parser.feed(std::span(wire).subspan(cut), rec);
        EXPECT_EQ(rec.data, expected.data) << "cut at " << cut;
    }
    TelnetParser parser;
    Recorder rec;
    for (const auto b : wire) {
        parser.feed(std::span(&b, 1), rec);
    }
    EXPECT_EQ(rec.data, expected.data);
    std::vector<std::string> nonData;
    for (const auto& e : rec.events) {
        if (e.rfind("data:", 0) != 0) {
            nonData.push_back(e);
        }
    }
    EXPECT_THAT(nonData, ElementsAre("neg:251,0", "sb:44:101 1 255 2 255 "));
}

TEST(TelnetCodec, DataBeforeACommandIsDeliveredBeforeIt) {
    const Bytes wire{'x', 'y', kIac, kDo, 44, 'z', kIac, kSb, 44, 107, 0x30, kIac, kSe};
    TelnetParser parser;
    Recorder rec;
    parser.feed(wire, rec);
    EXPECT_THAT(rec.events, ElementsAre("data:2", "neg:253,44", "data:1", "sb:44:107 48 "));
}

TEST(TelnetCodec, CrNulOnlyOutsideBinaryMode) {
    const Bytes wire{'\r', 0, 'a', 0, '\r', '\n'};
    TelnetParser text;
    Recorder textRec;
    text.feed(wire, textRec);
    EXPECT_THAT(textRec.data, ElementsAre('\r', 'a', 0, '\r', '\n'));

    TelnetParser binary;
    binary.setBinary(true);
    Recorder binRec;
    binary.feed(wire, binRec);
    EXPECT_EQ(binRec.data, wire);

    Bytes out;
    appendData(out, Bytes{'\r', 'a'}, false);
    EXPECT_THAT(out, ElementsAre('\r', 0, 'a'));
}

TEST(TelnetCodec, MalformedSubnegotiationsLoseNoLaterData) {
    // Too long: dropped whole; what follows still parses.
    Bytes wire{kIac, kSb, 44};
    wire.insert(wire.end(), TelnetParser::kMaxSubnegotiation + 10, 7);
    wire.insert(wire.end(), {kIac, kSe, 'o', 'k'});
    // A negotiation inside a subnegotiation ends it and is still honoured.
    wire.insert(wire.end(), {kIac, kSb, 44, 107, kIac, kWill, 3, '!'});
    // NOP and other two-byte commands are skipped.
    wire.insert(wire.end(), {kIac, 241, '.'});

    TelnetParser parser;
    Recorder rec;
    parser.feed(wire, rec);
    EXPECT_THAT(rec.data, ElementsAre('o', 'k', '!', '.'));
    EXPECT_THAT(rec.events, ElementsAre("data:2", "neg:251,3", "data:2"));
}

TEST(TelnetCodec, ClientCommandsEncodeWithIacDoubledAndServerOffset) {
    Bytes out;
    appendSetBaudRate(out, Sender::Client, 115200);
    EXPECT_THAT(out, ElementsAre(kIac, kSb, 44, 1, 0x00, 0x01, 0xC2, 0x00, kIac, kSe));

    out.clear();
    appendSetBaudRate(out, Sender::Client, 0xFF0000FFu);
    EXPECT_THAT(out, ElementsAre(kIac, kSb, 44, 1, kIac, kIac, 0, 0, kIac, kIac, kIac, kSe));

    struct Case {
        void (*encode)(Bytes&, Sender);
        std::uint8_t code;
        std::uint8_t value;
    };
    const Case cases[] = {
        {[](Bytes& b, Sender s) { appendSetDataSize(b, s, 7); }, 2, 7},
        {[](Bytes& b, Sender s) { appendSetParity(b, s, Parity::Even); }, 3, 3},
        {[](Bytes& b, Sender s) { appendSetParity(b, s, Parity::Space); }, 3, 5},
        {[](Bytes& b, Sender s) { appendSetStopSize(b, s, StopSize::OneAndHalf); }, 4, 3},
        {[](Bytes& b, Sender s) { appendSetControl(b, s, Control::FlowHardware); }, 5, 3},
        {[](Bytes& b, Sender s) { appendSetControl(b, s, Control::BreakOn); }, 5, 5},
        {[](Bytes& b, Sender s) { appendSetControl(b, s, Control::DtrOff); }, 5, 9},
        {[](Bytes& b, Sender s) { appendSetControl(b, s, Control::RtsOn); }, 5, 11},
        {[](Bytes& b, Sender s) { appendSetLineStateMask(b, s, 0x1E); }, 10, 0x1E},
        {[](Bytes& b, Sender s) { appendSetModemStateMask(b, s, 0xFF); }, 11, 0xFF},
        {[](Bytes& b, Sender s) { appendPurgeData(b, s, Purge::Both); }, 12, 3},
    };
    for (const auto& c : cases) {
        for (const auto sender : {Sender::Client, Sender::Server}) {
            Bytes encoded;
            c.encode(encoded, sender);
            const std::uint8_t code = sender == Sender::Server ? c.code + 100 : c.code;
            Bytes expected{kIac, kSb, 44, code, c.value};
            if (c.value == kIac) {
                expected.push_back(kIac);
            }
            expected.insert(expected.end(), {kIac, kSe});
            EXPECT_EQ(encoded, expected) << "command " << int{c.code};

            // What a server sends reads back as the command and value.
            if (sender == Sender::Server) {
                TelnetParser parser;
                Recorder rec;
                parser.feed(encoded, rec);
                const auto reply = decodeServerComPort(rec.lastPayload);
                ASSERT_TRUE(reply) << "command " << int{c.code};
                EXPECT_EQ(static_cast<int>(reply->command), c.code);
                EXPECT_EQ(reply->value, c.value);
            }
        }
    }
}

TEST(TelnetCodec, ServerRepliesDecodeAndBadOnesAreRejected) {
    const auto baud = decodeServerComPort(Bytes{101, 0, 0, 0x25, 0x80});
    ASSERT_TRUE(baud);
    EXPECT_EQ(baud->command, ComPortCommand::SetBaudRate);
    EXPECT_EQ(baud->value, 9600u);

    const auto modem = decodeServerComPort(Bytes{107, 0xB1});
    ASSERT_TRUE(modem);
    EXPECT_EQ(modem->command, ComPortCommand::NotifyModemState);
    EXPECT_EQ(modem->value, 0xB1u);

    const auto signature = decodeServerComPort(Bytes{100, 'h', 'i'});
    ASSERT_TRUE(signature);
    EXPECT_EQ(signature->command, ComPortCommand::Signature);

    EXPECT_FALSE(decodeServerComPort(Bytes{}));
    EXPECT_FALSE(decodeServerComPort(Bytes{1, 0, 0, 0x25, 0x80}));  // a client code
    EXPECT_FALSE(decodeServerComPort(Bytes{113, 0}));               // past the last code
    EXPECT_FALSE(decodeServerComPort(Bytes{101, 0, 0x25, 0x80}));   // short baud
    EXPECT_FALSE(decodeServerComPort(Bytes{103}));                  // parity with no value
    EXPECT_FALSE(decodeServerComPort(Bytes{107, 1, 2}));            // trailing byte
}

TEST(TelnetNegotiation, OpeningRequestsAndAnswersSettleWithoutLoops) {
    OptionNegotiator neg({telnet::kOptionBinary, telnet::kOptionComPort}, {telnet::kOptionBinary});
    Bytes out;
    neg.start(out);
    EXPECT_THAT(out, ElementsAre(kIac, kWill, 0, kIac, kWill, 44, kIac, kDo, 0));
    EXPECT_FALSE(neg.localSettled(44));
    EXPECT_FALSE(neg.allSettled());

    // Answers to our requests are not answered again.
    out.clear();
    neg.receive(kDo, 0, out);
    neg.receive(kDo, 44, out);
    neg.receive(kWill, 0, out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(neg.localEnabled(44));
    EXPECT_TRUE(neg.localSettled(44));
    EXPECT_TRUE(neg.remoteEnabled(0));
    EXPECT_TRUE(neg.allSettled());

    // A repeated request for an enabled option is ignored.
    neg.receive(kDo, 44, out);
    EXPECT_TRUE(out.empty());

    // The peer turning an option off is acknowledged once.
    neg.receive(kDont, 0, out);
    EXPECT_THAT(out, ElementsAre(kIac, kWont, 0));
    EXPECT_FALSE(neg.localEnabled(0));
    out.clear();
    neg.receive(kDont, 0, out);
    EXPECT_TRUE(out.empty());

    // The peer may later ask for it again; we accept.
    neg.receive(kDo, 0, out);
    EXPECT_THAT(out, ElementsAre(kIac, kWill, 0));
}

TEST(TelnetNegotiation, UnsupportedOptionsAreRefusedAndRefusalsSettleRequests) {
    OptionNegotiator neg({telnet::kOptionComPort}, {telnet::kOptionSuppressGoAhead});
    Bytes out;
    neg.start(out);
    out.clear();

    neg.receive(kDo, 1, out);     // ECHO from us: no
    neg.receive(kWill, 1, out);   // ECHO from them: no
    neg.receive(kWill, 24, out);  // terminal type: no
    EXPECT_THAT(out, ElementsAre(kIac, kWont, 1, kIac, kDont, 1, kIac, kDont, 24));
    EXPECT_FALSE(neg.remoteEnabled(1));

    // Refusal of our own requests: settled, disabled, nothing sent back.
    out.clear();
    neg.receive(kDont, 44, out);
    neg.receive(kWont, 3, out);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(neg.localSettled(44));
    EXPECT_FALSE(neg.localEnabled(44));
    EXPECT_FALSE(neg.remoteEnabled(3));
}

}  // namespace
}  // namespace chipload::rfc2217
