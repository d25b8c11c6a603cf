// Whole-chip and page erase, their refusals, and what a refused erase frame
// leaves: no operation until the operator connects again.
#include <algorithm>

#include "ChipLoad.h"
#include "e2e_session.h"
#include "session.h"

namespace e2e {
namespace {

constexpr char kEraseFailed[] = "擦除操作失败，请检查boot0引脚并手动复位电路！！！";
constexpr char kErased[] = "FLASH擦除成功！！！";

class Erase : public Session {
  protected:
    void SetUp() override {
        start("f103c8", faults);
        ASSERT_TRUE(target().load_flash(0x08000000, Pattern(64 * 1024)));
        connect();
        target().clear_commands();
    }

    stm32sim::FaultConfig faults;

    bool erased(std::size_t from, std::size_t to) {
        const auto flash = target().flash();
        return std::all_of(flash.begin() + static_cast<long>(from),
                           flash.begin() + static_cast<long>(to),
                           [](std::uint8_t b) { return b == 0xFF; });
    }
    bool untouched(std::size_t from, std::size_t to) {
        const auto flash = target().flash();
        const auto pattern = Pattern(64 * 1024);
        return std::equal(flash.begin() + static_cast<long>(from),
                          flash.begin() + static_cast<long>(to),
                          pattern.begin() + static_cast<long>(from));
    }
    void setPages(int first, int last) {
        ui().setValue(ops, TABOPS_STARTPAGE, first);
        ui().setValue(ops, TABOPS_ENDPAGE, last);
    }
};

TEST_F(Erase, WholeChipEraseAsksFirstAndErasesEverything) {
    ui().queuePopupAnswer(2);  // "放弃擦除"
    app->click(ops, TABOPS_CHIPERASE);
    EXPECT_TRUE(target().commands().empty());
    EXPECT_TRUE(untouched(0, 64 * 1024));
    ASSERT_EQ(1u, ui().popups().size());
    EXPECT_EQ("请您确认是否擦除整片FLASH(Y/N)?", ui().popups()[0].message);

    ui().queuePopupAnswer(1);
    app->click(ops, TABOPS_CHIPERASE);
    ASSERT_TRUE(waitForStatus(kErased));
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    EXPECT_TRUE(erased(0, 64 * 1024));
    const auto after = logAfter("开始擦除FLASH信息...");
    EXPECT_EQ(std::vector<std::string>{"FLASH擦除完毕."}, after);
    ASSERT_EQ(1u, target().commands().size());
    EXPECT_EQ(0x43, target().commands()[0].command);
    EXPECT_TRUE(target().commands()[0].acknowledged);
}

TEST_F(Erase, PagesTenToTwelveEraseOnlyThosePages) {
    setPages(10, 12);
    app->click(ops, TABOPS_PAGEERASE);
    ASSERT_TRUE(waitForStatus(kErased));
    EXPECT_TRUE(untouched(0, 10 * 1024));
    EXPECT_TRUE(erased(10 * 1024, 13 * 1024));
    EXPECT_TRUE(untouched(13 * 1024, 64 * 1024));
    const auto commands = target().commands();
    ASSERT_EQ(1u, commands.size());
    EXPECT_EQ(0x43, commands[0].command);
    EXPECT_EQ(3u, commands[0].length.value_or(0));
    EXPECT_EQ(0x08002800u, commands[0].address.value_or(0));
    EXPECT_EQ(std::vector<std::string>{"FLASH擦除完毕."}, logAfter("开始分页擦除FLASH信息..."));
    EXPECT_TRUE(popups().empty());
}

TEST_F(Erase, PageChecksComeBeforeAnythingIsSent) {
    setPages(5, 3);
    app->click(ops, TABOPS_PAGEERASE);
    setPages(0, 64);
    app->click(ops, TABOPS_PAGEERASE);
    EXPECT_EQ((std::vector<std::string>{
                  std::string(kWarning) + "|起始页大于终止页，请重新选择终止页码~~~~~",
                  std::string(kWarning) + "|片内FLASH只有64页，请重新选择起始页和终止页！！"}),
              popups());
    EXPECT_TRUE(target().commands().empty());
}

// The Erase command refused: re-synchronised and re-sent up to the budget.
class EraseRefused : public Session {};

TEST_F(EraseRefused, CommandRefusedThriceEndsWithItsMessage) {
    stm32sim::FaultConfig faults;
    faults.refuse_command = 0x43;
    start("f103c8", faults);
    for (const int button : {TABOPS_CHIPERASE, TABOPS_PAGEERASE}) {
        SCOPED_TRACE(button);
        connect();
        target().clear_commands();
        ui().setValue(ops, TABOPS_STARTPAGE, 1);
        ui().setValue(ops, TABOPS_ENDPAGE, 1);
        app->click(ops, button);
        ASSERT_TRUE(waitForPopup(kEraseFailed));
        ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
        const auto count = [&](std::uint8_t code) {
            const auto commands = target().commands();
            return std::count_if(commands.begin(), commands.end(),
                                 [&](const auto& c) { return c.command == code; });
        };
        // Each refusal re-synchronises, the last one too.
        EXPECT_TRUE(ui().waitUntil([&] { return count(0x7F) == 3; }, kLong));
        ui().waitIdle();
        EXPECT_EQ(3, count(0x43));
        EXPECT_EQ(3, count(0x7F));
        EXPECT_EQ(1, sysReady());
        pressConnect();  // disconnect
        ui().clearPopups();
    }
}

// The bootloader refuses the page list: the session is lost and every
// operation asks for a new connection.
class EraseFrameRefused : public Erase {
  protected:
    EraseFrameRefused() {
        faults.refuse_step = stm32sim::RefusedStep{0x43, stm32sim::RefusedStep::Step::data, 1};
    }
};

TEST_F(EraseFrameRefused, EveryLaterOperationAsksForANewConnection) {
    setPages(10, 10);
    app->click(ops, TABOPS_PAGEERASE);
    ASSERT_TRUE(waitForPopup(kEraseFailed));
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    EXPECT_EQ(0, sysReady());
    loadImage(Pattern(16));
    ui().clearPopups();
    target().clear_commands();
    setPages(1, 1);
    for (const int button : {TABOPS_CHIPERASE, TABOPS_PAGEERASE, TABOPS_WRITE, TABOPS_GO,
                             TABOPS_CHIPREAD, TABOPS_PAGEREAD, TABOPS_CHECKBLANK}) {
        SCOPED_TRACE(button);
        ui().clearPopups();
        app->click(ops, button);
        const auto shown = popups();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(std::string(kWarning) + "|" + kNoTarget, shown.back());
    }
    ui().waitIdle();
    EXPECT_TRUE(target().commands().empty());
    EXPECT_TRUE(untouched(0, 64 * 1024));
}

class EveryPageOfA256PagePart : public Session {};

// A count byte of 0xFF is the global erase: 256 pages go as 255 and 1.
TEST_F(EveryPageOfA256PagePart, GoInTwoFramesNeverAsTheGlobalErase) {
    start("f103re");
    ASSERT_TRUE(target().load_flash(0x08000000, Pattern(512 * 1024)));
    connect();
    target().clear_commands();
    ui().setValue(ops, TABOPS_STARTPAGE, 0);
    ui().setValue(ops, TABOPS_ENDPAGE, 255);
    app->click(ops, TABOPS_PAGEERASE);
    ASSERT_TRUE(waitForStatus(kErased));
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    std::vector<std::uint32_t> pageCounts;
    for (const auto& command : target().commands()) {
        if (command.command == 0x43) {
            EXPECT_TRUE(command.acknowledged);
            pageCounts.push_back(command.length.value_or(0));
        }
    }
    EXPECT_EQ((std::vector<std::uint32_t>{255, 1}), pageCounts);
    const auto flash = target().flash();
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_TRUE(popups().empty());
}

}  // namespace
}  // namespace e2e
