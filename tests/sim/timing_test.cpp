// The pacing model: character times from the framing, and when each reply
// byte and each flash operation completes under Timing::real.
#include <gtest/gtest.h>

#include <chrono>

#include "sim_wire.hpp"

namespace stm32sim::test {
namespace {

using namespace std::chrono_literals;

TEST(LineSettings, CharacterTimeCountsStartDataParityAndStopBits) {
    const LineSettings e1{115200, 8, Parity::even, StopBits::one};
    EXPECT_EQ(e1.bits_per_byte(), 11.0);
    // 257 x 11 / 115200 s = 24 539 930.6 ns, computed without per-byte drift.
    EXPECT_EQ(e1.time_for_bytes(257), 24'539'931ns);
    EXPECT_EQ(e1.time_for_bytes(0), 0ns);
    EXPECT_EQ((LineSettings{9600, 8, Parity::none, StopBits::one}.time_for_bytes(1)), 1'041'667ns);
    EXPECT_EQ((LineSettings{9600, 7, Parity::odd, StopBits::two}.bits_per_byte()), 11.0);
    EXPECT_EQ((LineSettings{9600, 8, Parity::none, StopBits::one_and_half}.bits_per_byte()), 10.5);
    EXPECT_EQ((LineSettings{1200, 5, Parity::space, StopBits::one}.time_for_bytes(3)), 20ms);
}

class RealTiming : public ::testing::Test {
  protected:
    RealTiming() : target(config()), start(Clock::now()) {}

    static TargetConfig config() {
        TargetConfig c = bootloader_config();
        c.timing = Timing::real;
        return c;
    }
    // Sends bytes at `at` and returns when the last of them has arrived.
    TimePoint send(const Bytes& bytes, TimePoint at) {
        target.receive(bytes, at);
        TimePoint arrived = at;
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            arrived += line.time_for_bytes(1);
        }
        return arrived;
    }
    // Collects everything, returning the moment the last byte was complete.
    std::pair<Bytes, TimePoint> drain() {
        Bytes out;
        TimePoint last{};
        while (auto due = target.next_output_due()) {
            const Bytes part = target.take_output(*due).bytes;
            out.insert(out.end(), part.begin(), part.end());
            last = *due;
        }
        return {out, last};
    }

    const LineSettings line{};
    Target target;
    TimePoint start;
};

TEST_F(RealTiming, A256ByteReadTakes257CharacterTimesAfterTheLength) {
    drain();
    send(Bytes{0x7F} + command(0x11) + address_frame(flash_base), start);
    EXPECT_EQ(drain().first, (Bytes{ack, ack, ack}));
    const TimePoint request = start + 1s;
    const TimePoint arrived = send({0xFF, 0x00}, request);
    EXPECT_EQ(target.take_output(arrived + line.time_for_bytes(257) - 1ns).bytes.size(), 256u);
    EXPECT_EQ(target.take_output(arrived + line.time_for_bytes(257)).bytes.size(), 1u);
    EXPECT_FALSE(target.next_output_due());
}

// Taken when next_output_due() says: a millisecond's worth of bytes at a time, none before it is
// complete, the first and the last byte each exactly when complete.
TEST_F(RealTiming, AReplyLeavesInBatchesWithItsLastByteOnTime) {
    drain();
    send(Bytes{0x7F} + command(0x11) + address_frame(flash_base), start);
    drain();
    const TimePoint arrived = send({0xFF, 0x00}, start + 1s);
    std::vector<TimePoint> wakes;
    std::size_t taken = 0;
    while (auto due = target.next_output_due()) {
        const std::size_t part = target.take_output(*due).bytes.size();
        ASSERT_GT(part, 0u);
        taken += part;
        // Byte n of the reply is complete n character times after the length arrived.
        EXPECT_LE(arrived + line.time_for_bytes(taken), *due);
        wakes.push_back(*due);
    }
    EXPECT_EQ(257u, taken);
    ASSERT_GE(wakes.size(), 2u);
    EXPECT_EQ(arrived + line.time_for_bytes(1), wakes.front());
    EXPECT_EQ(arrived + line.time_for_bytes(257), wakes.back());
    for (std::size_t i = 1; i + 1 < wakes.size(); ++i) {
        EXPECT_GE(wakes[i] - wakes[i - 1], std::chrono::milliseconds(1));
    }
    // 257 characters are 24.5 ms at 115200 baud 8E1.
    EXPECT_LE(wakes.size(), 27u);
}

TEST_F(RealTiming, EraseAndProgramTakeTheirDatasheetTimesBeforeTheAck) {
    send({0x7F}, start);
    drain();
    TimePoint t = start + 1s;
    TimePoint arrived = send(command(0x43) + Bytes{0xFF, 0x00}, t);
    auto [bytes, done] = drain();
    EXPECT_EQ(bytes, (Bytes{ack, ack}));
    EXPECT_EQ(done, arrived + 40ms + line.time_for_bytes(1));

    t += 1s;
    arrived = send(command(0x43) + block({0, 1, 2}), t);
    std::tie(bytes, done) = drain();
    EXPECT_EQ(done, arrived + 60ms + line.time_for_bytes(1));

    t += 1s;
    arrived = send(command(0x31) + address_frame(flash_base) + block(Bytes(256, 0x00)), t);
    std::tie(bytes, done) = drain();
    EXPECT_EQ(bytes, (Bytes{ack, ack, ack}));
    EXPECT_EQ(done, arrived + 128 * 52'500ns + line.time_for_bytes(1));
}

TEST_F(RealTiming, TheHostsFramingSetsThePace) {
    target.set_line({9600, 8, Parity::none, StopBits::one});
    drain();
    target.receive(Bytes{0x7F}, start);
    auto [bytes, done] = drain();
    EXPECT_EQ(bytes, Bytes{ack});
    EXPECT_EQ(done, start + 2 * 1'041'667ns);
}

TEST(NoTiming, EverythingIsAnsweredAtOnce) {
    Target target(bootloader_config());
    const TimePoint t = Clock::now();
    target.receive(Bytes{0x7F} + command(0x43) + Bytes{0xFF, 0x00}, t);
    EXPECT_EQ(target.take_output(t).bytes, (Bytes{ack, ack, ack}));
}

}  // namespace
}  // namespace stm32sim::test
