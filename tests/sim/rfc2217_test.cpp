// Telnet framing, option negotiation and the COM-PORT-OPTION conversation,
// without a socket.
#include <gtest/gtest.h>

#include "rfc2217_session.hpp"
#include "sim_wire.hpp"
#include "telnet.hpp"

namespace stm32sim::test {
namespace {

using namespace telnet;

Bytes com_port(std::uint8_t command, const Bytes& payload) {
    Bytes out;
    append_com_port(out, command, payload);
    return out;
}

TEST(TelnetParser, SeparatesDataNegotiationAndSubnegotiationAcrossFeeds) {
    Parser parser;
    auto events = parser.feed(Bytes{'a', iac, iac, 'b', iac, will});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(std::get<Data>(events[0]).bytes, (Bytes{'a', 0xFF, 'b'}));

    events = parser.feed(Bytes{option_com_port, iac, sb, option_com_port, 1, 0x00, iac});
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(std::get<Negotiation>(events[0]).verb, will);
    EXPECT_EQ(std::get<Negotiation>(events[0]).option, option_com_port);

    events = parser.feed(Bytes{iac, 0x01, iac, se, iac, 241 /* NOP */, 'z'});
    ASSERT_EQ(events.size(), 2u);
    const auto& sub = std::get<Subnegotiation>(events[0]);
    EXPECT_EQ(sub.option, option_com_port);
    EXPECT_EQ(sub.payload, (Bytes{1, 0x00, 0xFF, 0x01}));
    EXPECT_EQ(std::get<Data>(events[1]).bytes, Bytes{'z'});
}

TEST(TelnetParser, AnEndlessSubnegotiationIsCutNotGrown) {
    Parser parser;
    Bytes flood{iac, sb, option_com_port};
    flood.resize(10'000, 0x41);
    flood.insert(flood.end(), {iac, se});
    const auto events = parser.feed(flood);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(std::get<Subnegotiation>(events[0]).payload.size(), Parser::max_payload);
}

TEST(TelnetEncoding, IacIsDoubledInDataAndSubnegotiations) {
    Bytes out;
    append_data(out, Bytes{1, 0xFF, 2});
    EXPECT_EQ(out, (Bytes{1, 0xFF, 0xFF, 2}));
    EXPECT_EQ(com_port(101, {0x00, 0x00, 0xFF, 0xFF}),
              (Bytes{iac, sb, 44, 101, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, iac, se}));
}

TEST(TelnetNegotiator, AgreesOnceToWhatItSupportsAndRefusesTheRestOnce) {
    Negotiator negotiator;
    auto [reply, enabled] = negotiator.on({will, option_com_port});
    EXPECT_EQ(reply, (Bytes{iac, do_, option_com_port}));
    EXPECT_TRUE(enabled);
    std::tie(reply, enabled) = negotiator.on({will, option_com_port});
    EXPECT_EQ(reply, Bytes{}) << "no answer to a state already in force";
    EXPECT_FALSE(enabled);
    EXPECT_EQ(negotiator.on({do_, option_binary}).first, (Bytes{iac, will, option_binary}));
    EXPECT_EQ(negotiator.on({do_, option_echo}).first, (Bytes{iac, wont, option_echo}));
    EXPECT_EQ(negotiator.on({do_, option_echo}).first, Bytes{});
    EXPECT_EQ(negotiator.on({will, 24}).first, (Bytes{iac, dont, 24}));
    EXPECT_EQ(negotiator.on({dont, option_binary}).first, (Bytes{iac, wont, option_binary}));
    EXPECT_EQ(negotiator.on({wont, option_com_port}).first, (Bytes{iac, dont, option_com_port}));
}

class Session : public ::testing::Test {
  protected:
    Session() : target(TargetConfig{}), session(target) {}

    Bytes send(const Bytes& bytes) {
        Bytes reply;
        session.from_client(bytes, Clock::now(), reply);
        return reply;
    }

    Target target;
    Rfc2217Session session;
};

TEST_F(Session, EnablingComPortOptionReportsTheModemState) {
    EXPECT_EQ(send({iac, will, option_com_port}), (Bytes{iac, do_, 44} + com_port(107, {0x00})));
    EXPECT_EQ(send(com_port(set_modemstate_mask, {0x30})), com_port(111, {0x30}));
    EXPECT_EQ(send(com_port(notify_modemstate, {})), com_port(107, {0x00}));
}

TEST_F(Session, LineSettingsAreAnsweredWithWhatIsInForce) {
    EXPECT_EQ(send(com_port(set_baudrate, {0, 0, 0, 0})), com_port(101, {0x00, 0x01, 0xC2, 0x00}))
        << "0 asks for the current rate: 115200";
    EXPECT_EQ(send(com_port(set_baudrate, {0, 0, 0x25, 0x80})), com_port(101, {0, 0, 0x25, 0x80}));
    EXPECT_EQ(send(com_port(set_datasize, {7})), com_port(102, {7}));
    EXPECT_EQ(send(com_port(set_datasize, {9})), com_port(102, {7})) << "invalid: unchanged";
    EXPECT_EQ(send(com_port(set_parity, {2})), com_port(103, {2}));
    EXPECT_EQ(send(com_port(set_stopsize, {3})), com_port(104, {3}));
    EXPECT_EQ(target.line(), (LineSettings{9600, 7, Parity::odd, StopBits::one_and_half}));
    EXPECT_EQ(send(com_port(set_parity, {0})), com_port(103, {2}));
}

TEST_F(Session, ControlLinesDriveResetAndBoot0) {
    EXPECT_EQ(send(com_port(set_control, {11})), com_port(105, {11}));
    EXPECT_EQ(send(com_port(set_control, {8})), com_port(105, {8}));
    EXPECT_EQ(target.mode(), Mode::held_in_reset);
    EXPECT_EQ(send(com_port(set_control, {7})), com_port(105, {8}));
    EXPECT_EQ(send(com_port(set_control, {10})), com_port(105, {11}));
    EXPECT_EQ(send(com_port(set_control, {9})), com_port(105, {9}));
    EXPECT_EQ(target.mode(), Mode::bootloader);
    EXPECT_EQ(send(com_port(set_control, {1})), com_port(105, {1}));
    EXPECT_EQ(send(com_port(set_control, {0})), com_port(105, {1}));

    send(Bytes{0x7F});
    Bytes out;
    session.to_client(Clock::now(), out);
    EXPECT_EQ(out, Bytes{ack});

    send(com_port(set_control, {8}));
    session.end(Clock::now());
    EXPECT_FALSE(target.rts());
    EXPECT_FALSE(target.dtr());
    EXPECT_EQ(target.mode(), Mode::application) << "a closed port drops DTR and RTS together";
}

TEST_F(Session, BreakSwallowsDataAndSuspendHoldsOutput) {
    send(com_port(set_control, {11}));
    send(com_port(set_control, {8}));
    send(com_port(set_control, {9}));
    EXPECT_EQ(send(com_port(set_control, {5})), com_port(105, {5}));
    EXPECT_EQ(send(com_port(set_control, {4})), com_port(105, {5}));
    send(Bytes{0x7F});
    Bytes out;
    session.to_client(Clock::now(), out);
    EXPECT_EQ(out, Bytes{}) << "nothing gets through a line in break";
    send(com_port(set_control, {6}));

    EXPECT_EQ(send(com_port(flowcontrol_suspend, {})), Bytes{});
    send(Bytes{0x7F});
    session.to_client(Clock::now(), out);
    EXPECT_EQ(out, Bytes{});
    send(com_port(flowcontrol_resume, {}));
    session.to_client(Clock::now(), out);
    EXPECT_EQ(out, Bytes{ack});
}

TEST_F(Session, ChipDataIsEscapedAndPurgeDropsWhatIsHeld) {
    send(com_port(set_control, {11}));
    send(com_port(set_control, {8}));
    send(com_port(set_control, {9}));
    send(Bytes{0x7F} + command(0x11) + address_frame(flash_base) + Bytes{0x01, 0xFE});
    Bytes out;
    session.to_client(Clock::now(), out);
    EXPECT_EQ(out, (Bytes{ack, ack, ack, ack, 0xFF, 0xFF, 0xFF, 0xFF})) << "erased flash, escaped";

    send(command(0x01));
    EXPECT_EQ(send(com_port(purge_data, {2})), com_port(112, {2}));
    out.clear();
    session.to_client(Clock::now(), out);
    EXPECT_EQ(out, Bytes{});
}

TEST_F(Session, SignatureRequestIsAnsweredAndUnknownCommandsIgnored) {
    const Bytes reply = send(com_port(signature, {}));
    ASSERT_GT(reply.size(), 6u);
    EXPECT_EQ(reply[3], 100);
    EXPECT_EQ(send(com_port(signature, {'h', 'i'})), Bytes{});
    EXPECT_EQ(send(com_port(77, {1})), Bytes{});
}

}  // namespace
}  // namespace stm32sim::test
