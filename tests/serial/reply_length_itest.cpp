// Reads sized to a reply of known length, over a real pseudo-terminal: the reply is delivered as
// soon as its last byte is in, with a read interval far longer than any wait below, and reads
// that the interval ends are counted.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "pty_link.h"
#include "serial_engine.h"
#include "wait_for.h"

namespace serial_test {
namespace {

constexpr int kPort = 4;
// Ten times the deadline of a wait: a reply that waited for the interval is never seen in time.
constexpr unsigned int kLongInterval = 100000;
constexpr unsigned int kShortInterval = 20;

std::mutex framesMutex;
std::vector<std::string> frames;

int TakeFrame(int port) {
    char* data = nullptr;
    int length = 0;
    if (TideComm_InputBuffer(port, &data, &length) == 0) {
        std::lock_guard lock(framesMutex);
        frames.emplace_back(data, static_cast<std::size_t>(length));
    }
    TideComm_ClearInBufferCount(port);
    return 0;
}

std::vector<std::string> Frames() {
    std::lock_guard lock(framesMutex);
    return frames;
}

std::string Bytes(std::size_t count, int seed) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>((i * 13 + static_cast<std::size_t>(seed)) & 0xFF);
    }
    return bytes;
}

class ReplyLengthTest : public ::testing::Test {
  protected:
    void SetUp() override {
        TideComm_Init();
        std::lock_guard lock(framesMutex);
        frames.clear();
    }
    void TearDown() override { TideComm_Quit(); }

    void Open(unsigned int intervalMs) {
        TideComm_SetReadIntervalTimeout(kPort, intervalMs);
        TideComm_InstallReceiveCallback(kPort, -1, -1, 0, -1, TakeFrame);
        ASSERT_EQ(TideComm_OpenConfig(kPort, 115200, 2, 8, 0, 512, 512, 1), 0);
    }
    bool WaitForFrames(std::size_t count) {
        return test_support::WaitFor([&] { return Frames().size() >= count; });
    }

    serialtest::EngineThread engine_;
    serialtest::PtyLink pty_{kPort};
};

// Bootloader-like exchanges: each reply comes whole, in one piece or several, and no read waits
// for the interval.
TEST_F(ReplyLengthTest, EachReplyArrivesWholeWithoutWaitingForTheInterval) {
    Open(kLongInterval);
    struct Exchange {
        int length;
        std::vector<std::size_t> pieces;
    };
    const std::vector<Exchange> exchanges = {
        {1, {1}},
        {5, {5}},
        {1, {1}},
        {257, {257}},
        {257, {1, 256}},
        {5, {2, 3}},
        {257, {100, 100, 57}},
        {1, {1}},
    };
    std::vector<std::string> expected;
    for (std::size_t n = 0; n < exchanges.size(); ++n) {
        const Exchange& exchange = exchanges[n];
        ASSERT_EQ(TideComm_SetReplyLength(kPort, exchange.length), 0);
        const std::string reply =
            Bytes(static_cast<std::size_t>(exchange.length), static_cast<int>(n));
        std::size_t at = 0;
        for (std::size_t piece : exchange.pieces) {
            pty_.write(reply.substr(at, piece));
            at += piece;
        }
        expected.push_back(reply);
        ASSERT_TRUE(WaitForFrames(expected.size())) << "exchange " << n;
        EXPECT_EQ(expected.back(), Frames().back()) << "exchange " << n;
    }
    EXPECT_EQ(0, TideComm_GetIntervalEndedReads(kPort));
}

// What the length does not cover still ends by the interval: a refusal shorter than the reply,
// bytes past the reply, and everything once no length is awaited.
TEST_F(ReplyLengthTest, ShortRepliesAndUnawaitedBytesEndByTheInterval) {
    Open(kShortInterval);
    struct Case {
        int length;
        std::string sent;
        std::vector<std::string> frames;
        int intervalEnds;
    };
    const std::vector<Case> cases = {
        {257, "\x1F", {"\x1F"}, 1},
        {2, "\x79\x01\x04", {"\x79\x01", "\x04"}, 1},
        {0, "typed", {"typed"}, 1},
    };
    for (std::size_t n = 0; n < cases.size(); ++n) {
        const Case& c = cases[n];
        {
            std::lock_guard lock(framesMutex);
            frames.clear();
        }
        const int endsBefore = TideComm_GetIntervalEndedReads(kPort);
        ASSERT_EQ(TideComm_SetReplyLength(kPort, c.length), 0);
        pty_.write(c.sent);
        ASSERT_TRUE(WaitForFrames(c.frames.size())) << "case " << n;
        ASSERT_TRUE(test_support::WaitFor([&] {
            return TideComm_GetIntervalEndedReads(kPort) - endsBefore >= c.intervalEnds;
        })) << "case "
            << n;
        EXPECT_EQ(c.frames, Frames()) << "case " << n;
        EXPECT_EQ(c.intervalEnds, TideComm_GetIntervalEndedReads(kPort) - endsBefore)
            << "case " << n;
    }
}

TEST_F(ReplyLengthTest, RefusedOnAClosedPortOrForANegativeLength) {
    EXPECT_EQ(1, TideComm_SetReplyLength(kPort, 1));
    EXPECT_EQ(-1, TideComm_GetIntervalEndedReads(kPort));
    Open(kShortInterval);
    EXPECT_EQ(1, TideComm_SetReplyLength(kPort, -1));
    EXPECT_EQ(1, TideComm_SetReplyLength(0, 1));
    EXPECT_EQ(0, TideComm_SetReplyLength(kPort, 0));
    // Still reading as before.
    pty_.write("ok");
    ASSERT_TRUE(WaitForFrames(1));
    EXPECT_EQ(std::vector<std::string>{"ok"}, Frames());
}

}  // namespace
}  // namespace serial_test
