// Programming: images of several lengths land whole in flash, progress and
// completion count the image's bytes, refusals end with their messages.
#include <algorithm>

#include "ChipLoad.h"
#include "TideComm.h"
#include "e2e_session.h"
#include "session.h"
#include "stm32sim/rfc2217_server.hpp"

namespace e2e {
namespace {

constexpr char kWriteFailed[] = "程序烧写操作失败，请检查boot0引脚并手动复位电路！！！";

class Program : public Session, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(Program, ImageLandsWholeAndTheRestStaysErased) {
    const std::size_t length = GetParam();
    start("f103c8");
    connect();
    const auto image = Pattern(length, static_cast<unsigned>(length));
    loadImage(image);
    target().clear_commands();
    ui().setPopupRule(rte::Headless::PopupRule::Manual);
    app->click(ops, TABOPS_WRITE);
    ASSERT_TRUE(ui().waitForPendingPopup(kLong))
        << status() << " progress " << ui().intValue(ops, TABOPS_PROGRESS) << " last command "
        << (commandTexts().empty() ? "" : commandTexts().back()) << " mode " << ispMode()
        << " step " << app->onUi([] { return sub_write_mode; }) << " rx "
        << (app->receiveBox().empty() ? "" : app->receiveBox().back()) << " lines "
        << app->receiveBox().size() << " pending " << target().next_output_due().has_value()
        << " received " << app->onUi([] { return TideComm_GetReceiveCount(kCom); }) << " held "
        << app->onUi([] {
               int n = -1;
               TideComm_GetInBufferCount(kCom, &n);
               return n;
           })
        << " sendcount " << app->onUi([] { return TideComm_GetSendCount(kCom); });
    // While the completion pop-up is open the bar is full, at the image's length.
    EXPECT_EQ(static_cast<int>(length), ui().intValue(ops, TABOPS_PROGRESS));
    EXPECT_EQ(static_cast<int>(length), ui().attribute(ops, TABOPS_PROGRESS, ATTR_MAX_VALUE));
    ASSERT_TRUE(ui().answerPopup(1));
    ui().setPopupRule(rte::Headless::PopupRule::FirstButton);
    ASSERT_TRUE(waitForPopup(kWriteDone));
    ui().waitIdle();
    EXPECT_EQ(0, ui().intValue(ops, TABOPS_PROGRESS));
    EXPECT_EQ("程序烧写完成", status());
    EXPECT_EQ((std::vector<std::string>{"FLASH擦除完毕.", "程序写入完毕，开始校验...", "校验通过",
                                        "程序烧写完成"}),
              logAfter("开始程序装载进程......"));

    const auto flash = target().flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(std::all_of(flash.begin() + static_cast<long>(length), flash.end(),
                            [](std::uint8_t b) { return b == 0xFF; }));

    // One erase, then one Write Memory per block of 256, the last padded to
    // whole words so that no byte is dropped; then the verify reads back
    // exactly the image.
    const auto commands = target().commands();
    const std::size_t blocks = (length + 255) / 256;
    ASSERT_EQ(1 + 2 * blocks, commands.size());
    for (std::size_t i = 0; i < blocks; i++) {
        SCOPED_TRACE(i);
        const auto& read = commands[1 + blocks + i];
        EXPECT_EQ(0x11, read.command);
        EXPECT_EQ(0x08000000u + 256 * i, read.address.value_or(0));
        EXPECT_EQ(std::min<std::size_t>(256, length - 256 * i), read.length.value_or(0));
    }
    EXPECT_EQ(0x43, commands[0].command);
    for (std::size_t i = 0; i < blocks; i++) {
        SCOPED_TRACE(i);
        const auto& write = commands[1 + i];
        EXPECT_EQ(0x31, write.command);
        EXPECT_TRUE(write.acknowledged);
        EXPECT_EQ(0x08000000u + 256 * i, write.address.value_or(0));
        const std::size_t bytes = std::min<std::size_t>(256, length - 256 * i);
        EXPECT_EQ((bytes + 3) / 4 * 4, write.length.value_or(0));
    }
    // The image stays loaded: the next write programs it again.
    ui().clearPopups();
    program();
    EXPECT_EQ(std::vector<std::string>{"|" + std::string(kWriteDone)}, popups());
}

INSTANTIATE_TEST_SUITE_P(Lengths, Program, ::testing::Values(1, 256, 257, 600, 65536));

// A board paced at the line rate, so that each block's progress can be seen.
TEST(ProgramProgress, AdvancesAfterEachAcknowledgedBlock) {
    stm32sim::TargetConfig config;
    config.product = *stm32sim::find_product("f103c8");
    config.timing = stm32sim::Timing::real;
    stm32sim::Target chip(config);
    stm32sim::Rfc2217Server server(chip);
    server.start("127.0.0.1", 0);
    apptest::MapPort(kCom, "rfc2217://127.0.0.1:" + std::to_string(server.port()));
    apptest::AppHarness app;
    apptest::TempDir files;
    const int ops = app.panels().ops;
    app.commit(app.panels().main, PANEL_COMPORT, kCom);
    app.click(app.panels().main, PANEL_CONNECT);
    ASSERT_TRUE(
        app.ui().waitUntil([&] { return app.ui().intValue(ops, TABOPS_CHIP) != 0; }, kLong));
    const auto image = Pattern(600);
    app.ui().setValue(app.panels().isp, TABISP_FILETYPE, 1);
    app.ui().queueFileAnswer(files.write("p.bin", std::string(image.begin(), image.end())));
    app.click(app.panels().isp, TABISP_LOADFILE);
    app.ui().setPopupRule(rte::Headless::PopupRule::Manual);
    app.click(ops, TABOPS_WRITE);
    std::vector<int> seen;
    ASSERT_TRUE(app.ui().waitUntil(
        [&] {
            const int value = app.ui().intValue(ops, TABOPS_PROGRESS);
            if (seen.empty() || seen.back() != value) {
                seen.push_back(value);
            }
            return value == 600;
        },
        kLong));
    EXPECT_EQ((std::vector<int>{0, 256, 512, 600}), seen);
    ASSERT_TRUE(app.ui().waitForPendingPopup(kLong));
    app.ui().answerPopup(1);
    app.ui().setPopupRule(rte::Headless::PopupRule::FirstButton);
    app.ui().waitIdle();
    EXPECT_EQ(0, app.ui().intValue(ops, TABOPS_PROGRESS));
    app.click(app.panels().main, PANEL_CONNECT);
}

class BoardAfterBoard : public Session {
  protected:
    // A fresh board on the same line: disconnected, blank flash, connected anew.
    void nextBoard() {
        pressConnect();
        ASSERT_FALSE(portOpen());
        ASSERT_TRUE(target().load_flash(0x08000000, std::vector<std::uint8_t>(64 * 1024, 0xFF)));
        connect();
        ui().clearPopups();
    }
    bool flashStartsWith(const std::vector<std::uint8_t>& image) {
        const auto flash = target().flash();
        return std::equal(image.begin(), image.end(), flash.begin());
    }
};

TEST_F(BoardAfterBoard, ThreeBoardsWithOneLoadAndAReloadWhenTheFileChanges) {
    start("f103c8");
    connect();
    const auto first = Pattern(1000, 3);
    loadImage(first);
    const std::string path = ui().text(isp, TABISP_HEXPATH);
    for (int run = 1; run <= 2; run++) {
        SCOPED_TRACE(run);
        if (run > 1) {
            nextBoard();
        }
        program();
        EXPECT_TRUE(flashStartsWith(first));
        EXPECT_EQ(path, ui().text(isp, TABISP_HEXPATH));
        EXPECT_EQ("0KB", ui().text(isp, TABISP_FILESIZE));
    }
    // Changed on disk: the third board gets the new contents, and the log says why.
    const auto second = Pattern(3000, 4);
    files.write("image.bin", std::string(second.begin(), second.end()));
    nextBoard();
    program();
    EXPECT_TRUE(flashStartsWith(second));
    EXPECT_EQ("2KB", ui().text(isp, TABISP_FILESIZE));
    const auto logged = log();
    EXPECT_NE(logged.end(),
              std::find(logged.begin(), logged.end(), "文件" + path + "已在磁盘上改变，重新加载"));
    for (const auto& popup : ui().popups()) {
        EXPECT_NE(rte::Headless::PopupRecord::Kind::File, popup.kind);
    }
}

class ProgramRefused : public Session {};

// The Write Memory command refused: re-sent at once (no re-synchronisation)
// until the budget is spent.
TEST_F(ProgramRefused, CommandRefusedThriceEndsWithItsMessage) {
    stm32sim::FaultConfig faults;
    faults.refuse_command = 0x31;
    start("f103c8", faults);
    connect();
    loadImage(Pattern(300));
    target().clear_commands();
    app->click(ops, TABOPS_WRITE);
    ASSERT_TRUE(waitForPopup(kWriteFailed));
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    ui().waitIdle();
    // The third refusal gives up without sending the command again.
    const auto writeCommands = [&] {
        const auto all = target().commands();
        return std::count_if(all.begin(), all.end(),
                             [](const auto& c) { return c.command == 0x31; });
    };
    const auto commands = target().commands();
    EXPECT_EQ(0x43, commands[0].command);
    EXPECT_EQ(3, writeCommands());
    EXPECT_EQ(0, std::count_if(commands.begin(), commands.end(),
                               [](const auto& c) { return c.command == 0x7F; }));
    EXPECT_FALSE(waitForPopup(kWriteDone, 200ms));
}

// The address of the third block refused: the run ends there, with no retry.
TEST_F(ProgramRefused, AddressRefusedEndsWithItsMessage) {
    stm32sim::FaultConfig faults;
    faults.refuse_step = stm32sim::RefusedStep{0x31, stm32sim::RefusedStep::Step::address, 3};
    start("f103c6", faults);
    connect();
    const auto image = Pattern(1024);
    loadImage(image);
    app->click(ops, TABOPS_WRITE);
    ASSERT_TRUE(waitForPopup(kWriteFailed));
    EXPECT_FALSE(waitForPopup(kWriteDone, 200ms));
    const auto commands = target().commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_FALSE(commands.back().acknowledged);
    EXPECT_EQ(0x08000200u, commands.back().address.value_or(0));
    const auto flash = target().flash();
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 512, image.begin()));
}

}  // namespace
}  // namespace e2e
