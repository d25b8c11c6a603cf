// Each injected fault, and that a seed replays the same faults.
#include <gtest/gtest.h>

#include <chrono>

#include "sim_wire.hpp"

namespace stm32sim::test {
namespace {

using namespace std::chrono_literals;

TargetConfig with_faults(const FaultConfig& faults, std::uint64_t seed = 1) {
    TargetConfig config = bootloader_config();
    config.faults = faults;
    config.seed = seed;
    return config;
}

TEST(Faults, RefusedCommandIsNackedAndOthersStillWork) {
    Target target(with_faults({.refuse_command = 0x02}));
    talk(target, {0x7F});
    EXPECT_EQ(talk(target, command(0x02)), Bytes{nack});
    EXPECT_EQ(talk(target, command(0x01)), (Bytes{ack, 0x22, 0x00, 0x00, ack}));
}

TEST(Faults, RefusingEveryReplyNacksEvenTheSynchronisation) {
    Target target(with_faults({.refuse_fraction = 1.0}));
    EXPECT_EQ(talk(target, {0x7F}), Bytes{nack});
    EXPECT_EQ(talk(target, {0x7F}), Bytes{nack}) << "still waiting for a synchronisation";
}

// One exchange of a scripted session and the bytes the target answers with.
struct Exchange {
    Bytes sent;
    Bytes answer;
};

struct RefusedStepCase {
    const char* name;
    RefusedStep refused;
    std::vector<Exchange> session;  // after the synchronisation
};

class RefusedStepTest : public ::testing::TestWithParam<RefusedStepCase> {};

TEST_P(RefusedStepTest, OnlyTheChosenStepOfTheChosenOccurrenceIsNacked) {
    Target target(with_faults({.refuse_step = GetParam().refused}));
    target.load_flash(flash_base, Bytes(1024, 0x00));
    ASSERT_EQ(talk(target, {0x7F}), Bytes{ack});
    for (std::size_t i = 0; i < GetParam().session.size(); ++i) {
        const Exchange& exchange = GetParam().session[i];
        EXPECT_EQ(talk(target, exchange.sent), exchange.answer) << "exchange " << i;
    }
}

const Bytes ram_write = command(0x31) + address_frame(0x2000'1000) + block({1, 2, 3, 4});
const Bytes read_16 = command(0x11) + address_frame(flash_base) + Bytes{0x0F, 0xF0};
const Bytes erase_page_0 = command(0x43) + block({0});
using Step = RefusedStep::Step;

INSTANTIATE_TEST_SUITE_P(
    Steps, RefusedStepTest,
    ::testing::Values(RefusedStepCase{"SecondWriteData",
                                      {0x31, Step::data, 2},
                                      {{ram_write, {ack, ack, ack}},
                                       {read_16, Bytes{ack, ack, ack} + Bytes(16, 0x00)},
                                       {ram_write, {ack, ack, nack}},
                                       {ram_write, {ack, ack, ack}}}},
                      RefusedStepCase{"WriteAddress",
                                      {0x31, Step::address, 1},
                                      {{command(0x31) + address_frame(0x2000'1000), {ack, nack}},
                                       {ram_write, {ack, ack, ack}}}},
                      RefusedStepCase{"ReadLength",
                                      {0x11, Step::length, 1},
                                      {{read_16, {ack, ack, nack}},
                                       {read_16, Bytes{ack, ack, ack} + Bytes(16, 0)}}},
                      RefusedStepCase{"GoAddressLeavesTheChipInTheBootloader",
                                      {0x21, Step::address, 1},
                                      {{command(0x21) + address_frame(flash_base), {ack, nack}},
                                       {command(0x01), {ack, 0x22, 0x00, 0x00, ack}}}},
                      RefusedStepCase{"ThirdGetVersion",
                                      {0x01, Step::command, 3},
                                      {{command(0x01), {ack, 0x22, 0x00, 0x00, ack}},
                                       {command(0x01), {ack, 0x22, 0x00, 0x00, ack}},
                                       {command(0x01), {nack}},
                                       {command(0x01), {ack, 0x22, 0x00, 0x00, ack}}}},
                      RefusedStepCase{"ErasePageList",
                                      {0x43, Step::data, 1},
                                      {{erase_page_0, {ack, nack}},
                                       {read_16, Bytes{ack, ack, ack} + Bytes(16, 0x00)},
                                       {erase_page_0, {ack, ack}},
                                       {read_16, Bytes{ack, ack, ack} + Bytes(16, 0xFF)}}}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(Faults, RefusedSynchronisationCountsAcrossResets) {
    Target target(with_faults({.refuse_step = RefusedStep{0x7F, Step::command, 2}}));
    EXPECT_EQ(talk(target, {0x7F}), Bytes{ack});
    target.reset(Clock::now());
    EXPECT_EQ(talk(target, {0x7F}), Bytes{nack});
    EXPECT_EQ(talk(target, {0x7F}), Bytes{ack}) << "still waiting for a synchronisation";
}

// The replies to a long scripted session, under a fraction of some fault.
Bytes scripted_session(const FaultConfig& faults, std::uint64_t seed) {
    Target target(with_faults(faults, seed));
    Bytes all = talk(target, {0x7F});
    for (int i = 0; i < 40; ++i) {
        const Bytes part = talk(target, command(0x01));
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

TEST(Faults, FractionsAreReproducibleFromTheSeed) {
    for (const FaultConfig& faults :
         {FaultConfig{.refuse_fraction = 0.3}, FaultConfig{.lose_fraction = 0.3},
          FaultConfig{.noise_fraction = 0.3}}) {
        const Bytes clean = scripted_session({}, 1);
        const Bytes first = scripted_session(faults, 5);
        EXPECT_EQ(first, scripted_session(faults, 5));
        EXPECT_NE(first, scripted_session(faults, 6));
        EXPECT_NE(first, clean) << "0.3 of 41 replies left every reply alone";
    }
}

TEST(Faults, LostRepliesStillTakeEffect) {
    Target target(with_faults({.lose_fraction = 1.0}));
    EXPECT_EQ(talk(target, {0x7F}), Bytes{});
    EXPECT_EQ(talk(target, command(0x31) + address_frame(0x2000'1000) + block({7, 8})), Bytes{});
    EXPECT_EQ(target.read_memory(0x2000'1000, 2), (Bytes{7, 8}));
    const auto log = target.commands();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[1].reply_lost);
    EXPECT_TRUE(log[1].acknowledged);
}

TEST(Faults, SplitRepliesComeInPiecesWithGaps) {
    Target target(with_faults({.split_pieces = 3, .split_gap = 10ms}));
    const TimePoint t = Clock::now();
    target.receive(Bytes{0x7F}, t);
    EXPECT_EQ(target.take_output(t).bytes, Bytes{ack}) << "a single byte cannot be split";
    target.receive(command(0x00), t);
    EXPECT_EQ(target.take_output(t).bytes, (Bytes{ack, 11, 0x22, 0x00, 0x01}));
    EXPECT_EQ(target.take_output(t + 9ms).bytes, Bytes{});
    EXPECT_EQ(target.take_output(t + 10ms).bytes, (Bytes{0x02, 0x11, 0x21, 0x31, 0x43}));
    EXPECT_EQ(target.take_output(t + 20ms).bytes, (Bytes{0x63, 0x73, 0x82, 0x92, ack}));
}

TEST(Faults, NoiseComesBeforeTheReply) {
    Target target(with_faults({.noise_fraction = 1.0}));
    const Bytes reply = talk(target, {0x7F});
    ASSERT_EQ(reply.size(), 2u);
    EXPECT_EQ(reply[1], ack);
}

TEST(Faults, TheConnectionDropsOnceAfterNBytes) {
    Target target(with_faults({.drop_after_bytes = 3}));
    const TimePoint t = Clock::now();
    target.receive(Bytes{0x7F} + command(0x01), t);
    const Output first = target.take_output(t);
    EXPECT_EQ(first.bytes, (Bytes{ack, ack, 0x22}));
    EXPECT_TRUE(first.drop_connection);
    target.receive(command(0x01), t);
    const Output second = target.take_output(t);
    EXPECT_EQ(second.bytes, (Bytes{ack, 0x22, 0x00, 0x00, ack}));
    EXPECT_FALSE(second.drop_connection);
}

TEST(Faults, SpontaneousResetSendsTheChipBackToWaitingForSync) {
    Target target(with_faults({.reset_fraction = 1.0}));
    EXPECT_EQ(talk(target, {0x7F}), Bytes{ack}) << "the synchronisation is not a command";
    EXPECT_EQ(talk(target, command(0x01)), Bytes{});
    EXPECT_EQ(target.reset_count(), 1u);
    EXPECT_EQ(target.mode(), Mode::bootloader);
    EXPECT_EQ(talk(target, {0x7F}), Bytes{ack});
}

TEST(Faults, ACorruptedByteIsAcknowledgedAndOnlyThatByteDiffers) {
    Target target(with_faults({.corrupt_programmed_byte = 0x0800'0005}));
    ASSERT_EQ(talk(target, {0x7F}), Bytes{ack});
    const Bytes data{1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(talk(target, command(0x31) + address_frame(0x0800'0000) + block(data)),
              (Bytes{ack, ack, ack}));
    EXPECT_EQ(target.read_memory(0x0800'0000, 8), (Bytes{1, 2, 3, 4, 5, 7, 7, 8}));
    EXPECT_EQ(talk(target, command(0x31) + address_frame(0x0800'0008) + block(data)),
              (Bytes{ack, ack, ack}));
    EXPECT_EQ(target.read_memory(0x0800'0008, 8), data) << "another block is left alone";
}

TEST(Faults, StrayByteAfterEveryReset) {
    TargetConfig config = with_faults({.stray_byte_after_reset = 0x00});
    config.boot0 = Boot0Polarity::rts_asserted;
    Target target(config);
    const TimePoint t = Clock::now();
    target.set_rts(true, t);
    target.set_dtr(true, t);
    target.set_dtr(false, t + 30ms);
    target.receive(Bytes{0x7F}, t + 31ms);
    EXPECT_EQ(target.take_output(t + 31ms).bytes, (Bytes{0x00, ack}));
    target.reset(t + 40ms);
    EXPECT_EQ(target.take_output(t + 40ms).bytes, Bytes{0x00});
}

}  // namespace
}  // namespace stm32sim::test
