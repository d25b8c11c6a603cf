// What the window takes from the part rather than from the file or the table:
// the erase command its bootloader lists in the Get reply, the write unit an
// image must start on, and the value erased flash reads.
#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>

#include "ChipLoad.h"
#include "e2e_session.h"
#include "hex_writer.h"

namespace e2e {
namespace {

constexpr std::uint32_t kFlash = 0x08000000;

// One HEX file of several stretches of data (each at its address).
std::string HexOf(
    std::initializer_list<std::pair<std::uint32_t, std::vector<std::uint8_t>>> parts) {
    const std::string end = ":00000001FF\n";
    std::string text;
    for (const auto& [address, bytes] : parts) {
        const std::string part = isp::toIntelHex(address, bytes);
        text += part.substr(0, part.size() - end.size());
    }
    return text + end;
}

std::vector<std::uint8_t> EraseCommandsSent(const std::vector<stm32sim::CommandRecord>& commands) {
    std::vector<std::uint8_t> codes;
    for (const auto& record : commands) {
        if (record.command == 0x43 || record.command == 0x44) {
            codes.push_back(record.command);
        }
    }
    return codes;
}

class PartFit : public Session {
  protected:
    void startWithEraseCommand(const char* part, std::uint8_t code) {
        board = std::make_unique<apptest::SimBoard>(
            kCom, *stm32sim::find_product(part), stm32sim::FaultConfig{}, apptest::Link::kRfc2217,
            false, std::vector<std::uint32_t>{}, code);
        startProgram();
    }
    void loadHex(const std::string& text) {
        const std::string path = files.write("app.hex", text);
        ui().setValue(isp, TABISP_FILETYPE, 0);
        ui().queueFileAnswer(path);
        app->click(isp, TABISP_LOADFILE);
        ASSERT_EQ("文件读取完成", status());
        app->ui().clearPopups();
    }
    bool flashIs(std::size_t from, std::size_t to, std::uint8_t value) {
        const auto flash = target().flash();
        return std::all_of(flash.begin() + static_cast<long>(from),
                           flash.begin() + static_cast<long>(to),
                           [&](std::uint8_t b) { return b == value; });
    }
    bool flashHolds(std::size_t at, const std::vector<std::uint8_t>& bytes) {
        const auto flash = target().flash();
        return std::equal(bytes.begin(), bytes.end(), flash.begin() + static_cast<long>(at));
    }
};

// A bootloader whose Get reply lists Erase where the table expects Extended
// Erase for its product ID: the window erases with what the chip offers.
TEST_F(PartFit, EraseCommandComesFromTheGetReplyNotTheTable) {
    startWithEraseCommand("f205rb", 0x43);
    connect();
    const auto identification = target().commands();
    ASSERT_GE(identification.size(), 4u);
    EXPECT_EQ(0x00, identification[3].command);  // Get, right after Get ID
    const auto shown = log();
    EXPECT_NE(shown.end(), std::find(shown.begin(), shown.end(), "Bootloader擦除命令：0x43"));

    ui().setValue(ops, TABOPS_STARTPAGE, 1);
    ui().setValue(ops, TABOPS_ENDPAGE, 1);
    target().clear_commands();
    app->click(ops, TABOPS_PAGEERASE);
    ASSERT_TRUE(waitForStatus("FLASH擦除成功！！！")) << status();
    EXPECT_EQ(std::vector<std::uint8_t>{0x43}, EraseCommandsSent(target().commands()));

    const auto image = Pattern(2048, 9);
    loadImage(image);
    target().clear_commands();
    program();
    EXPECT_EQ(std::vector<std::uint8_t>{0x43}, EraseCommandsSent(target().commands()));
    EXPECT_TRUE(flashHolds(0, image));
}

// A Get reply without either erase command: erasing and programming are
// refused with the reason, and nothing is sent.
TEST_F(PartFit, BootloaderWithoutAnEraseCommandIsRefusedClearly) {
    startWithEraseCommand("g071rb", 0);
    connect();
    const std::string reason =
        "Bootloader既不提供Erase（0x43）也不提供Extended Erase（0x44）命令，无法擦除！！！";
    const auto shown = log();
    EXPECT_NE(shown.end(), std::find(shown.begin(), shown.end(), reason));
    loadImage(Pattern(1024));
    for (const int control : {TABOPS_CHIPERASE, TABOPS_PAGEERASE, TABOPS_WRITE}) {
        SCOPED_TRACE(control);
        target().clear_commands();
        app->ui().clearPopups();
        ui().queuePopupAnswer(1);  // the whole-chip erase's question
        app->click(ops, control);
        EXPECT_TRUE(target().commands().empty());
        const auto popped = popups();
        ASSERT_FALSE(popped.empty());
        EXPECT_EQ(std::string(kWarning) + "|" + reason, popped.back());
    }
}

// The F1 keeps its exchange: no Get between Get ID and the identification read.
TEST_F(PartFit, F1IdentificationSendsNoGet) {
    start("f103c8");
    connect();
    const auto commands = target().commands();
    ASSERT_EQ(4u, commands.size());
    EXPECT_EQ(0x02, commands[2].command);
    EXPECT_EQ(0x11, commands[3].command);
    EXPECT_EQ(0x1FFFF7E0u, commands[3].address.value_or(0));
}

// A G0 writes double words: a file starting 5 bytes in is written from the
// flash base with erased bytes in front, and the gap stays erased.
TEST_F(PartFit, ImageOffTheWriteUnitIsPaddedInFront) {
    start("g071rb");
    connect();
    const auto head = Pattern(11, 4);
    const auto tail = Pattern(4, 5);
    loadHex(HexOf({{kFlash + 5, head}, {kFlash + 0x100, tail}}));
    target().clear_commands();
    program();
    EXPECT_TRUE(flashIs(0, 5, 0xFF));
    EXPECT_TRUE(flashHolds(5, head));
    EXPECT_TRUE(flashIs(5 + head.size(), 0x100, 0xFF));
    EXPECT_TRUE(flashHolds(0x100, tail));
    const auto commands = target().commands();
    const auto firstWrite = std::find_if(commands.begin(), commands.end(),
                                         [](const auto& c) { return c.command == 0x31; });
    ASSERT_NE(commands.end(), firstWrite);
    EXPECT_EQ(kFlash, firstWrite->address.value_or(0));
}

// Erased L0 flash reads 0x00: what the file leaves out is written as 0x00,
// and the blank check takes 0x00 as erased.
TEST_F(PartFit, L0GapsAndBlankCheckUseZeroAsErased) {
    start("l053r8");
    connect();
    ui().queuePopupAnswer(1);
    app->click(ops, TABOPS_CHIPERASE);
    ASSERT_TRUE(waitForStatus("FLASH擦除成功！！！")) << status();
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    app->click(ops, TABOPS_CHECKBLANK);
    ASSERT_TRUE(waitForStatus("Flash查空完毕！")) << status();
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));

    const auto low = Pattern(6, 7);
    const auto high = Pattern(8, 8);
    loadHex(HexOf({{kFlash + 0x12, low}, {kFlash + 0x40, high}}));
    program();
    EXPECT_TRUE(flashIs(0, 0x12, 0x00));
    EXPECT_TRUE(flashHolds(0x12, low));
    EXPECT_TRUE(flashIs(0x12 + low.size(), 0x40, 0x00));
    EXPECT_TRUE(flashHolds(0x40, high));

    ui().clearPopups();
    app->click(ops, TABOPS_CHECKBLANK);
    ASSERT_TRUE(waitForPopup("芯片不空，请重新擦除！")) << status();
}

}  // namespace
}  // namespace e2e
