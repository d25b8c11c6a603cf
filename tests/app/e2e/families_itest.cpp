// One part of every simulated family through the window: identify, erase a
// unit range and the whole chip, blank check, program, read back and Go, over
// RFC 2217 and over a pseudo-terminal.
#include <algorithm>
#include <cstdio>
#include <thread>

#include "ChipLoad.h"
#include "device_table.h"
#include "e2e_session.h"
#include "session.h"

namespace e2e {
namespace {

constexpr char kErased[] = "FLASH擦除成功！！！";
constexpr char kBlank[] = "Flash查空完毕！";
constexpr char kReadDone[] = "Flash读取完成！！！";
constexpr char kRunning[] = "程序开始运行！！！";

struct Case {
    const char* part;
    apptest::Link link;
};

std::string Hex(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (const auto byte : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", byte);
        text += pair;
    }
    return text;
}

// Start offsets of the part's erase units, as the simulator lays them out.
std::vector<std::size_t> UnitStarts(const stm32sim::Product& product) {
    std::vector<std::size_t> starts;
    std::size_t at = 0;
    if (product.uniform_pages()) {
        for (std::uint32_t i = 0; i <= product.page_count(); i++, at += product.page_bytes) {
            starts.push_back(at);
        }
        return starts;
    }
    for (std::uint32_t bank = 0; bank < product.banks; bank++) {
        for (const auto& run : product.sectors) {
            for (std::uint32_t i = 0; i < run.count; i++, at += run.bytes) {
                starts.push_back(at);
            }
        }
    }
    starts.push_back(at);
    return starts;
}

class Family : public Session, public ::testing::WithParamInterface<Case> {
  protected:
    bool all(std::size_t from, std::size_t to, std::uint8_t value) {
        const auto flash = target().flash();
        return std::all_of(flash.begin() + static_cast<long>(from),
                           flash.begin() + static_cast<long>(to),
                           [&](std::uint8_t b) { return b == value; });
    }
    bool untouched(const std::vector<std::uint8_t>& pattern, std::size_t from, std::size_t to) {
        const auto flash = target().flash();
        return std::equal(flash.begin() + static_cast<long>(from),
                          flash.begin() + static_cast<long>(to),
                          pattern.begin() + static_cast<long>(from));
    }
    void waitIdle() {
        ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    }
    std::uint8_t lastEraseCommand() {
        const auto commands = target().commands();
        for (auto it = commands.rbegin(); it != commands.rend(); ++it) {
            if (it->command == 0x43 || it->command == 0x44) {
                return it->command;
            }
        }
        return 0;
    }
};

TEST_P(Family, IdentifiesErasesProgramsReadsBackAndRuns) {
    start(GetParam().part, {}, GetParam().link);
    const stm32sim::Product product = target().product();
    const std::size_t flashBytes = product.flash_bytes;
    const auto pattern = Pattern(flashBytes, 3);
    ASSERT_TRUE(target().load_flash(0x08000000, pattern));
    connect();

    const isp::DeviceInfo* row = isp::DeviceTable::builtin().find(product.pid);
    ASSERT_NE(nullptr, row);
    EXPECT_EQ(row->name + " (" + row->family + ")", ui().text(ops, TABOPS_DEVICE));
    char pid[8];
    std::snprintf(pid, sizeof pid, "%04X", product.pid);
    EXPECT_EQ(pid, ui().text(ops, TABOPS_PID));
    EXPECT_EQ(std::to_string(flashBytes / 1024), ui().text(ops, TABOPS_FLASHSIZE));
    // RAM is not readable from the chip: the table gives the largest part of the ID.
    EXPECT_EQ(std::to_string(row->ramSize / 1024), ui().text(ops, TABOPS_RAMSIZE));
    EXPECT_EQ(Hex(target().unique_id()), ui().text(ops, TABOPS_UID));
    const auto log = this->log();
    EXPECT_NE(log.end(), std::find(log.begin(), log.end(),
                                   "芯片型号：" + row->name + " (" + row->family + ")"));
    const std::uint8_t eraseCode = product.family->extended_erase() ? 0x44 : 0x43;
    // Erased flash reads 0x00 on the L0 and L1: erase, blank check and the
    // image's tail all go by the table's value.
    const std::uint8_t erased = row->erasedByte;
    EXPECT_EQ(product.family->erased_byte, erased);

    // Units 1 and 2 erased, their neighbours kept.
    const auto units = UnitStarts(product);
    ASSERT_GT(units.size(), 4u);
    ui().setValue(ops, TABOPS_STARTPAGE, 1);
    ui().setValue(ops, TABOPS_ENDPAGE, 2);
    target().clear_commands();
    app->click(ops, TABOPS_PAGEERASE);
    ASSERT_TRUE(waitForStatus(kErased)) << status();
    waitIdle();
    EXPECT_EQ(eraseCode, lastEraseCommand());
    EXPECT_TRUE(untouched(pattern, 0, units[1]));
    EXPECT_TRUE(all(units[1], units[3], erased));
    EXPECT_TRUE(untouched(pattern, units[3], units[4]));

    // A unit past the part's last is refused before anything is sent.
    ui().setValue(ops, TABOPS_STARTPAGE, 0);
    ui().setValue(ops, TABOPS_ENDPAGE, static_cast<int>(units.size() - 1));
    target().clear_commands();
    app->click(ops, TABOPS_PAGEERASE);
    EXPECT_TRUE(target().commands().empty());
    app->ui().clearPopups();

    ui().queuePopupAnswer(1);
    app->click(ops, TABOPS_CHIPERASE);
    ASSERT_TRUE(waitForStatus(kErased)) << status();
    waitIdle();
    EXPECT_EQ(eraseCode, lastEraseCommand());
    EXPECT_TRUE(all(0, flashBytes, erased));

    // Every block of the flash is read: a large part takes a while on a
    // loaded machine.
    app->click(ops, TABOPS_CHECKBLANK);
    ASSERT_TRUE(waitForStatus(kBlank, kLong + std::chrono::milliseconds(flashBytes / 1024 * 300)))
        << status();
    waitIdle();

    const std::size_t imageBytes = std::min<std::size_t>(flashBytes, 64 * 1024);
    const auto image = Pattern(imageBytes, 5);
    loadImage(image);
    program();
    const auto flash = target().flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_TRUE(all(imageBytes, flashBytes, erased));

    // Unit 0 read back into the log. A read starts with a reset and a
    // synchronisation; a pseudo-terminal carries no reset, so the simulated
    // chip takes the 0x7F as a new session only after a quiet spell.
    if (GetParam().link == apptest::Link::kPty) {
        std::this_thread::sleep_for(apptest::kPtyResyncIdle * 2);
    }
    ui().setValue(ops, TABOPS_STARTPAGE, 0);
    ui().setValue(ops, TABOPS_ENDPAGE, 0);
    app->click(ops, TABOPS_PAGEREAD);
    ASSERT_TRUE(waitForStatus(kReadDone)) << status();
    waitIdle();
    auto shown = logAfter("开始分页读取FLASH信息...");
    ASSERT_FALSE(shown.empty());
    shown.pop_back();  // the read's end
    ASSERT_EQ(units[1] / 16, shown.size());
    for (std::size_t i = 0; i < shown.size(); i += 97) {
        EXPECT_EQ(DumpLine(static_cast<std::uint32_t>(0x08000000 + 16 * i), flash.data() + 16 * i),
                  shown[i])
            << i;
    }
    EXPECT_EQ(DumpLine(static_cast<std::uint32_t>(0x08000000 + units[1] - 16),
                       flash.data() + units[1] - 16),
              shown.back());

    app->click(ops, TABOPS_GO);
    ASSERT_TRUE(waitForStatus(kRunning)) << status();
    EXPECT_EQ(std::vector<std::string>{std::string("|") + kWriteDone}, popups());
}

class UnknownPart : public Session {};

// A product ID the table does not know is shown by number; nothing that
// needs the flash layout is sent.
TEST_F(UnknownPart, IsShownByNumberAndEveryOperationNeedingGeometryRefuses) {
    stm32sim::Product product = *stm32sim::find_product("f407vg");
    product.pid = 0x4FE;
    start(product);
    loadImage(Pattern(1024));
    connect();
    EXPECT_EQ("未知芯片 (产品ID 0x4FE)", ui().text(ops, TABOPS_DEVICE));
    EXPECT_EQ("04?>", ui().text(ops, TABOPS_PID));
    EXPECT_EQ("", ui().text(ops, TABOPS_FLASHSIZE));
    EXPECT_EQ(1, sysReady());
    // Get ID, then Get for the erase command: nothing that needs the layout.
    const auto commands = target().commands();
    ASSERT_EQ(4u, commands.size());
    EXPECT_EQ(0x02, commands[2].command);
    EXPECT_EQ(0x00, commands[3].command);

    const std::string refusal =
        std::string(kWarning) +
        "|未知芯片（产品ID 0x4FE），没有它的FLASH布局，无法执行此操作！！！";
    for (const int control : {TABOPS_CHIPERASE, TABOPS_PAGEERASE, TABOPS_WRITE, TABOPS_CHIPREAD,
                              TABOPS_PAGEREAD, TABOPS_CHECKBLANK}) {
        SCOPED_TRACE(control);
        target().clear_commands();
        app->ui().clearPopups();
        ui().queuePopupAnswer(1);  // the whole-chip erase's question
        app->click(ops, control);
        EXPECT_TRUE(target().commands().empty());
        const auto shown = popups();
        ASSERT_FALSE(shown.empty());
        EXPECT_EQ(refusal, shown.back());
    }
}

std::vector<Case> EveryFamilyOnBothLinks() {
    std::vector<Case> cases;
    for (const char* part : {"f030r8", "f103c8", "f205rb", "f303re", "f407vg", "f746zg", "g071rb",
                             "g474re", "h743zi", "l053r8", "l152re", "l476rg", "wb55rg"}) {
        cases.push_back({part, apptest::Link::kRfc2217});
        cases.push_back({part, apptest::Link::kPty});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(EveryFamily, Family, ::testing::ValuesIn(EveryFamilyOnBothLinks()),
                         [](const auto& testCase) {
                             return std::string(testCase.param.part) +
                                    (testCase.param.link == apptest::Link::kPty ? "_pty"
                                                                                : "_rfc2217");
                         });

}  // namespace
}  // namespace e2e
