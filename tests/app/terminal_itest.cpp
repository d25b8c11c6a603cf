#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "ChipLoad.h"
#include "TideComm.h"
#include "app_harness.h"
#include "pty_pair.h"
#include "rte_frontend.h"
#include "temp_files.h"
#include "wait_for.h"

namespace {

using apptest::AppHarness;
using namespace std::chrono_literals;

const char kTooLong[] = "发送内容超过发送缓冲区（4096字节），未发送！！！";

class Terminal : public ::testing::Test {
  protected:
    chipload::test::PtyPair pty;
    std::unique_ptr<AppHarness> app;
    int main = 0;
    int term = 0;

    // Opens COM3 for the terminal in the given input mode (1 hexadecimal).
    void open(int inputMode = 1) {
        apptest::MapPort(3, pty.slavePath());
        app = std::make_unique<AppHarness>();
        main = app->panels().main;
        term = app->panels().term;
        app->ui().setValue(term, TABTERM_MODE, inputMode);
        app->commit(main, PANEL_COMPORT, 3);
        app->click(main, PANEL_OPENCLOSE);
        ASSERT_EQ(1, app->ui().intValue(main, PANEL_OPENLED));
    }
    std::string send(const std::string& text, int hex, int lf = 0, int cr = 0) {
        app->ui().setValue(term, TABTERM_SENDHEX, hex);
        app->ui().setValue(term, TABTERM_ADDLF, lf);
        app->ui().setValue(term, TABTERM_ADDCR, cr);
        app->ui().setValue(term, TABTERM_SEND, text);
        app->click(term, TABTERM_SENDBUTTON);
        return pty.read(8192, 150ms);
    }
    bool receiveBoxEndsWith(const std::string& line) {
        return app->ui().waitUntil(
            [&] {
                const auto lines = app->receiveBox();
                return !lines.empty() && lines.back() == line;
            },
            2s);
    }
};

TEST_F(Terminal, HexDigitsPairUpAcrossBlanksAndOtherCharactersAreRefused) {
    open();
    const struct {
        std::string text, sent, refusal;  // refusal: the character the status names
    } cases[] = {
        {"01 02 0a FF", std::string("\x01\x02\x0A\xFF", 4), ""},
        {"1 2", "\x12", ""},
        {"01\t02\r\n03", "\x01\x02\x03", ""},
        {"ABC", "\xAB", ""},
        {"", "", ""},
        {"0x12", "", "“x”（第2个字节）"},
        {"01,02", "", "“,”（第3个字节）"},
        {"12 中", "", "“中”（第4个字节）"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        app->ui().setValue(app->panels().main, PANEL_STATUS, std::string());
        EXPECT_EQ(c.sent, send(c.text, 1));
        const std::string status = app->status();
        if (c.refusal.empty()) {
            EXPECT_EQ("", status);
        } else {
            EXPECT_EQ("十六进制发送内容含非法字符" + c.refusal + "，未发送！！！", status);
        }
    }
}

TEST_F(Terminal, TextGetsTheChosenLineEndsLineFeedFirst) {
    open();
    EXPECT_EQ("AT\n\r", send("AT", 0, 1, 1));
    EXPECT_EQ("AT\r", send("AT", 0, 0, 1));
    EXPECT_EQ("AT\n", send("AT", 0, 1, 0));
    EXPECT_EQ("AT", send("AT", 0));
    EXPECT_EQ("", send("", 0, 1, 1));
}

TEST_F(Terminal, TextLongerThanTheSendBufferIsRefusedWhole) {
    open();
    const std::string fits(4093, 'a');
    EXPECT_EQ(fits + "\n\r", send(fits, 0, 1, 1));
    EXPECT_NE(kTooLong, app->status());
    EXPECT_EQ("", send(fits + "a", 0, 1, 1));
    EXPECT_EQ(kTooLong, app->status());
    EXPECT_EQ("", send(std::string(5000, 'b'), 0));
    EXPECT_EQ("", send(std::string(5000, '1'), 1));
    EXPECT_EQ(kTooLong, app->status());
    // Without line ends the buffer takes 4095 characters.
    EXPECT_EQ(fits + "aa", send(fits + "aa", 0));
}

TEST_F(Terminal, PeriodicSendingFollowsTheSwitchAndTheInterval) {
    open();
    app->ui().setValue(term, TABTERM_SEND, std::string("P"));
    app->commit(term, TABTERM_INTERVAL, 0.05);
    EXPECT_EQ("", pty.read(1, 300ms));
    app->click(term, TABTERM_AUTOSEND);
    ASSERT_EQ(1, app->ui().intValue(term, TABTERM_AUTOSEND));
    const std::string sent = pty.read(100, 600ms);
    EXPECT_GE(sent.size(), 4u);
    EXPECT_EQ(std::string(sent.size(), 'P'), sent);
    app->click(term, TABTERM_AUTOSEND);
    pty.read(100, 100ms);  // a tick may have been under way
    EXPECT_EQ("", pty.read(1, 300ms));
}

TEST_F(Terminal, CountersCountAndClearToZero) {
    open();
    send("AT", 0, 1, 1);
    EXPECT_EQ(4, app->ui().intValue(term, TABTERM_TXCOUNT));
    app->click(term, TABTERM_CLEARTXCOUNT);
    EXPECT_EQ(0, app->ui().intValue(term, TABTERM_TXCOUNT));
    send("01 02", 1);
    EXPECT_EQ(2, app->ui().intValue(term, TABTERM_TXCOUNT));

    pty.write("ABC");
    ASSERT_TRUE(receiveBoxEndsWith("41 42 43"));
    EXPECT_TRUE(
        app->ui().waitUntil([&] { return app->ui().intValue(term, TABTERM_RXCOUNT) == 3; }));
    app->click(term, TABTERM_CLEARRXCOUNT);
    EXPECT_EQ(0, app->ui().intValue(term, TABTERM_RXCOUNT));
    pty.write("DE");
    ASSERT_TRUE(receiveBoxEndsWith("41 42 43 44 45"));
    EXPECT_TRUE(
        app->ui().waitUntil([&] { return app->ui().intValue(term, TABTERM_RXCOUNT) == 2; }));
}

TEST_F(Terminal, DisplaySwitchHidesReceivedDataAndItsLedFollows) {
    open();
    pty.write("\x01\xFE");
    ASSERT_TRUE(receiveBoxEndsWith("01 FE"));
    app->click(term, TABTERM_DISPLAY);
    EXPECT_EQ(0, app->ui().intValue(term, TABTERM_DISPLAYLED));
    pty.write("\x33");
    std::this_thread::sleep_for(300ms);
    app->ui().waitIdle();
    EXPECT_EQ(std::vector<std::string>{"01 FE"}, app->receiveBox());
    app->click(term, TABTERM_DISPLAY);
    EXPECT_EQ(1, app->ui().intValue(term, TABTERM_DISPLAYLED));
    pty.write("\x44");
    EXPECT_TRUE(receiveBoxEndsWith("01 FE 44"));

    app->click(term, TABTERM_CLEARRECEIVE);
    EXPECT_TRUE(app->receiveBox().empty());
    app->ui().setValue(term, TABTERM_SEND, std::string("keep?"));
    app->click(term, TABTERM_CLEARSEND);
    EXPECT_EQ("", app->ui().text(term, TABTERM_SEND));
}

TEST_F(Terminal, TextModeShowsEachLineWithoutItsLineEnd) {
    open(0);
    pty.write("hello\n\r");
    ASSERT_TRUE(receiveBoxEndsWith("hello"));
    // A run of a single byte has nothing before its line end.
    app->click(term, TABTERM_CLEARRECEIVE);
    pty.write("\r");
    EXPECT_TRUE(app->ui().waitUntil([&] { return app->receiveBox().size() == 1; }, 2s));
    EXPECT_EQ(std::vector<std::string>{""}, app->receiveBox());
    pty.write("ok\n\r");
    EXPECT_TRUE(receiveBoxEndsWith("ok"));
    // Only line-end bytes are dropped: whatever comes before them is shown whole.
    for (const std::string line : {"ABCDEF", "x", "AT+OK 1"}) {
        pty.write(line + "\r");
        EXPECT_TRUE(receiveBoxEndsWith(line)) << line;
    }
}

TEST_F(Terminal, TheReceiveBoxKeepsTheNewest2000Lines) {
    open(0);
    // In pieces the port takes whole; each is in before the next is sent.
    for (int block = 0; block < 21; block++) {
        std::string text;
        for (int i = block * 100; i < (block + 1) * 100; i++) {
            text += "L" + std::to_string(i) + "\n";
        }
        pty.write(text);
        ASSERT_TRUE(receiveBoxEndsWith("L" + std::to_string(block * 100 + 99)));
    }
    const auto lines = app->receiveBox();
    ASSERT_EQ(2000u, lines.size());
    EXPECT_EQ("L100", lines.front());
}

TEST_F(Terminal, ALoadedTextFileIsWhatSendAndThePeriodicSendSend) {
    open();
    apptest::TempDir dir;
    app->ui().queueFileAnswer(dir.write("at.txt", "AT\r\n"));
    app->click(term, TABTERM_LOADTXT);
    app->click(term, TABTERM_SENDBUTTON);
    std::string once;
    EXPECT_TRUE(app->ui().waitUntil([&] { return (once += pty.read(64, 50ms)).size() >= 4; }, 5s));
    EXPECT_EQ("AT\r\n", once);
    app->commit(term, TABTERM_INTERVAL, 0.05);
    app->click(term, TABTERM_AUTOSEND);
    std::string sent;
    EXPECT_TRUE(app->ui().waitUntil([&] { return (sent += pty.read(64, 50ms)).size() >= 8; }, 5s));
    EXPECT_EQ("AT\r\nAT\r\n", sent.substr(0, 8));
}

TEST_F(Terminal, NothingIsSentWithoutAPort) {
    apptest::MapPort(3, pty.slavePath());
    app = std::make_unique<AppHarness>();
    term = app->panels().term;
    EXPECT_EQ("", send("AT", 0, 1, 1));
    EXPECT_EQ("", send("55", 1));
}

}  // namespace

namespace {

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST_F(Terminal, TimestampsStartEachLineWhenSwitchedOn) {
    open(0);
    pty.write("plain\n");
    ASSERT_TRUE(receiveBoxEndsWith("plain"));
    app->ui().setValue(term, TABTERM_TIMESTAMP, 1);
    pty.write("stamped\n");
    ASSERT_TRUE(app->ui().waitUntil([&] { return app->receiveBox().size() == 2; }, 5s));
    // "[hh:mm:ss.mmm] " before the text.
    const std::string line = app->receiveBox().back();
    const std::string shape = "[00:00:00.000] stamped";
    ASSERT_EQ(shape.size(), line.size()) << line;
    for (std::size_t i = 0; i < shape.size(); i++) {
        EXPECT_EQ(shape[i] == '0', std::isdigit(static_cast<unsigned char>(line[i])) != 0) << line;
        if (shape[i] != '0') {
            EXPECT_EQ(shape[i], line[i]) << line;
        }
    }
}

TEST_F(Terminal, ReceivedBytesAreLoggedRawUntilTheLogOrThePortCloses) {
    open();
    apptest::TempDir dir;
    const auto log = dir.path() / "rx.log";
    dir.write("rx.log", "earlier\n");
    const std::string first("\x00\x01 raw\r\n", 8);
    app->ui().queueFileAnswer(log.string());
    app->click(term, TABTERM_LOGFILE);
    ASSERT_EQ(1, app->ui().intValue(term, TABTERM_LOGFILE));
    pty.write(first);
    ASSERT_TRUE(receiveBoxEndsWith("00 01 20 72 61 77 0D 0A"));
    app->click(term, TABTERM_LOGFILE);
    EXPECT_EQ("接收记录已关闭：" + log.string(), app->status());
    pty.write("not logged");
    ASSERT_TRUE(
        app->ui().waitUntil([&] { return app->ui().intValue(term, TABTERM_RXCOUNT) == 18; }));
    EXPECT_EQ("earlier\n" + first, ReadFile(log));

    // Closing the port closes the log too, with what came before it kept.
    app->ui().queueFileAnswer(log.string());
    app->click(term, TABTERM_LOGFILE);
    pty.write("tail");
    ASSERT_TRUE(
        app->ui().waitUntil([&] { return app->ui().intValue(term, TABTERM_RXCOUNT) == 22; }));
    app->click(main, PANEL_OPENCLOSE);
    EXPECT_EQ(0, app->ui().intValue(term, TABTERM_LOGFILE));
    EXPECT_EQ("earlier\n" + first + "tail", ReadFile(log));
}

TEST_F(Terminal, ALogThatCannotBeOpenedOrWrittenStopsWithTheReason) {
    open();
    apptest::TempDir dir;
    const std::string missing = (dir.path() / "missing" / "rx.log").string();
    app->ui().queueFileAnswer(missing);
    app->click(term, TABTERM_LOGFILE);
    EXPECT_EQ(0, app->ui().intValue(term, TABTERM_LOGFILE));
    EXPECT_EQ("接收记录文件无法打开：" + missing + "：" + std::strerror(ENOENT), app->status());

    // A full disk: the log stops at the first run it cannot keep.
    app->ui().queueFileAnswer("/dev/full");
    app->click(term, TABTERM_LOGFILE);
    ASSERT_EQ(1, app->ui().intValue(term, TABTERM_LOGFILE));
    pty.write("lost?");
    EXPECT_TRUE(app->waitForStatus(std::string("接收记录文件写入失败，记录已停止：/dev/full：") +
                                   std::strerror(ENOSPC)));
    EXPECT_EQ(0, app->ui().intValue(term, TABTERM_LOGFILE));
    EXPECT_TRUE(receiveBoxEndsWith("6C 6F 73 74 3F")) << "the display goes on";
}

TEST_F(Terminal, BytesDroppedByAFullReceiveRingAreCountedInTheStatus) {
    open();
    const long sent = 100000;  // more than the terminal's receive ring holds
    // While the window is busy the ring fills and the library drops the rest.
    ASSERT_TRUE(app->onUi([&] {
        pty.write(std::string(static_cast<std::size_t>(sent), 'U'));
        return test_support::WaitFor([] { return TideComm_GetDroppedCount(3) > 0; }, 10s);
    }));
    long dropped = 0;
    EXPECT_TRUE(app->ui().waitUntil(
        [&] {
            dropped = TideComm_GetDroppedCount(3);
            return app->ui().intValue(term, TABTERM_RXCOUNT) + dropped == sent;
        },
        10s));
    EXPECT_TRUE(app->waitForStatus(
        "接收溢出：接收缓冲区已满，已丢失" + std::to_string(dropped) + "字节！！！", 5s));
}

TEST_F(Terminal, ATextFileGoesLineByLineAtTheIntervalThenStops) {
    open();
    apptest::TempDir dir;
    app->ui().queueFileAnswer(dir.write("lines.txt", "L1\r\n\nL3"));
    app->click(term, TABTERM_LOADTXT);
    app->click(term, TABTERM_TXTBYLINE);
    app->ui().setValue(term, TABTERM_ADDLF, 1);
    app->commit(term, TABTERM_INTERVAL, 0.05);
    app->click(term, TABTERM_AUTOSEND);
    std::string sent;
    EXPECT_TRUE(app->ui().waitUntil([&] { return (sent += pty.read(64, 50ms)).size() >= 7; }, 5s));
    EXPECT_EQ("L1\n\nL3\n", sent);
    EXPECT_TRUE(app->waitForStatus("TXT文件逐行发送完毕，共3行"));
    EXPECT_EQ(0, app->ui().intValue(term, TABTERM_AUTOSEND));
    EXPECT_EQ("", pty.read(1, 300ms));
    // 发送 still sends the whole file at once.
    app->ui().setValue(term, TABTERM_ADDLF, 0);
    app->click(term, TABTERM_SENDBUTTON);
    EXPECT_EQ("L1\r\n\nL3", pty.read(64, 500ms));
}

TEST_F(Terminal, UpAndDownWalkTheTextsSentBeforeAndBackToTheDraft) {
    open();
    for (const char* text : {"AT", "ATI", "ATI", "AT+GMR"}) {
        send(text, 0);
    }
    app->ui().setValue(term, TABTERM_SEND, std::string("draft"));
    const struct {
        int step;
        int changed;
        const char* shown;
    } keys[] = {
        {1, 0, "draft"}, {-1, 1, "AT+GMR"}, {-1, 1, "ATI"},  {-1, 1, "AT"},   {-1, 0, "AT"},
        {1, 1, "ATI"},   {1, 1, "AT+GMR"},  {1, 1, "draft"}, {1, 0, "draft"},
    };
    for (const auto& key : keys) {
        EXPECT_EQ(key.changed, rte::UserRecallHistory(term, TABTERM_SEND, key.step));
        EXPECT_EQ(key.shown, app->ui().text(term, TABTERM_SEND));
    }
}

}  // namespace
