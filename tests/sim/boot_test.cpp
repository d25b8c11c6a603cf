// Reset on DTR, BOOT0 on RTS, the sample application's greeting, Go, and the
// new session that a pseudo-terminal gets from a 0x7F after silence.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "sim_wire.hpp"

namespace stm32sim::test {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view greeting = "Hello from ChipLoad sample\r\n";

// A vector table: stack at the end of 20 KiB RAM, Thumb reset handler in flash.
Bytes vector_table(std::uint32_t sp = 0x2000'5000, std::uint32_t pc = 0x0800'0101) {
    Bytes out;
    for (std::uint32_t word : {sp, pc}) {
        for (int shift = 0; shift < 32; shift += 8) {
            out.push_back(static_cast<std::uint8_t>(word >> shift));
        }
    }
    return out;
}

std::string text(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

// Drives the pins as a host adapter would: DTR pulse with RTS at `rts`.
void pulse_reset(Target& target, bool rts, TimePoint at) {
    target.set_rts(rts, at);
    target.set_dtr(true, at);
    target.set_dtr(false, at + 30ms);
}

TEST(Boot, PowerUpFollowsThePinsAndAnErasedChipStaysSilent) {
    Target target{TargetConfig{}};
    EXPECT_EQ(target.mode(), Mode::application);
    const TimePoint later = Clock::now() + 5s;
    EXPECT_EQ(target.take_output(later).bytes, Bytes{});
    target.receive(Bytes{0x7F}, later);
    EXPECT_EQ(target.take_output(later).bytes, Bytes{});
}

TEST(Boot, DtrHoldsTheChipInResetAndItsReleaseSamplesBoot0FromRts) {
    Target target{TargetConfig{}};
    const TimePoint t = Clock::now();
    target.set_rts(true, t);
    EXPECT_EQ(target.mode(), Mode::application) << "RTS alone changes nothing until a reset";
    target.set_dtr(true, t);
    EXPECT_EQ(target.mode(), Mode::held_in_reset);
    target.receive(Bytes{0x7F}, t);
    EXPECT_EQ(target.take_output(t).bytes, Bytes{}) << "a chip in reset hears nothing";
    target.set_dtr(false, t + 30ms);
    EXPECT_EQ(target.mode(), Mode::bootloader);
    target.receive(Bytes{0x7F}, t + 31ms);
    EXPECT_EQ(target.take_output(t + 31ms).bytes, Bytes{ack});

    pulse_reset(target, false, t + 40ms);
    EXPECT_EQ(target.mode(), Mode::application);
    EXPECT_EQ(target.reset_count(), 2u);
}

TEST(Boot, InvertedPolarityEntersTheBootloaderWithRtsDeasserted) {
    TargetConfig config;
    config.boot0 = Boot0Polarity::rts_deasserted;
    Target target(config);
    EXPECT_EQ(target.mode(), Mode::bootloader) << "lines start deasserted: BOOT0 high";
    const TimePoint t = Clock::now();
    pulse_reset(target, true, t);
    EXPECT_EQ(target.mode(), Mode::application);
    pulse_reset(target, false, t + 50ms);
    EXPECT_EQ(target.mode(), Mode::bootloader);
}

TEST(Boot, AResetStopsAReplyInFlight) {
    TargetConfig config = bootloader_config();
    config.timing = Timing::real;
    config.boot0 = Boot0Polarity::rts_asserted;
    Target target(config);
    const TimePoint t = Clock::now();
    target.receive(Bytes{0x7F} + command(0x00), t);
    ASSERT_TRUE(target.next_output_due());
    target.set_dtr(true, t + 1ms);
    EXPECT_FALSE(target.next_output_due());
    EXPECT_EQ(target.take_output(t + 1s).bytes, Bytes{});
}

TEST(Application, GreetsAtStartAndEverySecondWhenFlashHoldsAVectorTable) {
    TargetConfig config;
    config.greeting = "hi\r\n";
    Target target(config);
    ASSERT_TRUE(target.load_flash(flash_base, vector_table()));
    const TimePoint t = Clock::now() + 10ms;
    pulse_reset(target, false, t);
    const TimePoint started = t + 30ms;
    EXPECT_EQ(text(target.take_output(started).bytes), "hi\r\n");
    EXPECT_EQ(target.next_output_due(), started + 1s);
    EXPECT_EQ(text(target.take_output(started + 999ms).bytes), "");
    EXPECT_EQ(text(target.take_output(started + 1s).bytes), "hi\r\n");
}

TEST(Application, ImplausibleVectorTablesKeepItSilent) {
    struct Case {
        const char* why;
        Bytes table;
    };
    for (const Case& c :
         {Case{"stack outside RAM", vector_table(0x2000'5004)},
          Case{"stack below RAM", vector_table(0x1000'0000)},
          Case{"even reset vector", vector_table(0x2000'5000, 0x0800'0100)},
          Case{"reset vector outside flash", vector_table(0x2000'5000, 0x0801'0001)}}) {
        SCOPED_TRACE(c.why);
        Target target{TargetConfig{}};
        target.load_flash(flash_base, c.table);
        const TimePoint t = Clock::now();
        pulse_reset(target, false, t);
        EXPECT_EQ(target.take_output(t + 2s).bytes, Bytes{});
    }
}

TEST(Application, GoStartsTheCodeAtTheGivenVectorTableAfterItsAck) {
    Target target(bootloader_config());
    talk(target, {0x7F});
    // Vector table in RAM pointing at code in RAM.
    const Bytes table = vector_table(0x2000'4000, 0x2000'0301);
    ASSERT_EQ(talk(target, command(0x31) + address_frame(0x2000'0200) + block(table)),
              (Bytes{ack, ack, ack}));
    const TimePoint t = Clock::now();
    target.receive(command(0x21) + address_frame(0x2000'0200), t);
    EXPECT_EQ(text(target.take_output(t).bytes), "\x79\x79" + std::string(greeting));
}

TEST(PseudoTerminal, A7FAfterSilenceStartsANewSession) {
    TargetConfig config = bootloader_config();
    config.resync_after_idle = 100ms;
    Target target(config);
    const TimePoint t = Clock::now();
    auto at = [&](Duration offset, const Bytes& in) {
        target.receive(in, t + offset);
        return target.take_output(t + offset).bytes;
    };
    EXPECT_EQ(at(0ms, {0x7F}), Bytes{ack});
    EXPECT_EQ(at(10ms, {0x7F}), Bytes{}) << "within a session 0x7F is a command byte";
    EXPECT_EQ(at(20ms, {0x80}), Bytes{nack});
    EXPECT_EQ(at(200ms, {0x7F}), Bytes{ack}) << "after silence: a new session";
    EXPECT_EQ(at(210ms, command(0x21) + address_frame(flash_base)), (Bytes{ack, ack}));
    EXPECT_EQ(target.mode(), Mode::application);
    EXPECT_EQ(at(250ms, {0x7F}), Bytes{}) << "the application got it";
    EXPECT_EQ(at(500ms, {0x7F}), Bytes{ack}) << "back in the bootloader after silence";
    EXPECT_EQ(target.mode(), Mode::bootloader);
}

// A real bootloader in the middle of a command takes whatever comes next as
// the awaited byte, however late: only a chip waiting for a command's first
// byte can be taken to have been reset between two host sessions.
TEST(PseudoTerminal, A7FAfterSilenceInsideACommandIsTheAwaitedByte) {
    TargetConfig config = bootloader_config();
    config.resync_after_idle = 100ms;
    Target target(config);
    const TimePoint t = Clock::now();
    auto at = [&](Duration offset, const Bytes& in) {
        target.receive(in, t + offset);
        return target.take_output(t + offset).bytes;
    };
    const Bytes data(128, 0x5A);  // its length byte is 0x7F
    EXPECT_EQ(at(0ms, {0x7F}), Bytes{ack});
    EXPECT_EQ(at(10ms, command(0x31) + address_frame(0x2000'1000)), (Bytes{ack, ack}));
    EXPECT_EQ(at(500ms, block(data)), Bytes{ack}) << "the block's length, not a synchronisation";
    EXPECT_EQ(target.read_memory(0x2000'1000, 128), data);
    EXPECT_EQ(at(510ms, {0x11}), Bytes{});
    EXPECT_EQ(at(1000ms, {0x7F}), Bytes{nack}) << "a wrong complement, as a host tool expects";
    EXPECT_EQ(at(1500ms, {0x7F}), Bytes{ack}) << "waiting for a command again: a new session";
}

}  // namespace
}  // namespace stm32sim::test
