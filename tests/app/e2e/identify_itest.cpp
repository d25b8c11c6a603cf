// Connect and identify every simulated part; refusals of each step.
#include <algorithm>
#include <cstdio>

#include "ChipLoad.h"
#include "e2e_session.h"
#include "session.h"

namespace e2e {
namespace {

constexpr char kConnectFailed[] = "与目标板连接失败，请检查电路并重新复位目标板！！！";

struct Part {
    const char* name;
    const char* pid;
    const char* flashKb;
    const char* ramKb;
    int chipClass;
};

class Identify : public Session, public ::testing::WithParamInterface<Part> {};

TEST_P(Identify, ShowsVersionIdSizesUniqueIdAndClassThenIdles) {
    const Part part = GetParam();
    start(part.name);
    connect();
    EXPECT_EQ("V2.2", ui().text(ops, TABOPS_VERSION));
    EXPECT_EQ(part.pid, ui().text(ops, TABOPS_PID));
    EXPECT_EQ(part.flashKb, ui().text(ops, TABOPS_FLASHSIZE));
    EXPECT_EQ(part.ramKb, ui().text(ops, TABOPS_RAMSIZE));
    EXPECT_EQ(part.chipClass, ui().intValue(ops, TABOPS_CHIP));
    std::string uid;
    for (const auto byte : target().unique_id()) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", byte);
        uid += pair;
    }
    EXPECT_EQ(uid, ui().text(ops, TABOPS_UID));
    EXPECT_EQ("成功获取芯片全球唯一标识码！！！", status());
    EXPECT_EQ(1, sysReady());
    EXPECT_EQ(0, ui().attribute(main, PANEL_CONNECT, ATTR_DIMMED));
    const auto log = this->log();
    for (const char* line : {"获取Bootloader版本号...", "获取Product ID...",
                             "获取FLASH和RAM容量...", "获取芯片UID..."}) {
        EXPECT_NE(log.end(), std::find(log.begin(), log.end(), line)) << line;
    }
    const auto commands = target().commands();
    ASSERT_EQ(4u, commands.size());
    EXPECT_EQ(0x7F, commands[0].command);
    EXPECT_EQ(0x01, commands[1].command);
    EXPECT_EQ(0x02, commands[2].command);
    EXPECT_EQ(0x11, commands[3].command);
    EXPECT_EQ(0x1FFFF7E0u, commands[3].address.value_or(0));
    EXPECT_EQ(22u, commands[3].length.value_or(0));
    EXPECT_TRUE(popups().empty());
}

INSTANTIATE_TEST_SUITE_P(EveryPart, Identify,
                         ::testing::Values(Part{"f103c8", "0410", "64", "20", 3},
                                           Part{"f103c6", "0412", "32", "10", 2},
                                           Part{"f103cb", "0410", "128", "20", 4},
                                           Part{"f103rc", "0414", "256", "64", 5},
                                           Part{"f103rd", "0414", "384", "64", 6},
                                           Part{"f103re", "0414", "512", "64", 7},
                                           Part{"f100rb", "0420", "128", "8", 4}),
                         [](const auto& part) { return std::string(part.param.name); });

class Refusal : public Session {};

int Count(const std::vector<stm32sim::CommandRecord>& commands, std::uint8_t code) {
    return static_cast<int>(std::count_if(commands.begin(), commands.end(),
                                          [&](const auto& c) { return c.command == code; }));
}

// Get Version and Get ID refused: each re-synchronises, the third refusal
// gives up with the port left open and every operation refused.
TEST_F(Refusal, IdentificationStepsRefusedThriceGiveUpWithThePortOpen) {
    for (const std::uint8_t refused : {std::uint8_t{0x01}, std::uint8_t{0x02}}) {
        SCOPED_TRACE(static_cast<int>(refused));
        stm32sim::FaultConfig faults;
        faults.refuse_command = refused;
        start("f103c8", faults);
        pressConnect();
        ASSERT_TRUE(waitForPopup(kConnectFailed));
        ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
        EXPECT_EQ(std::vector<std::string>{std::string(kWarning) + "|" + kConnectFailed}, popups());
        EXPECT_EQ(3, Count(target().commands(), refused));
        EXPECT_TRUE(portOpen());
        EXPECT_EQ(0, sysReady());
        EXPECT_EQ(0, ui().attribute(main, PANEL_CONNECT, ATTR_DIMMED));
        EXPECT_EQ(0, ui().intValue(ops, TABOPS_CHIP));
        ui().clearPopups();
        app->click(ops, TABOPS_GO);
        EXPECT_EQ(std::vector<std::string>{std::string(kWarning) + "|" + kNoTarget}, popups());
        TearDown();
    }
}

// A refused synchronisation (every ACK turned into a NACK) retries with a
// reset each time and, on the third refusal, closes the port.
TEST_F(Refusal, SynchronisationRefusedThriceClosesThePort) {
    stm32sim::FaultConfig faults;
    faults.refuse_fraction = 1.0;
    start("f103c8", faults);
    pressConnect();
    ASSERT_TRUE(waitForPopup(kConnectFailed));
    ASSERT_TRUE(ui().waitUntil([&] { return !portOpen(); }, kLong));
    const auto shown = popups();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(std::string(kWarning) + "|" + kConnectFailed, shown.front());
    const int syncs = Count(target().commands(), 0x7F);
    EXPECT_GE(syncs, 3);
    EXPECT_LE(syncs, 4);  // the last reset's byte may leave before the port closes
    EXPECT_GE(target().reset_count(), 3u);
    EXPECT_EQ(0, sysReady());
    EXPECT_EQ(0, ispMode());
}

// A failed connection leaves the loaded program whole: after connecting to a
// board that answers, it programs exactly what was loaded.
TEST_F(Refusal, TheImageSurvivesAFailedConnection) {
    stm32sim::FaultConfig faults;
    faults.refuse_command = 0x02;
    start("f103c8", faults);
    const auto image = Pattern(300);
    loadImage(image);
    pressConnect();
    ASSERT_TRUE(waitForPopup(kConnectFailed));
    pressConnect();  // disconnect
    ASSERT_FALSE(portOpen());
    apptest::SimBoard good(kCom + 1);
    app->commit(main, PANEL_COMPORT, kCom + 1);
    pressConnect();
    ASSERT_TRUE(ui().waitUntil([&] { return ui().intValue(ops, TABOPS_CHIP) != 0; }, kLong));
    ASSERT_TRUE(ui().waitUntil([&] { return ispMode() == 0; }, kLong));
    program();
    const auto flash = good.target().flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    pressConnect();  // disconnect before the board goes
}

}  // namespace
}  // namespace e2e
