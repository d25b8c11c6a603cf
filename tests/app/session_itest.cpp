#include <gtest/gtest.h>

#include <chrono>

#include "ChipLoad.h"
#include "TideComm.h"
#include "app_harness.h"
#include "asynctimer.h"
#include "panel_handles.h"
#include "pty_pair.h"
#include "session.h"
#include "sim_board.h"

namespace {

using apptest::AppHarness;
using apptest::SimBoard;
using namespace std::chrono_literals;

// The terminal holds COM4 on a pseudo-terminal whose far end the test reads.
class SessionOverPty : public ::testing::Test {
  protected:
    chipload::test::PtyPair pty;
    std::unique_ptr<AppHarness> app;

    void SetUp() override {
        apptest::MapPort(4, pty.slavePath());
        app = std::make_unique<AppHarness>();
        app->commit(app->panels().main, PANEL_COMPORT, 4);
        app->click(app->panels().main, PANEL_OPENCLOSE);
        ASSERT_EQ(1, app->ui().intValue(app->panels().main, PANEL_OPENLED));
        app->onUi([] { comport = 4; });
    }
};

TEST_F(SessionOverPty, EveryCommandCodeSetsItsModeAndSendsCodeAndComplement) {
    const struct {
        int code;
        int mode;
    } commands[] = {{0x00, 2}, {0x01, 3}, {0x02, 4},  {0x11, 5},  {0x21, 6}, {0x31, 7},
                    {0x43, 8}, {0x63, 9}, {0x73, 10}, {0x82, 11}, {0x92, 12}};
    for (const auto& command : commands) {
        SCOPED_TRACE(command.code);
        const auto [result, mode] = app->onUi([&] {
            const int sent = ISPCmdSend(command.code);
            return std::pair<int, int>{sent, ISP_mode};
        });
        EXPECT_EQ(1, result);
        EXPECT_EQ(command.mode, mode);
        const std::string expected{static_cast<char>(command.code),
                                   static_cast<char>(command.code ^ 0xFF)};
        EXPECT_EQ(expected, pty.read(2, 2s));
    }
}

TEST_F(SessionOverPty, UnknownCodesLeaveTheSessionIdleAndSendNothing) {
    for (int code : {0x44, -1, 0x100, 0x7F}) {
        SCOPED_TRACE(code);
        const auto [result, mode] = app->onUi([&] {
            ISP_mode = 5;
            const int sent = ISPCmdSend(code);
            return std::pair<int, int>{sent, ISP_mode};
        });
        EXPECT_EQ(0, result);
        EXPECT_EQ(0, mode);
    }
    EXPECT_EQ("", pty.read(1, 200ms));
}

TEST_F(SessionOverPty, HandshakeWaitsOutTheResetPulseThenSendsTheSyncByte) {
    const auto [mode, elapsed] = app->onUi([] {
        ISP_mode = 0;
        sub_handshake_mode = 5;
        const auto start = std::chrono::steady_clock::now();
        Handshake();
        return std::pair<int, std::chrono::steady_clock::duration>{
            ISP_mode, std::chrono::steady_clock::now() - start};
    });
    EXPECT_EQ(1, mode);
    EXPECT_GE(elapsed, 30ms);
    EXPECT_EQ(5, app->onUi([] { return sub_handshake_mode; }));
    EXPECT_EQ("\x7F", pty.read(1, 2s));
}

TEST_F(SessionOverPty, ResponseTimeoutReportsAndFreesTheConnectButton) {
    const auto& p = app->panels();
    app->onUi([&] { SetCtrlAttribute(p.main, PANEL_CONNECT, ATTR_DIMMED, 1); });
    const int timer = app->onUi([] { return TimerID1; });
    ASSERT_EQ(0, SetAsyncTimerAttribute(timer, TIMER_ATTR_ENABLED, 1));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(app->waitForStatus("目标板响应超时，请检查线路！！", 3s));
    EXPECT_LE(std::chrono::steady_clock::now() - start, 2200ms);
    EXPECT_TRUE(app->waitForLogLine("目标板响应超时，请检查线路！！"));
    EXPECT_TRUE(app->ui().waitUntil(
        [&] { return app->ui().attribute(p.main, PANEL_CONNECT, ATTR_DIMMED) == 0; }, 1s));
    int enabled = -1;
    ASSERT_EQ(0, GetAsyncTimerAttribute(timer, TIMER_ATTR_ENABLED, &enabled));
    EXPECT_EQ(0, enabled);
    // Reported once: the log holds the line a single time 2 s later too.
    std::this_thread::sleep_for(2100ms);
    int count = 0;
    for (const auto& line : app->log()) {
        count += line == "目标板响应超时，请检查线路！！" ? 1 : 0;
    }
    EXPECT_EQ(1, count);
}

TEST(SessionOnBoard, ResetPulseComesBeforeTheSyncByteSoTheBootloaderAnswers) {
    SimBoard board(5);
    AppHarness app;
    const auto& p = app.panels();
    app.commit(p.main, PANEL_COMPORT, 5);
    app.click(p.main, PANEL_OPENCLOSE);
    ASSERT_EQ(1, app.ui().intValue(p.main, PANEL_OPENLED));
    const auto resetsBefore = board.target().reset_count();
    app.onUi([] {
        comport = 5;
        BootloaderModeSelect();
        Handshake();
    });
    // The chip came out of reset with BOOT0 high before the 0x7F arrived.
    ASSERT_TRUE(app.ui().waitUntil(
        [&] {
            for (const auto& command : board.target().commands()) {
                if (command.command == 0x7F && command.acknowledged) {
                    return true;
                }
            }
            return false;
        },
        3s));
    EXPECT_GT(board.target().reset_count(), resetsBefore);
    EXPECT_EQ(stm32sim::Mode::bootloader, board.target().mode());
    EXPECT_FALSE(board.target().dtr());
    EXPECT_TRUE(board.target().rts());
    EXPECT_TRUE(app.ui().waitUntil(
        [&] {
            const auto lines = app.receiveBox();
            return !lines.empty() && lines.front() == "79";
        },
        3s));
}

TEST(SessionOnBoard, GivingUpClearsTheLinesClosesThePortAndSaysSo) {
    SimBoard board(6);
    AppHarness app;
    const auto& p = app.panels();
    app.commit(p.main, PANEL_COMPORT, 6);
    app.click(p.main, PANEL_OPENCLOSE);
    app.onUi([] {
        comport = 6;
        BootloaderModeSelect();
        TideComm_SetDTREnable(6, 1);
    });
    ASSERT_TRUE(app.ui().waitUntil([&] { return board.target().rts() && board.target().dtr(); }));
    app.onUi([] { ISP_fail(); });
    EXPECT_EQ(0, app.onUi([] { return TideComm_GetPortOpen(6); }));
    EXPECT_EQ((std::vector<std::string>{"警告|串口错误，请检查线路！！！"}), app.popupTexts());
    EXPECT_TRUE(app.ui().waitUntil([&] { return !board.target().rts() && !board.target().dtr(); }));
    EXPECT_EQ(0, app.ui().intValue(p.main, PANEL_RTSLED));
}

}  // namespace
