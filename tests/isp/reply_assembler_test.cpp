#include <gtest/gtest.h>

#include "case_name.h"

#include "replies.h"
#include "reply_assembler.h"

namespace isp_test {
namespace {

using isp::Bytes;
using isp::ReplyAssembler;
using State = ReplyAssembler::State;

struct AssemblyCase {
    const char* name;
    ReplyAssembler::Shape shape;
    Bytes input;
    State state;
    std::size_t taken;  // bytes feed() consumed of input
};

class Assembly : public ::testing::TestWithParam<AssemblyCase> {};

// Fed whole and fed one byte at a time, the reply ends in the same state
// and takes the same bytes: what follows the reply stays with the caller.
TEST_P(Assembly, TakesOnlyItsOwnBytes) {
    const auto& c = GetParam();
    ReplyAssembler whole;
    whole.expect(c.shape);
    EXPECT_EQ(c.taken, whole.feed(c.input));
    EXPECT_EQ(c.state, whole.state());
    EXPECT_EQ(Bytes(c.input.begin(), c.input.begin() + static_cast<long>(c.taken)), whole.reply());

    ReplyAssembler pieces;
    pieces.expect(c.shape);
    std::size_t taken = 0;
    for (std::uint8_t byte : c.input) {
        if (pieces.state() != State::kWaiting) {
            break;
        }
        EXPECT_GE(pieces.missing(), 1u);
        taken += pieces.feed(std::span(&byte, 1));
    }
    EXPECT_EQ(c.taken, taken);
    EXPECT_EQ(c.state, pieces.state());
}

INSTANTIATE_TEST_SUITE_P(
    Isp, Assembly,
    ::testing::Values(
        AssemblyCase{"ack", isp::kAckShape, {0x79, 0x79}, State::kComplete, 1},
        AssemblyCase{"nack", isp::kAckShape, {0x1F, 0x79}, State::kRefused, 1},
        AssemblyCase{"noise", isp::kAckShape, {0x00}, State::kInvalid, 1},
        AssemblyCase{
            "get id", isp::kGetIdShape, {0x79, 0x01, 0x04, 0x10, 0x79, 0x79}, State::kComplete, 5},
        AssemblyCase{"get id partial", isp::kGetIdShape, {0x79, 0x01, 0x04}, State::kWaiting, 3},
        AssemblyCase{"get id unclosed",
                     isp::kGetIdShape,
                     {0x79, 0x01, 0x04, 0x10, 0x1F},
                     State::kInvalid,
                     5},
        AssemblyCase{
            "get", isp::kGetShape, {0x79, 0x02, 0x22, 0x00, 0x01, 0x79, 0x7F}, State::kComplete, 6},
        AssemblyCase{"get version",
                     isp::kGetVersionShape,
                     {0x79, 0x22, 0x00, 0x00, 0x79, 0x00},
                     State::kComplete,
                     5},
        AssemblyCase{"data",
                     ReplyAssembler::dataShape(3),
                     {0x79, 0x1F, 0x1F, 0x1F, 0x1F},
                     State::kComplete,
                     4},
        AssemblyCase{
            "data refused", ReplyAssembler::dataShape(3), {0x1F, 0x79}, State::kRefused, 1}),
    CaseName());

TEST(ReplyAssembler, TakesNothingWhenIdleOrDoneAndStartsAfreshOnExpect) {
    ReplyAssembler assembler;
    const std::uint8_t ack = 0x79;
    EXPECT_EQ(0u, assembler.feed(std::span(&ack, 1)));
    EXPECT_EQ(State::kIdle, assembler.state());
    assembler.expect(isp::kAckShape);
    EXPECT_EQ(1u, assembler.feed(std::span(&ack, 1)));
    EXPECT_EQ(0u, assembler.feed(std::span(&ack, 1)));
    EXPECT_EQ(0u, assembler.missing());
    assembler.expect(isp::kGetIdShape);
    EXPECT_TRUE(assembler.reply().empty());
    EXPECT_EQ(2u, assembler.missing());
    assembler.reset();
    EXPECT_EQ(State::kIdle, assembler.state());
}

TEST(Replies, DecodeWhatTheBootloaderSends) {
    const Bytes get{0x79, 0x03, 0x22, 0x00, 0x11, 0x44, 0x79};
    const auto info = isp::decodeGet(get);
    ASSERT_TRUE(info);
    EXPECT_EQ(0x22, info->version);
    EXPECT_TRUE(info->supports(isp::Command::kExtendedErase));
    EXPECT_FALSE(info->supports(isp::Command::kErase));
    EXPECT_EQ(3u, info->commands.size());

    const auto version = isp::decodeGetVersion(Bytes{0x79, 0x31, 0xA5, 0x5A, 0x79});
    ASSERT_TRUE(version);
    EXPECT_EQ(0x31, version->version);
    EXPECT_EQ(0xA5, version->option1);
    EXPECT_EQ(0x5A, version->option2);

    EXPECT_EQ(std::optional<std::uint16_t>(0x0410),
              isp::decodeGetId(Bytes{0x79, 0x01, 0x04, 0x10, 0x79}));
}

TEST(Replies, RefuseLayoutsThatDoNotHold) {
    for (const Bytes& bad : {Bytes{}, Bytes{0x79, 0x05, 0x22, 0x79}, Bytes{0x1F, 0x00, 0x22, 0x1F},
                             Bytes{0x79, 0x01, 0x22, 0x00, 0x1F}}) {
        EXPECT_FALSE(isp::decodeGet(bad));
    }
    EXPECT_FALSE(isp::decodeGetVersion(Bytes{0x79, 0x22, 0x00, 0x79}));
    EXPECT_FALSE(isp::decodeGetId(Bytes{0x79, 0x00, 0x04, 0x79}));              // one ID byte
    EXPECT_FALSE(isp::decodeGetId(Bytes{0x79, 0x02, 0x04, 0x10, 0x00, 0x79}));  // three
}

}  // namespace
}  // namespace isp_test
