// Reads shown in the log, the blank check, Go, and the guards around reads.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "ChipLoad.h"
#include "e2e_session.h"
#include "hex_writer.h"
#include "operator_messages.h"
#include "session.h"
#include "stm32sim/rfc2217_server.hpp"

namespace e2e {
namespace {

constexpr char kReadDone[] = "Flash读取完成！！！";

std::vector<std::string> Lines(const std::vector<std::uint8_t>& bytes, std::uint32_t base) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at + 16 <= bytes.size(); at += 16) {
        lines.push_back(DumpLine(base + static_cast<std::uint32_t>(at), bytes.data() + at));
    }
    return lines;
}

class Read : public Session {
  protected:
    std::vector<std::uint8_t> flash;

    void startWithPattern(const std::string& product, std::size_t bytes) {
        start(product);
        flash = Pattern(bytes);
        ASSERT_TRUE(target().load_flash(0x08000000, flash));
        connect();
        target().clear_commands();
    }
    void setPages(int first, int last) {
        ui().setValue(ops, TABOPS_STARTPAGE, first);
        ui().setValue(ops, TABOPS_ENDPAGE, last);
    }
    std::vector<std::string> shownAfter(const std::string& marker) {
        auto lines = logAfter(marker);
        EXPECT_FALSE(lines.empty());
        if (!lines.empty()) {
            EXPECT_EQ("Flash读取完成.", lines.back());
            lines.pop_back();
        }
        return lines;
    }
};

TEST_F(Read, PagesTwoToThreeShow128LinesFromTheirStart) {
    startWithPattern("f103c8", 64 * 1024);
    setPages(2, 3);
    app->click(ops, TABOPS_PAGEREAD);
    ASSERT_TRUE(waitForStatus(kReadDone));
    const std::vector<std::uint8_t> pages(flash.begin() + 0x800, flash.begin() + 0x1000);
    const auto shown = shownAfter("开始分页读取FLASH信息...");
    EXPECT_EQ(Lines(pages, 0x08000800), shown);
    ASSERT_EQ(128u, shown.size());
    EXPECT_EQ("08000800:", shown.front().substr(0, 9));
    EXPECT_EQ("08000FF0:", shown.back().substr(0, 9));
    EXPECT_EQ(2048, ui().intValue(ops, TABOPS_PROGRESS));
    EXPECT_EQ(2048, ui().attribute(ops, TABOPS_PROGRESS, ATTR_MAX_VALUE));
    // A reset and synchronisation, then eight blocks of 256 from 0x08000800.
    const auto commands = target().commands();
    ASSERT_EQ(9u, commands.size());
    EXPECT_EQ(0x7F, commands[0].command);
    for (std::size_t i = 0; i < 8; i++) {
        EXPECT_EQ(0x11, commands[1 + i].command);
        EXPECT_EQ(0x08000800u + 256 * i, commands[1 + i].address.value_or(0));
        EXPECT_EQ(256u, commands[1 + i].length.value_or(0));
    }
    EXPECT_TRUE(popups().empty());
}

TEST_F(Read, WholeChipReadShowsEveryByteAtItsFullAddressWithItsText) {
    startWithPattern("f103cb", 128 * 1024);
    const std::string text = "Hi, ChipLoad!\x7f\x1f~";
    std::copy(text.begin(), text.end(), flash.begin());
    ASSERT_TRUE(target().load_flash(0x08000000, flash));
    app->click(ops, TABOPS_CHIPREAD);
    ASSERT_TRUE(waitForStatus(kReadDone, 60s));
    const auto shown = shownAfter("开始读取整片FLASH信息...");
    EXPECT_EQ(Lines(flash, 0x08000000), shown);
    ASSERT_EQ(8192u, shown.size());
    EXPECT_EQ("08000000:48 69 2C 20 43 68 69 70 4C 6F 61 64 21 7F 1F 7E  Hi, ChipLoad!..~",
              shown.front());
    EXPECT_EQ("08010000:", shown[4096].substr(0, 9));
}

std::string FileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST_F(Read, SaveWritesTheLastReadBackAsBinaryOrHexByTheName) {
    startWithPattern("f103c8", 64 * 1024);
    app->click(isp, TABISP_SAVEFILE);
    ASSERT_TRUE(waitForPopup("还没有读取FLASH，没有可保存的数据！！！"));

    app->click(ops, TABOPS_CHIPREAD);
    ASSERT_TRUE(waitForStatus(kReadDone, 60s));
    const auto whole = files.path() / "whole.bin";
    ui().queueFileAnswer(whole.string());
    app->click(isp, TABISP_SAVEFILE);
    ASSERT_TRUE(waitForStatus("文件保存完成"));
    EXPECT_EQ(std::string(flash.begin(), flash.end()), FileText(whole));

    // A page read replaces what is saved, at its own address.
    setPages(2, 3);
    app->click(ops, TABOPS_PAGEREAD);
    ASSERT_TRUE(ui().waitUntil([&] { return log().back() == "Flash读取完成."; }, kLong));
    const auto pages = files.path() / "pages.HEX";
    ui().queueFileAnswer(pages.string());
    app->click(isp, TABISP_SAVEFILE);
    ASSERT_TRUE(ui().waitUntil([&] { return std::filesystem::exists(pages); }, kLong));
    const std::vector<std::uint8_t> expected(flash.begin() + 0x800, flash.begin() + 0x1000);
    EXPECT_EQ(isp::toIntelHex(0x08000800, expected), FileText(pages));

    // A folder cannot be written: said, and nothing left behind.
    ui().queueFileAnswer(files.path().string());
    app->click(isp, TABISP_SAVEFILE);
    ASSERT_TRUE(waitForPopup("文件" + files.path().string() + "不能写入！！！"));
    EXPECT_FALSE(std::filesystem::exists(files.path().string() + ".part"));
}

TEST_F(Read, PageChecksAndTheLargerPagesAbove128KiB) {
    startWithPattern("f103c8", 64 * 1024);
    setPages(5, 3);
    app->click(ops, TABOPS_PAGEREAD);
    setPages(0, 64);
    app->click(ops, TABOPS_PAGEREAD);
    EXPECT_EQ((std::vector<std::string>{
                  std::string(kWarning) + "|起始页大于终止页，请重新选择终止页码~~~~~",
                  std::string(kWarning) + "|片内FLASH只有64页，请重新选择起始页和终止页！！"}),
              popups());
    EXPECT_TRUE(target().commands().empty());
    TearDown();

    // Page 255 exists only on the 512 KiB parts; a 256 KiB part refuses its address.
    startWithPattern("f103re", 512 * 1024);
    setPages(3, 3);
    app->click(ops, TABOPS_PAGEREAD);
    ASSERT_TRUE(waitForStatus(kReadDone));
    const std::vector<std::uint8_t> page(flash.begin() + 0x1800, flash.begin() + 0x2000);
    EXPECT_EQ(Lines(page, 0x08001800), shownAfter("开始分页读取FLASH信息..."));
    setPages(255, 255);
    app->click(ops, TABOPS_PAGEREAD);
    ASSERT_TRUE(ui().waitUntil([&] { return log().back() == "Flash读取完成."; }, kLong));
    EXPECT_TRUE(popups().empty());
}

TEST_F(Read, BlankCheckPassesOnErasedFlashAndStopsAtOffsetFive) {
    start("f103c8");
    connect();
    app->click(ops, TABOPS_CHECKBLANK);
    ASSERT_TRUE(waitForStatus("Flash查空完毕！"));
    EXPECT_EQ(std::vector<std::string>{"Flash查空完毕."}, logAfter("Flash查空开始."));
    EXPECT_TRUE(popups().empty());

    ASSERT_TRUE(target().load_flash(0x08000005, std::vector<std::uint8_t>{0x00}));
    app->click(ops, TABOPS_CHECKBLANK);
    ASSERT_TRUE(waitForPopup("芯片不空，请重新擦除！"));
    EXPECT_EQ(std::vector<std::string>{std::string(kWarning) + "|芯片不空，请重新擦除！"},
              popups());
    ui().waitIdle();
    EXPECT_TRUE(logAfter("Flash查空开始.").empty());
    EXPECT_EQ("Flash查空开始...", status());
    // The verdict ends the read: the next one starts cleanly and completes.
    ui().clearPopups();
    ui().setValue(ops, TABOPS_STARTPAGE, 0);
    ui().setValue(ops, TABOPS_ENDPAGE, 0);
    app->click(ops, TABOPS_PAGEREAD);
    ASSERT_TRUE(waitForStatus(kReadDone));
    const auto shown = logAfter("开始分页读取FLASH信息...");
    ASSERT_EQ(65u, shown.size());
    EXPECT_EQ("08000000:FF FF FF FF FF 00 FF FF FF FF FF FF FF FF FF FF  ................",
              shown.front());
}

TEST_F(Read, GoStartsTheProgramAndItsOutputIsNoRefusal) {
    start("f103c8");
    connect();
    ui().setValue(isp, TABISP_FILETYPE, 0);
    ui().queueFileAnswer(std::string(CHIPLOAD_SOURCE_DIR) + "/examples/hello-usart/hello.hex");
    app->click(isp, TABISP_LOADFILE);
    ASSERT_EQ("文件读取完成", status());
    program();
    ui().clearPopups();
    target().clear_commands();
    app->click(ops, TABOPS_GO);
    ASSERT_TRUE(waitForStatus("程序开始运行！！！"));
    const auto receive = [&] { return app->receiveBox(); };
    ASSERT_TRUE(ui().waitUntil(
        [&] {
            const auto lines = receive();
            return std::find(lines.begin(), lines.end(), "程序开始运行！！！") != lines.end();
        },
        kLong));
    EXPECT_EQ(0, ispMode());
    // The program greets; its bytes are only echoed.
    const std::string hello = "48 65 6C 6C 6F";  // "Hello", perhaps across a line break
    EXPECT_TRUE(ui().waitUntil(
        [&] {
            std::string shown;
            for (const auto& line : receive()) {
                shown += line + " ";
            }
            return shown.find(hello) != std::string::npos;
        },
        kLong));
    EXPECT_TRUE(popups().empty());
    ASSERT_EQ(1u, target().commands().size());
    EXPECT_EQ(0x21, target().commands()[0].command);
    EXPECT_EQ(0x08000000u, target().commands()[0].address.value_or(0));
    EXPECT_EQ(stm32sim::Mode::application, target().mode());
}

// Without the flash size (its read was refused) a whole-chip read has no
// length: it is refused instead of asking for nothing.
TEST_F(Read, NoFlashSizeRefusesWholeChipReads) {
    stm32sim::FaultConfig faults;
    faults.refuse_command = 0x11;
    start("f103c8", faults);
    ui().queuePopupAnswer(2);  // keep the protection the offer is about
    pressConnect();
    // Get ID answered and Read Memory refused: what read protection looks like.
    ASSERT_TRUE(ui().waitForPopups(1, kLong));
    EXPECT_EQ(0u, popups().front().find("芯片读保护|"));
    EXPECT_NE(std::string::npos, popups().front().find(kReadProtectedText));
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    EXPECT_EQ(1, sysReady());
    ui().clearPopups();
    target().clear_commands();
    app->click(ops, TABOPS_CHIPREAD);
    app->click(ops, TABOPS_CHECKBLANK);
    const std::string refusal = std::string(kWarning) + "|未获取FLASH容量，请重新连接设备！！！";
    EXPECT_EQ((std::vector<std::string>{refusal, refusal}), popups());
    ui().waitIdle();
    EXPECT_TRUE(target().commands().empty());
}

// A paced board: a whole-chip read takes seconds, long enough to press
// another read meanwhile and to disconnect in the middle.
class PacedRead : public ::testing::Test {
  protected:
    void SetUp() override {
        stm32sim::TargetConfig config;
        config.product = *stm32sim::find_product("f103c8");
        config.timing = stm32sim::Timing::real;
        chip = std::make_unique<stm32sim::Target>(config);
        flash = Pattern(64 * 1024, 7);
        ASSERT_TRUE(chip->load_flash(0x08000000, flash));
        server = std::make_unique<stm32sim::Rfc2217Server>(*chip);
        server->start("127.0.0.1", 0);
        apptest::MapPort(kCom, "rfc2217://127.0.0.1:" + std::to_string(server->port()));
        app = std::make_unique<apptest::AppHarness>();
        ops = app->panels().ops;
        app->commit(app->panels().main, PANEL_COMPORT, kCom);
        app->click(app->panels().main, PANEL_CONNECT);
        ASSERT_TRUE(
            app->ui().waitUntil([&] { return app->ui().intValue(ops, TABOPS_CHIP) != 0; }, kLong));
        ASSERT_TRUE(
            app->ui().waitUntil([&] { return app->onUi([] { return ISP_mode; }) == 0; }, kLong));
    }
    void TearDown() override {
        app.reset();
        server.reset();
    }

    std::unique_ptr<stm32sim::Target> chip;
    std::unique_ptr<stm32sim::Rfc2217Server> server;
    std::unique_ptr<apptest::AppHarness> app;
    std::vector<std::uint8_t> flash;
    int ops = 0;
};

TEST_F(PacedRead, ASecondReadIsRefusedAndAnAbandonedReadLeavesNoOldBytes) {
    app->click(ops, TABOPS_CHIPREAD);
    ASSERT_TRUE(app->ui().waitUntil([&] { return app->log().size() > 40; }, kLong));
    // While it reads, the status line counts the bytes and gives a rate.
    ASSERT_TRUE(app->ui().waitUntil(
        [&] {
            const std::string shown = app->status();
            return shown.rfind("已读取 ", 0) == 0 &&
                   shown.find("/65536 字节，") != std::string::npos &&
                   shown.find("-- KB/s") == std::string::npos;
        },
        kLong))
        << app->status();
    for (const int button : {TABOPS_CHECKBLANK, TABOPS_PAGEREAD, TABOPS_CHIPREAD}) {
        app->ui().clearPopups();
        app->click(ops, button);
        EXPECT_EQ(std::vector<std::string>{std::string(kWarning) +
                                           "|上一次读取尚未完成，请稍候或重新连接设备！！！"},
                  app->popupTexts());
    }
    // Disconnect in the middle: the read is abandoned where it stood.
    app->click(app->panels().main, PANEL_CONNECT);
    app->click(app->panels().main, PANEL_CONNECT);
    ASSERT_TRUE(app->ui().waitUntil(
        [&] { return app->status() == "成功获取芯片全球唯一标识码！！！"; }, kLong));
    ASSERT_TRUE(
        app->ui().waitUntil([&] { return app->onUi([] { return ISP_mode; }) == 0; }, kLong));
    app->ui().clearPopups();
    app->ui().setValue(ops, TABOPS_STARTPAGE, 1);
    app->ui().setValue(ops, TABOPS_ENDPAGE, 1);
    app->click(ops, TABOPS_PAGEREAD);
    ASSERT_TRUE(app->waitForStatus(kReadDone, kLong));
    std::vector<std::string> shown;
    for (const auto& line : app->log()) {
        if (line == "开始分页读取FLASH信息...") {
            shown.clear();
        } else {
            shown.push_back(line);
        }
    }
    ASSERT_FALSE(shown.empty());
    shown.pop_back();
    const std::vector<std::uint8_t> page(flash.begin() + 1024, flash.begin() + 2048);
    EXPECT_EQ(Lines(page, 0x08000400), shown);
    EXPECT_TRUE(app->popupTexts().empty());
}

}  // namespace
}  // namespace e2e
