// What an operation leaves behind for the next one: a failed programming run,
// a blank check that stops at the first programmed byte, a finished read and
// the terminal's sends during an exchange never spoil what follows.
#include <algorithm>

#include "ChipLoad.h"
#include "e2e_session.h"

namespace e2e {
namespace {

constexpr char kWriteFailed[] = "程序烧写操作失败，请检查boot0引脚并手动复位电路！！！";
constexpr char kBlockFailed[] = "烧写操作失败，请检查boot0引脚并手动复位电路！！！";
constexpr char kEraseFailed[] = "擦除操作失败，请检查boot0引脚并手动复位电路！！！";
constexpr char kErased[] = "FLASH擦除成功！！！";
constexpr char kNotBlank[] = "芯片不空，请重新擦除！";
constexpr char kReadDone[] = "Flash读取完成！！！";
constexpr char kBlankDone[] = "Flash查空完毕！";
constexpr char kTerminalBusy[] = "ISP操作进行中，终端暂不发送，请稍后再试！";

class Aftermath : public Session {
  protected:
    bool anyWarning() const {
        const auto shown = popups();
        return std::any_of(shown.begin(), shown.end(), [](const std::string& popup) {
            return popup.rfind(std::string(kWarning) + "|", 0) == 0;
        });
    }
    bool flashIs(std::uint32_t offset, const std::vector<std::uint8_t>& bytes) {
        const auto flash = target().flash();
        return std::equal(bytes.begin(), bytes.end(), flash.begin() + offset);
    }
    bool erased(std::uint32_t from, std::uint32_t to) {
        return flashIs(from, std::vector<std::uint8_t>(to - from, 0xFF));
    }
    // A blank check that finds the programmed first page and stops there.
    void blankCheckFindsData() {
        ui().clearPopups();
        app->click(ops, TABOPS_CHECKBLANK);
        ASSERT_TRUE(waitForPopup(kNotBlank)) << status();
        ui().clearPopups();
    }
    void terminalSends(const std::string& hexText) {
        ui().setValue(term, TABTERM_SENDHEX, 1);
        ui().setValue(term, TABTERM_SEND, hexText);
        app->click(term, TABTERM_SENDBUTTON);
    }
    // The bytes of the receive box, as its spaced pairs.
    std::vector<std::string> bytesShown() const {
        std::vector<std::string> bytes;
        for (const auto& line : app->receiveBox()) {
            for (std::size_t at = 0; at + 2 <= line.size(); at += 3) {
                bytes.push_back(line.substr(at, 2));
            }
        }
        return bytes;
    }
    // Sends the hex text and waits for a refusal after what was shown before.
    bool terminalSendIsRefused(const std::string& hexText) {
        // The session's last echo may still be on its way; the send waits for it.
        if (!ui().waitUntil([&] { return ispMode() == 0; }, kLong) || !ui().waitIdle()) {
            return false;
        }
        const std::size_t before = bytesShown().size();
        terminalSends(hexText);
        return ui().waitUntil(
            [&] {
                const auto bytes = bytesShown();
                return bytes.size() > before && bytes.back() == "1F";
            },
            kLong);
    }
};

struct FailedRun {
    const char* name;
    stm32sim::FaultConfig faults;
    const char* failure;
};

void PrintTo(const FailedRun& param, std::ostream* out) {
    *out << param.name;
}

stm32sim::FaultConfig RefuseStep(std::uint8_t command, stm32sim::RefusedStep::Step step,
                                 std::uint32_t occurrence) {
    stm32sim::FaultConfig faults;
    faults.refuse_step = stm32sim::RefusedStep{command, step, occurrence};
    return faults;
}

class AfterFailedRun : public Aftermath, public ::testing::WithParamInterface<FailedRun> {};

// Whatever ended a programming run, the next whole-chip erase only erases.
TEST_P(AfterFailedRun, ChipEraseOnlyErases) {
    start("f103c8", GetParam().faults);
    connect();
    loadImage(Pattern(2000));
    app->click(ops, TABOPS_WRITE);
    ASSERT_TRUE(waitForPopup(GetParam().failure)) << status();
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    if (sysReady() == 0) {  // a refused erase asks for a new connection
        pressConnect();
        connect();
    }
    ASSERT_TRUE(target().load_flash(0x08000000, Pattern(4096, 9)));
    target().clear_commands();
    ui().clearPopups();
    app->click(ops, TABOPS_CHIPERASE);
    ASSERT_TRUE(waitForStatus(kErased));
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    EXPECT_TRUE(erased(0, 64 * 1024));
    const auto commands = target().commands();
    ASSERT_FALSE(commands.empty());
    EXPECT_TRUE(std::all_of(commands.begin(), commands.end(), [](const auto& record) {
        return record.command == 0x43;
    })) << commands.back().text;
    EXPECT_FALSE(waitForPopup(kWriteDone, 0ms));
    // Only the erase's confirmation was asked.
    EXPECT_EQ(1u, popups().size());
}

using Step = stm32sim::RefusedStep::Step;
INSTANTIATE_TEST_SUITE_P(
    Failures, AfterFailedRun,
    ::testing::Values(FailedRun{"CommandThrice", {.refuse_command = 0x31}, kWriteFailed},
                      FailedRun{"Address", RefuseStep(0x31, Step::address, 2), kWriteFailed},
                      FailedRun{"DataBlock", RefuseStep(0x31, Step::data, 2), kBlockFailed},
                      FailedRun{"EraseFrame", RefuseStep(0x43, Step::data, 1), kEraseFailed}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Aftermath, BlankCheckThatFindsDataLeavesTheBootloaderReady) {
    start("f103c8");
    const auto data = Pattern(4096, 4);
    ASSERT_TRUE(target().load_flash(0x08000000, data));
    connect();

    blankCheckFindsData();
    app->click(ops, TABOPS_CHIPERASE);
    ASSERT_TRUE(waitForStatus(kErased)) << status();
    EXPECT_TRUE(erased(0, 64 * 1024));

    ASSERT_TRUE(target().load_flash(0x08000000, data));
    blankCheckFindsData();
    ui().setValue(ops, TABOPS_STARTPAGE, 0);
    ui().setValue(ops, TABOPS_ENDPAGE, 1);
    app->click(ops, TABOPS_PAGEERASE);
    ASSERT_TRUE(waitForStatus(kErased)) << status();
    EXPECT_TRUE(erased(0, 2048));
    EXPECT_TRUE(flashIs(2048, std::vector<std::uint8_t>(data.begin() + 2048, data.end())));

    blankCheckFindsData();
    ui().setValue(ops, TABOPS_STARTPAGE, 0);
    ui().setValue(ops, TABOPS_ENDPAGE, 0);
    app->click(ops, TABOPS_PAGEREAD);
    ASSERT_TRUE(waitForStatus(kReadDone)) << status();
    EXPECT_EQ("080003F0:FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF  ................",
              log().at(log().size() - 2));

    blankCheckFindsData();
    const auto image = Pattern(3000, 8);
    loadImage(image);
    program();
    EXPECT_TRUE(flashIs(0, image));
    EXPECT_FALSE(anyWarning());
}

// After the last block a read or blank check is over: a refusal that later
// comes on the line (here provoked through the terminal) is only echoed.
TEST_F(Aftermath, FinishedReadsLeaveTheLineToTheTerminal) {
    start("f103c6");
    connect();
    ui().setValue(ops, TABOPS_STARTPAGE, 3);
    ui().setValue(ops, TABOPS_ENDPAGE, 3);
    app->click(ops, TABOPS_PAGEREAD);
    ASSERT_TRUE(waitForStatus(kReadDone));
    // A command with a wrong complement: refused.
    ASSERT_TRUE(terminalSendIsRefused("01 00"));

    app->click(ops, TABOPS_CHECKBLANK);
    ASSERT_TRUE(waitForStatus(kBlankDone));
    ASSERT_TRUE(terminalSendIsRefused("01 00"));
    EXPECT_TRUE(popups().empty()) << popups().front();
}

// Terminal sends wait while the bootloader answers: periodic sends during a
// programming run whose replies come in pieces neither reach the chip nor
// break the gathering of a reply.
TEST_F(Aftermath, TerminalSendsWaitForTheExchange) {
    stm32sim::FaultConfig faults;
    faults.split_pieces = 2;
    faults.split_gap = std::chrono::milliseconds(2);
    start("f103c8", faults);
    connect();
    const auto image = Pattern(16 * 1024, 6);
    loadImage(image);
    ui().setValue(term, TABTERM_SENDHEX, 1);
    ui().setValue(term, TABTERM_SEND, std::string("11"));
    app->commit(term, TABTERM_INTERVAL, 0.01);
    target().clear_commands();
    app->click(ops, TABOPS_WRITE);
    app->click(term, TABTERM_AUTOSEND);
    ASSERT_TRUE(waitForStatus(kTerminalBusy));
    app->click(term, TABTERM_CLEARTXCOUNT);
    ASSERT_TRUE(
        ui().waitUntil([&] { return waitForPopup(kWriteDone, 0ms) || anyWarning(); }, kLong));
    app->click(term, TABTERM_AUTOSEND);
    EXPECT_FALSE(anyWarning()) << status();
    EXPECT_TRUE(flashIs(0, image));
    // Once the run is over the sends resume; the chip's own commands were
    // all acknowledged, one Write Memory per block.
    const auto commands = target().commands();
    EXPECT_EQ(64, std::count_if(commands.begin(), commands.end(), [](const auto& record) {
                  return record.command == 0x31 && record.acknowledged;
              }));
    EXPECT_TRUE(std::none_of(commands.begin(), commands.end(), [](const auto& record) {
        return (record.command == 0x43 || record.command == 0x31) && !record.acknowledged;
    }));
}

}  // namespace
}  // namespace e2e
