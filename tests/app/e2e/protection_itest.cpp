// Protected chips in the window: read protection named at connect (never the
// wiring) and lifted only when the operator confirms; write protection named
// when programming does not take; verify after programming; each unprotect
// followed by a reconnection of its own.
#include <algorithm>

#include "ChipLoad.h"
#include "e2e_session.h"
#include "operator_messages.h"

namespace e2e {
namespace {

constexpr char kReadLifted[] = "读保护已解除，FLASH已擦除，芯片已重新连接，可以烧写程序";
constexpr char kWriteLifted[] = "写保护已解除，芯片已重新连接，可以重新烧写程序";
constexpr int kLift = 1;
constexpr int kKeep = 2;

class Protected : public Session {
  protected:
    // The pop-up whose message begins with `lead`, as "title|message".
    std::string popupStarting(const std::string& lead) const {
        for (const auto& popup : ui().popups()) {
            if (popup.message.rfind(lead, 0) == 0) {
                return popup.title + "|" + popup.message;
            }
        }
        return "";
    }
    bool waitForPopupStarting(const std::string& lead) {
        return ui().waitUntil([&] { return !popupStarting(lead).empty(); }, kLong);
    }
    const rte::Headless& ui() const { return app->ui(); }
    using Session::ui;
};

class ReadProtected : public Protected, public ::testing::WithParamInterface<const char*> {};

TEST_P(ReadProtected, IsNamedAtConnectAndNothingIsLiftedWithoutTheOperator) {
    start(GetParam(), {}, apptest::Link::kRfc2217, true);
    ui().queuePopupAnswer(kKeep);
    pressConnect();
    ASSERT_TRUE(waitForPopupStarting(kReadProtectedText)) << status();
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    EXPECT_NE(std::string::npos, popupStarting(kReadProtectedText).find("擦除整个Flash"));
    for (const auto& popup : popups()) {
        EXPECT_EQ(std::string::npos, popup.find("电路并重新复位")) << popup;
        EXPECT_EQ(std::string::npos, popup.find("boot0")) << popup;
    }
    const auto log = this->log();
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(), kReadProtectedText));
    EXPECT_EQ(kReadProtectedText, status());
    EXPECT_TRUE(portOpen());
    EXPECT_TRUE(target().readout_protected()) << "nothing lifted without the operator";
    EXPECT_EQ(0, ui().attribute(main, PANEL_CONNECT, ATTR_DIMMED));
}

TEST_P(ReadProtected, UnprotectErasesReconnectsByItselfAndTheChipIsThenProgrammable) {
    start(GetParam(), {}, apptest::Link::kRfc2217, true);
    target().load_flash(0x08000000, Pattern(64, 3));
    ui().queuePopupAnswer(kLift);
    pressConnect();
    ASSERT_TRUE(waitForStatus(kReadLifted)) << status();
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    EXPECT_FALSE(target().readout_protected());
    const auto flash = target().flash();
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_GE(target().reset_count(), 2u) << "the chip reset after the unprotect";
    EXPECT_FALSE(ui().text(ops, TABOPS_FLASHSIZE).empty());
    EXPECT_FALSE(ui().text(ops, TABOPS_UID).empty());
    const auto log = this->log();
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(), kReadLifted));

    ui().clearPopups();
    const auto image = Pattern(1000, 5);
    loadImage(image);
    program();
    const auto written = target().flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), written.begin()));
}

TEST_F(Protected, TheUnprotectButtonAsksFirstAndSendsNothingWhenDeclined) {
    start("f103c8", {}, apptest::Link::kRfc2217, true);
    ui().queuePopupAnswer(kKeep);
    pressConnect();
    ASSERT_TRUE(waitForPopupStarting(kReadProtectedText));
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    ui().clearPopups();
    target().clear_commands();
    ui().queuePopupAnswer(kKeep);
    app->click(ops, TABOPS_READUNPROTECT);
    ASSERT_TRUE(ui().waitForPopups(1, kLong));
    EXPECT_NE(std::string::npos, popups().front().find("擦除整个Flash")) << popups().front();
    ui().waitIdle();
    EXPECT_TRUE(commandTexts().empty());
    EXPECT_TRUE(target().readout_protected());

    app->click(ops, TABOPS_READUNPROTECT);
    ASSERT_TRUE(waitForStatus(kReadLifted)) << status();
    EXPECT_FALSE(target().readout_protected());
}

INSTANTIATE_TEST_SUITE_P(Families, ReadProtected, ::testing::Values("f103c8", "f407vg", "g071rb"));

struct WriteCase {
    const char* product;
    std::uint32_t group;      // protected write-protection group
    std::size_t imageBytes;   // an image reaching into it
    std::uint32_t firstByte;  // its first address
};

class WriteProtected : public Protected, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(WriteProtected, ProgrammingNamesTheProtectionAndWriteUnprotectLiftsIt) {
    const WriteCase& c = GetParam();
    start(c.product, {}, apptest::Link::kRfc2217, false, {c.group});
    connect();
    const auto image = Pattern(c.imageBytes, 9);
    loadImage(image);
    app->click(ops, TABOPS_WRITE);
    ASSERT_TRUE(waitForPopupStarting("校验失败")) << status();
    const std::string popup = popupStarting("校验失败");
    char address[16];
    std::snprintf(address, sizeof address, "0x%08X", c.firstByte);
    EXPECT_NE(std::string::npos, popup.find(address)) << popup;
    EXPECT_NE(std::string::npos, popup.find("写保护组" + std::to_string(c.group))) << popup;
    EXPECT_NE(std::string::npos, popup.find("确认解除写保护吗")) << popup;
    EXPECT_EQ(std::string::npos, status().find("程序烧写完成")) << status();

    // The pop-up's first button lifts it; the session comes back by itself.
    ASSERT_TRUE(waitForStatus(kWriteLifted)) << status();
    EXPECT_EQ(0xFFFFFFFFu, target().write_protection());
    ui().clearPopups();
    program();
    const auto flash = target().flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

INSTANTIATE_TEST_SUITE_P(Families, WriteProtected,
                         ::testing::Values(WriteCase{"f103c8", 1, 12 * 1024, 0x08001000},
                                           WriteCase{"f407vg", 1, 24 * 1024, 0x08004000},
                                           WriteCase{"g071rb", 2, 8 * 1024, 0x08001000}));

// Some families refuse a whole-chip erase while any group is protected, so a
// difference outside the protected groups still names them.
TEST_F(Protected, ADifferenceOutsideTheProtectedGroupsStillNamesThem) {
    stm32sim::FaultConfig faults;
    faults.corrupt_programmed_byte = 0x08000010;
    start("f103c8", faults, apptest::Link::kRfc2217, false, {3});
    connect();
    loadImage(Pattern(256, 2));
    ui().queuePopupAnswer(kKeep);
    app->click(ops, TABOPS_WRITE);
    ASSERT_TRUE(waitForPopupStarting("校验失败：地址0x08000010")) << status();
    const std::string popup = popupStarting("校验失败");
    EXPECT_NE(std::string::npos, popup.find("写保护组3")) << popup;
    EXPECT_NE(std::string::npos, popup.find("确认解除写保护吗")) << popup;
    ui().waitIdle();
    EXPECT_NE(0xFFFFFFFFu, target().write_protection()) << "kept: the operator declined";
}

TEST_F(Protected, VerifyCatchesACorruptedByteAndTheStatusDoesNotClaimSuccess) {
    stm32sim::FaultConfig faults;
    faults.corrupt_programmed_byte = 0x08000123;
    start("f103c8", faults);
    connect();
    const auto image = Pattern(1024, 4);
    loadImage(image);
    app->click(ops, TABOPS_WRITE);
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "校验失败：地址0x08000123处FLASH为0x%02X，文件为0x%02X，烧写未成功！！！",
                  image[0x123] ^ 1, image[0x123]);
    ASSERT_TRUE(waitForPopup(expected)) << status();
    EXPECT_EQ(expected, status());
    const auto log = this->log();
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(), expected));
    EXPECT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    EXPECT_FALSE(waitForPopup(kWriteDone, std::chrono::milliseconds(0)));

    // Switched off, the same run is reported as written, unread.
    ui().clearPopups();
    ui().setValue(ops, TABOPS_VERIFY, 0);
    program();
    EXPECT_EQ("程序烧写完成", status());
}

}  // namespace
}  // namespace e2e
