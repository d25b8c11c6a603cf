#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "ChipLoad.h"
#include "TideComm.h"
#include "TideCommFraming.h"
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

const char kConnectLabel[] = "连接设备";
const char kDisconnectLabel[] = "断开连接";
const char kTimeout[] = "目标板响应超时，请检查线路！！";

class Connection : public ::testing::Test {
  protected:
    chipload::test::PtyPair pty;
    std::unique_ptr<AppHarness> app;
    int main = 0;

    void SetUp() override {
        apptest::MapPort(7, pty.slavePath());
        app = std::make_unique<AppHarness>();
        main = app->panels().main;
        app->commit(main, PANEL_COMPORT, 7);
    }

    std::string label() const { return app->ui().label(main, PANEL_CONNECT); }
    void pressConnect() { app->click(main, PANEL_CONNECT); }
    bool portOpen() {
        return app->onUi([] { return TideComm_GetPortOpen(7) != 0; });
    }
    bool portOpen8() {
        return app->onUi([] { return TideComm_GetPortOpen(8) != 0; });
    }
};

TEST_F(Connection, EachWrongSettingIsRefusedInOrderAndTheButtonStillOffersToConnect) {
    const int term = app->panels().term;
    app->ui().setValue(main, PANEL_BAUDRATE, 1199);
    app->ui().setValue(main, PANEL_PARITY, 1);
    app->ui().setValue(main, PANEL_DATABITS, 7);
    app->ui().setValue(main, PANEL_STOPBITS, 0);
    app->ui().setValue(term, TABTERM_MODE, 0);
    const char* const messages[] = {
        "警告！！！|波特率不在规定范围（1200至115200）\n请重新配置！！！",
        "警告！！！|请使用偶校验！！！",
        "警告！！！|数据位必须为8位！！！",
        "警告！！！|停止位必须为1位！！！",
        "警告！！！|请将接收和发送方式设置为hex模式！！！",
    };
    const std::function<void()> fixes[] = {
        [&] { app->ui().setValue(main, PANEL_BAUDRATE, 115201); },
        [&] { app->ui().setValue(main, PANEL_PARITY, 2); },
        [&] { app->ui().setValue(main, PANEL_DATABITS, 8); },
        [&] { app->ui().setValue(main, PANEL_STOPBITS, 1); },
        [&] { app->ui().setValue(term, TABTERM_MODE, 1); },
    };
    for (int step = 0; step < 5; step++) {
        SCOPED_TRACE(step);
        app->ui().clearPopups();
        pressConnect();
        EXPECT_EQ(std::vector<std::string>{messages[step]}, app->popupTexts());
        EXPECT_EQ(kConnectLabel, label());
        EXPECT_FALSE(portOpen());
        fixes[step]();
        if (step == 0) {
            // 115201 is refused with the same message as 1199.
            app->ui().clearPopups();
            pressConnect();
            EXPECT_EQ(std::vector<std::string>{messages[0]}, app->popupTexts());
            app->ui().setValue(main, PANEL_BAUDRATE, 1200);
        }
    }
    EXPECT_TRUE(app->log().empty());
    EXPECT_EQ("", pty.read(1, 100ms));
    app->ui().clearPopups();
    pressConnect();
    EXPECT_TRUE(app->popupTexts().empty());
    EXPECT_TRUE(portOpen());
    EXPECT_EQ(kDisconnectLabel, label());
    EXPECT_EQ("\x7F", pty.read(1, 2s));
}

TEST_F(Connection, ConnectOpensResetsAndSynchronisesThenDisconnectUndoesIt) {
    pressConnect();
    EXPECT_TRUE(app->popupTexts().empty());
    EXPECT_EQ(kDisconnectLabel, label());
    EXPECT_EQ("\x7F", pty.read(1, 2s));
    EXPECT_TRUE(portOpen());
    EXPECT_EQ(512, app->onUi([] { return TideComm_GetInputLen(7); }));
    EXPECT_EQ(1, app->ui().intValue(main, PANEL_OPENCLOSE));
    EXPECT_EQ(1, app->ui().intValue(main, PANEL_OPENLED));
    EXPECT_EQ(1, app->ui().attribute(main, PANEL_CONNECT, ATTR_DIMMED));
    EXPECT_EQ("开始ChipLoad进程", app->status());
    EXPECT_EQ("开始启动ChipLoad程序~~~~~~~", app->log().back());
    EXPECT_EQ(0, app->ui().attribute(app->panels().ops, TABOPS_CHIP, ATTR_CTRL_INDEX));
    const auto [mode, handshake, failures, comport_] = app->onUi([] {
        return std::tuple<int, int, int, int>{ISP_mode, sub_handshake_mode, fail_count, comport};
    });
    EXPECT_EQ(1, mode);
    EXPECT_EQ(0, handshake);
    EXPECT_EQ(0, failures);
    EXPECT_EQ(7, comport_);

    app->ui().setValue(app->panels().ops, TABOPS_VERSION, std::string("V2.2"));
    pressConnect();
    EXPECT_EQ(kConnectLabel, label());
    EXPECT_FALSE(portOpen());
    EXPECT_EQ("关断连接", app->status());
    EXPECT_EQ("连接关断。。。", app->log().back());
    EXPECT_EQ("", app->ui().text(app->panels().ops, TABOPS_VERSION));
    for (int control : {PANEL_OPENCLOSE, PANEL_OPENLED, PANEL_DTR, PANEL_RTS}) {
        EXPECT_EQ(0, app->ui().intValue(main, control)) << control;
    }
    const int timer = app->onUi([] { return TimerID1; });
    int enabled = -1;
    ASSERT_EQ(0, GetAsyncTimerAttribute(timer, TIMER_ATTR_ENABLED, &enabled));
    EXPECT_EQ(0, enabled);
    EXPECT_EQ(std::pair(0, 0), app->onUi([] { return std::pair(ISP_mode, ISP_sys_ready); }));
}

TEST_F(Connection, SilentTargetTimesOutWithinTwoSecondsAndConnectIsUsableAgain) {
    const auto start = std::chrono::steady_clock::now();
    pressConnect();
    ASSERT_EQ("\x7F", pty.read(1, 2s));
    ASSERT_TRUE(app->waitForStatus(kTimeout, 3s));
    EXPECT_LE(std::chrono::steady_clock::now() - start, 2300ms);
    EXPECT_TRUE(app->waitForLogLine(kTimeout));
    // The time-out is reported from the timer's thread, the button last.
    EXPECT_TRUE(app->ui().waitUntil(
        [&] { return app->ui().attribute(main, PANEL_CONNECT, ATTR_DIMMED) == 0; }, 1s));
    // The session still waits for the sync reply; the button now disconnects.
    EXPECT_EQ(1, app->onUi([] { return ISP_mode; }));
    pressConnect();
    EXPECT_FALSE(portOpen());
    pressConnect();
    EXPECT_EQ("\x7F", pty.read(1, 2s));
}

// The response timer's tick runs on the timer thread: one that found the
// timer enabled may go on only after the sync's ACK has been handled.
TEST_F(Connection, ATickUnderWayWhenTheSyncAckIsHandledReportsNoTimeout) {
    // No real tick meanwhile: the one under way is played below.
    ASSERT_EQ(0, SuspendAsyncTimerCallbacks());
    pressConnect();
    ASSERT_EQ("\x7F", pty.read(1, 2s));
    pty.write("\x79");
    // Get Version follows once the ACK has been handled.
    ASSERT_EQ("\x01\xFE", pty.read(2, 10s));
    const int timer = app->onUi([] { return TimerID1; });
    std::thread([timer] {
        NACK_process(0, timer, ASYNC_TIMER_EVENT_TICK, nullptr, nullptr, nullptr);
    }).join();
    ASSERT_EQ(0, ResumeAsyncTimerCallbacks());
    EXPECT_NE(kTimeout, app->status());
    for (const auto& line : app->log()) {
        EXPECT_NE(kTimeout, line);
    }
    EXPECT_EQ(1, app->ui().attribute(main, PANEL_CONNECT, ATTR_DIMMED));
}

TEST_F(Connection, ConnectUsesThePortTheTerminalAlreadyHolds) {
    app->click(main, PANEL_OPENCLOSE);
    ASSERT_TRUE(portOpen());
    ASSERT_EQ(2048, app->onUi([] { return TideComm_GetInputLen(7); }));
    pressConnect();
    EXPECT_TRUE(app->popupTexts().empty());
    EXPECT_EQ("\x7F", pty.read(1, 2s));
    // Not reopened: the terminal's buffers are kept.
    EXPECT_EQ(2048, app->onUi([] { return TideComm_GetInputLen(7); }));
    // Disconnecting closes it although the terminal opened it.
    pressConnect();
    EXPECT_FALSE(portOpen());
    EXPECT_EQ(0, app->ui().intValue(main, PANEL_OPENCLOSE));
}

// Every reply ends one read interval after its last byte: a port the terminal
// opened must not keep the terminal's long interval through a session.
TEST_F(Connection, SessionUsesItsOwnReadIntervalWhoeverOpenedThePort) {
    const auto interval = [this] {
        return app->onUi([] {
            COMMTIMEOUTS timeouts{};
            return TideComm_GetTimeout(7, &timeouts) == 0 ? timeouts.ReadIntervalTimeout : DWORD{0};
        });
    };
    DWORD sessionInterval[2] = {};
    for (const bool terminalFirst : {false, true}) {
        if (terminalFirst) {
            app->click(main, PANEL_OPENCLOSE);
            ASSERT_TRUE(portOpen());
            EXPECT_EQ(100u, interval());
        }
        pressConnect();
        ASSERT_EQ("\x7F", pty.read(1, 2s));
        sessionInterval[terminalFirst] = interval();
        pressConnect();
        ASSERT_FALSE(portOpen());
        // The terminal opening the port afterwards has its own interval again.
        app->click(main, PANEL_OPENCLOSE);
        ASSERT_TRUE(portOpen());
        EXPECT_EQ(100u, interval()) << terminalFirst;
        app->click(main, PANEL_OPENCLOSE);
        ASSERT_FALSE(portOpen());
    }
    EXPECT_GT(sessionInterval[0], 0u);
    EXPECT_LT(sessionInterval[0], 100u);
    EXPECT_EQ(sessionInterval[0], sessionInterval[1]);
}

TEST_F(Connection, BaudRateLimitsAreInclusive) {
    for (int baud : {1200, 115200}) {
        SCOPED_TRACE(baud);
        app->ui().setValue(main, PANEL_BAUDRATE, baud);
        pressConnect();
        EXPECT_TRUE(app->popupTexts().empty());
        EXPECT_EQ("\x7F", pty.read(1, 2s));
        pressConnect();
    }
}

// A loopback port nobody listens on.
int ClosedTcpPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

TEST_F(Connection, PortThatCannotOpenIsNamedWithTheReasonAndBothControlsShowItClosed) {
    const std::string refused = "rfc2217://127.0.0.1:" + std::to_string(ClosedTcpPort());
    const struct {
        std::string device, reason;
    } cases[] = {
        {"/nonexistent/ttyChipLoad", "设备不存在"},
        {refused, "连接被拒绝"},
        {"rfc2217://no-such-host.invalid:4000", "未知主机 no-such-host.invalid"},
    };
    app->ui().setValue(main, PANEL_COMPORT, 8);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        apptest::MapPort(8, c.device);
        for (const int control : {PANEL_CONNECT, PANEL_OPENCLOSE}) {
            app->ui().clearPopups();
            const auto beeps = app->ui().beepCount();
            app->click(main, control);
            const auto popups = app->popupTexts();
            ASSERT_EQ(1u, popups.size());
            EXPECT_EQ(0u, popups[0].find("Warning~~~~~~|串口打开失败！！！\n" + c.device + "："));
            EXPECT_NE(std::string::npos, popups[0].find(c.reason)) << popups[0];
            EXPECT_EQ(beeps + 1, app->ui().beepCount());
            EXPECT_EQ(kConnectLabel, label());
            EXPECT_EQ(0, app->ui().intValue(main, PANEL_OPENCLOSE));
            EXPECT_EQ(0, app->ui().intValue(main, PANEL_OPENLED));
            EXPECT_EQ(0, app->onUi([] { return comport; }));
        }
    }
    // The next press connects: here to the terminal's pseudo-terminal.
    apptest::MapPort(8, pty.slavePath());
    pressConnect();
    EXPECT_TRUE(portOpen8());
    EXPECT_EQ(kDisconnectLabel, label());
    EXPECT_EQ("\x7F", pty.read(1, 2s));
    // After all those failures the quit still ends the program.
    app->ui().queuePopupAnswer(1);
    app->ui().queuePopupAnswer(1);
    app->pressQuit();
    EXPECT_TRUE(app->waitForExit(10s));
    EXPECT_EQ(0, app->exitCode());
}

TEST_F(Connection, TerminalToggleOpensOnceAndClosesEvenDuringASession) {
    app->click(main, PANEL_OPENCLOSE);
    ASSERT_TRUE(portOpen());
    EXPECT_EQ(1, app->ui().intValue(main, PANEL_OPENLED));
    // Committing "on" again while open changes nothing.
    app->commit(main, PANEL_OPENCLOSE, 1);
    EXPECT_TRUE(portOpen());
    pressConnect();
    ASSERT_EQ("\x7F", pty.read(1, 2s));
    app->click(main, PANEL_OPENCLOSE);
    EXPECT_FALSE(portOpen());
    EXPECT_EQ(0, app->ui().intValue(main, PANEL_OPENLED));
}

TEST(ConnectionOnBoard, LineCarriesEightDataBitsEvenParityOneStopBit) {
    SimBoard board(9);
    AppHarness app;
    const int main = app.panels().main;
    app.commit(main, PANEL_COMPORT, 9);
    app.ui().setValue(main, PANEL_BAUDRATE, 57600);
    app.click(main, PANEL_CONNECT);
    ASSERT_TRUE(app.ui().waitUntil(
        [&] {
            const auto lines = app.receiveBox();
            return !lines.empty() && lines.front() == "79";
        },
        3s));
    const auto line = board.target().line();
    EXPECT_EQ(57600u, line.baud);
    EXPECT_EQ(8, line.data_bits);
    EXPECT_EQ(stm32sim::Parity::even, line.parity);
    EXPECT_EQ(stm32sim::StopBits::one, line.stop_bits);
    // Connect left BOOT0 selected and the reset released.
    EXPECT_TRUE(board.target().rts());
    EXPECT_FALSE(board.target().dtr());
    EXPECT_EQ(1, app.ui().intValue(main, PANEL_RTSLED));
}

TEST(ConnectionOnBoard, KeysDriveTheLinesOnlyWhileThePortIsOpen) {
    SimBoard board(10);
    AppHarness app;
    const int main = app.panels().main;
    app.commit(main, PANEL_COMPORT, 10);
    app.click(main, PANEL_DTR);
    EXPECT_EQ(0, app.ui().intValue(main, PANEL_DTRLED));
    app.click(main, PANEL_OPENCLOSE);
    // The key's value is applied at the open.
    ASSERT_TRUE(app.ui().waitUntil([&] { return board.target().dtr(); }));
    EXPECT_EQ(1, app.ui().intValue(main, PANEL_DTRLED));
    app.click(main, PANEL_RTS);
    EXPECT_TRUE(app.ui().waitUntil([&] { return board.target().rts(); }));
    app.click(main, PANEL_DTR);
    EXPECT_TRUE(app.ui().waitUntil([&] { return !board.target().dtr(); }));
    EXPECT_EQ(0, app.ui().intValue(main, PANEL_DTRLED));
    EXPECT_EQ(1, app.ui().intValue(main, PANEL_RTSLED));
}

}  // namespace
