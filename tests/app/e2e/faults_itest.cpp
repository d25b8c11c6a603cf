// Replies cut into pieces and noise on the line: every operation either
// completes with the right bytes or fails with its message; none reports
// success over wrong flash contents.
#include <algorithm>

#include "ChipLoad.h"
#include "e2e_session.h"
#include "session.h"

namespace e2e {
namespace {

constexpr char kReadDone[] = "Flash读取完成！！！";

class Faults : public Session {
  protected:
    // The bytes of the hex lines shown after `marker`.
    std::vector<std::uint8_t> shownBytes(const std::string& marker) {
        std::vector<std::uint8_t> bytes;
        for (const auto& line : logAfter(marker)) {
            // "08000010:" and 16 bytes as "FF " pairs, then their text.
            if (line.size() < 9 + 47 || line[8] != ':') {
                continue;
            }
            for (std::size_t i = 0; i < 16; i++) {
                bytes.push_back(
                    static_cast<std::uint8_t>(std::stoi(line.substr(9 + 3 * i, 2), nullptr, 16)));
            }
        }
        return bytes;
    }
    bool anyWarning() {
        const auto shown = popups();
        return std::any_of(shown.begin(), shown.end(), [](const std::string& popup) {
            return popup.rfind(std::string(kWarning) + "|", 0) == 0;
        });
    }
};

TEST_F(Faults, RepliesInPiecesAreGatheredWhole) {
    stm32sim::FaultConfig faults;
    faults.split_pieces = 3;
    faults.split_gap = std::chrono::milliseconds(3);
    start("f103c8", faults);
    connect();
    EXPECT_EQ("V2.2", ui().text(ops, TABOPS_VERSION));
    EXPECT_EQ("0410", ui().text(ops, TABOPS_PID));
    EXPECT_EQ("64", ui().text(ops, TABOPS_FLASHSIZE));
    const auto image = Pattern(1000, 3);
    loadImage(image);
    program();
    const auto flash = target().flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    ui().setValue(ops, TABOPS_STARTPAGE, 0);
    ui().setValue(ops, TABOPS_ENDPAGE, 0);
    app->click(ops, TABOPS_PAGEREAD);
    ASSERT_TRUE(waitForStatus(kReadDone));
    const auto shown = shownBytes("开始分页读取FLASH信息...");
    ASSERT_EQ(1024u, shown.size());
    EXPECT_TRUE(std::equal(shown.begin(), shown.end(), flash.begin()));
    EXPECT_FALSE(anyWarning());
}

// Noise before some replies: a noise byte ahead of an ACK reads as a
// refusal. Whatever happens, success is only ever reported over the right
// bytes, and a failure always says so.
TEST_F(Faults, NoiseNeverPassesForSuccess) {
    stm32sim::FaultConfig faults;
    faults.noise_fraction = 0.05;
    start("f103c8", faults);
    int programmed = 0;
    int read = 0;
    for (int round = 0; round < 6; round++) {
        SCOPED_TRACE(round);
        ui().clearPopups();
        ui().setValue(ops, TABOPS_CHIP, 0);
        pressConnect();
        if (!ui().waitUntil([&] { return ui().intValue(ops, TABOPS_CHIP) != 0 || anyWarning(); },
                            kLong) ||
            ui().intValue(ops, TABOPS_CHIP) == 0 ||
            !ui().waitUntil([&] { return ispMode() == 0; })) {
            ASSERT_TRUE(anyWarning()) << status();
            pressConnect();
            continue;
        }
        const auto image = Pattern(700, static_cast<unsigned>(round));
        loadImage(image);
        ui().clearPopups();
        app->click(ops, TABOPS_WRITE);
        ASSERT_TRUE(ui().waitUntil(
            [&] {
                const auto shown = ui().popups();
                return std::any_of(shown.begin(), shown.end(), [](const auto& p) {
                    return p.message == kWriteDone || p.title == kWarning;
                });
            },
            kLong))
            << status();
        if (waitForPopup(kWriteDone, 0ms)) {
            const auto flash = target().flash();
            ASSERT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
            programmed++;
            ui().clearPopups();
            ui().setValue(ops, TABOPS_STARTPAGE, 0);
            ui().setValue(ops, TABOPS_ENDPAGE, 0);
            app->click(ops, TABOPS_PAGEREAD);
            ASSERT_TRUE(
                ui().waitUntil([&] { return status() == kReadDone || anyWarning(); }, kLong));
            if (status() == kReadDone) {
                const auto shown = shownBytes("开始分页读取FLASH信息...");
                ASSERT_EQ(1024u, shown.size());
                EXPECT_TRUE(std::equal(shown.begin(), shown.end(), flash.begin()));
                read++;
            }
        }
        pressConnect();  // disconnect
        ASSERT_FALSE(portOpen());
    }
    // The noise is light: most rounds get through.
    EXPECT_GT(programmed, 0);
    EXPECT_GT(read, 0);
}

}  // namespace
}  // namespace e2e
