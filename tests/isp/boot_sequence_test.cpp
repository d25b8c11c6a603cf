#include <gtest/gtest.h>

#include "boot_sequence.h"
#include "case_name.h"
#include "client.h"
#include "sim_link.h"

namespace isp_test {
namespace {

using isp::ControlLine;
using isp::LineStep;
using isp::Wiring;
using Kind = LineStep::Kind;
using namespace std::chrono_literals;

LineStep dtr(bool on) {
    return {Kind::kSetDtr, on, 0ms};
}
LineStep rts(bool on) {
    return {Kind::kSetRts, on, 0ms};
}
LineStep wait(std::chrono::milliseconds ms) {
    return {Kind::kWait, false, ms};
}

struct SequenceCase {
    const char* name;
    Wiring wiring;
    std::vector<LineStep> enter;
    std::vector<LineStep> start;
};

class Sequences : public ::testing::TestWithParam<SequenceCase> {};

TEST_P(Sequences, DriveTheLinesTheWiringNames) {
    EXPECT_EQ(GetParam().enter, isp::enterBootloaderSequence(GetParam().wiring));
    EXPECT_EQ(GetParam().start, isp::startApplicationSequence(GetParam().wiring));
}

Wiring wiring(ControlLine reset, ControlLine boot0, bool invertReset = false,
              bool invertBoot0 = false) {
    Wiring w;
    w.reset = reset;
    w.boot0 = boot0;
    w.invertReset = invertReset;
    w.invertBoot0 = invertBoot0;
    w.resetPulse = 100ms;
    w.settle = 50ms;
    return w;
}

INSTANTIATE_TEST_SUITE_P(
    Isp, Sequences,
    ::testing::Values(
        SequenceCase{"reset dtr boot0 rts",
                     wiring(ControlLine::kDtr, ControlLine::kRts),
                     {rts(true), dtr(true), wait(100ms), dtr(false), wait(50ms), rts(false)},
                     {rts(false), dtr(true), wait(100ms), dtr(false), wait(50ms)}},
        SequenceCase{"both inverted",
                     wiring(ControlLine::kDtr, ControlLine::kRts, true, true),
                     {rts(false), dtr(false), wait(100ms), dtr(true), wait(50ms), rts(true)},
                     {rts(true), dtr(false), wait(100ms), dtr(true), wait(50ms)}},
        SequenceCase{"reset rts boot0 dtr",
                     wiring(ControlLine::kRts, ControlLine::kDtr),
                     {dtr(true), rts(true), wait(100ms), rts(false), wait(50ms), dtr(false)},
                     {dtr(false), rts(true), wait(100ms), rts(false), wait(50ms)}},
        SequenceCase{"manual boot0",
                     wiring(ControlLine::kDtr, ControlLine::kNone),
                     {dtr(true), wait(100ms), dtr(false), wait(50ms)},
                     {dtr(true), wait(100ms), dtr(false), wait(50ms)}},
        SequenceCase{"no lines",
                     wiring(ControlLine::kNone, ControlLine::kNone),
                     {wait(50ms)},
                     {wait(50ms)}}),
    CaseName());

TEST(Wiring, ParsesLineNamesAndRefusesOneLineForBothPins) {
    EXPECT_EQ(ControlLine::kDtr, isp::parseControlLine("DTR"));
    EXPECT_EQ(ControlLine::kRts, isp::parseControlLine("rts"));
    EXPECT_EQ(ControlLine::kNone, isp::parseControlLine("None"));
    EXPECT_FALSE(isp::parseControlLine("cts"));
    EXPECT_FALSE(isp::parseControlLine(""));
    EXPECT_EQ(isp::WiringFault::kSameLine,
              isp::checkWiring(wiring(ControlLine::kRts, ControlLine::kRts)));
    EXPECT_FALSE(isp::checkWiring(wiring(ControlLine::kNone, ControlLine::kNone)));
}

// The simulated board wired as stated (reset on DTR, BOOT0 on RTS with the
// given polarity) ends up where each wiring choice says.
TEST(Wiring, TheRightPolarityEntersTheBootloaderAndTheWrongOneRunsTheApplication) {
    struct Case {
        stm32sim::Boot0Polarity board;
        bool invertBoot0;
        stm32sim::Mode expected;
    };
    const Case cases[] = {
        {stm32sim::Boot0Polarity::rts_asserted, false, stm32sim::Mode::bootloader},
        {stm32sim::Boot0Polarity::rts_asserted, true, stm32sim::Mode::application},
        {stm32sim::Boot0Polarity::rts_deasserted, true, stm32sim::Mode::bootloader},
        {stm32sim::Boot0Polarity::rts_deasserted, false, stm32sim::Mode::application},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.invertBoot0);
        stm32sim::TargetConfig config;
        config.boot0 = c.board;
        stm32sim::Target chip(config);
        ManualClock clock;
        SimLink link(chip, clock);
        Wiring w = wiring(ControlLine::kDtr, ControlLine::kRts, false, c.invertBoot0);
        ASSERT_TRUE(isp::playSequence(link, isp::enterBootloaderSequence(w), clock));
        EXPECT_EQ(c.expected, chip.mode());
        EXPECT_EQ(150ms, clock.elapsed());
        if (c.expected == stm32sim::Mode::bootloader) {
            ASSERT_TRUE(isp::playSequence(link, isp::startApplicationSequence(w), clock));
            EXPECT_EQ(stm32sim::Mode::application, chip.mode());
        }
    }
}

TEST(Wiring, ABrokenLineStopsTheSequence) {
    stm32sim::Target chip(stm32sim::TargetConfig{});
    ManualClock clock;
    SimLink link(chip, clock);
    link.breakLine();
    EXPECT_FALSE(isp::playSequence(
        link, isp::enterBootloaderSequence(wiring(ControlLine::kDtr, ControlLine::kRts)), clock));
}

}  // namespace
}  // namespace isp_test
