// A board that stops answering, or a link that goes away, ends every
// operation with its own failure within seconds: a log line names the
// command and address that got no answer, the progress returns to 0, and
// the operator can connect again once the board is back.
#include <algorithm>

#include "ChipLoad.h"
#include "e2e_session.h"

namespace e2e {
namespace {

constexpr char kEraseFailed[] = "擦除操作失败，请检查boot0引脚并手动复位电路！！！";
constexpr char kWriteFailed[] = "程序烧写操作失败，请检查boot0引脚并手动复位电路！！！";
constexpr char kBlockFailed[] = "烧写操作失败，请检查boot0引脚并手动复位电路！！！";
constexpr char kReadCommandFailed[] = "读Flash操作失败，请检查boot0引脚并手动复位电路！！！";
constexpr char kReadFailed[] = "读取操作失败，请检查boot0引脚并手动复位电路！！！";
constexpr char kGoFailed[] = "运行（GO）操作失败，请检查boot0引脚并手动复位电路！！！";
constexpr char kNoAnswer[] = "目标板无应答：";

struct Unanswered {
    const char* name;
    int button;
    const char* failure;
    const char* logged;  // what the log line names
};

void PrintTo(const Unanswered& param, std::ostream* out) {
    *out << param.name;
}

class Timeouts : public Session, public ::testing::WithParamInterface<Unanswered> {
  protected:
    std::string noAnswerLine() const {
        for (const auto& line : log()) {
            if (line.rfind(kNoAnswer, 0) == 0) {
                return line;
            }
        }
        return {};
    }
    // Disconnect, then connect again: identification shown anew.
    void reconnect() {
        pressConnect();
        ASSERT_FALSE(portOpen());
        connect();
    }
};

TEST_P(Timeouts, BoardGoneEndsTheOperationAndReconnectWorks) {
    const auto& op = GetParam();
    start("f103c8");
    connect();
    loadImage(Pattern(3000));
    ui().setValue(ops, TABOPS_STARTPAGE, 1);
    ui().setValue(ops, TABOPS_ENDPAGE, 2);
    ui().setValue(ops, TABOPS_PROGRESS, 7);
    board->unplug();
    app->click(ops, op.button);
    ASSERT_TRUE(waitForPopup(op.failure)) << status();
    EXPECT_NE(std::string::npos, noAnswerLine().find(op.logged)) << noAnswerLine();
    EXPECT_EQ(0, ui().intValue(ops, TABOPS_PROGRESS));
    board->plugBackIn();
    reconnect();
    EXPECT_EQ("64", ui().text(ops, TABOPS_FLASHSIZE));
}

INSTANTIATE_TEST_SUITE_P(
    EveryOperation, Timeouts,
    ::testing::Values(
        Unanswered{"ChipErase", TABOPS_CHIPERASE, kEraseFailed, "命令0x43"},
        Unanswered{"PageErase", TABOPS_PAGEERASE, kEraseFailed, "命令0x43，地址0x08000400"},
        Unanswered{"Program", TABOPS_WRITE, kEraseFailed, "命令0x43"},
        Unanswered{"ChipRead", TABOPS_CHIPREAD, kReadCommandFailed, "命令0x7F"},
        Unanswered{"PageRead", TABOPS_PAGEREAD, kReadCommandFailed, "命令0x7F"},
        Unanswered{"BlankCheck", TABOPS_CHECKBLANK, kReadFailed, "命令0x11，地址0x08000000"},
        Unanswered{"Go", TABOPS_GO, kGoFailed, "命令0x21，地址0x08000000"}),
    [](const auto& param) { return std::string(param.param.name); });

// The connection drops in the middle of the data blocks: the run fails
// naming the block that got no answer, and after a reconnect the same image
// programs completely.
TEST_F(Timeouts, DroppedMidProgrammingFailsThenProgramsAfterReconnect) {
    stm32sim::FaultConfig faults;
    faults.drop_after_bytes = 120;  // identification, erase, then a few blocks
    start("f103c8", faults);
    connect();
    const auto image = Pattern(8 * 1024, 5);
    loadImage(image);
    app->click(ops, TABOPS_WRITE);
    ASSERT_TRUE(ui().waitUntil(
        [&] { return waitForPopup(kBlockFailed, 0ms) || waitForPopup(kWriteFailed, 0ms); }, kLong))
        << status();
    EXPECT_FALSE(waitForPopup(kWriteDone, 0ms));
    EXPECT_NE(std::string::npos, noAnswerLine().find("命令0x31，地址0x0800")) << noAnswerLine();
    EXPECT_EQ(0, ui().intValue(ops, TABOPS_PROGRESS));
    reconnect();
    program();
    const auto flash = target().flash();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

}  // namespace
}  // namespace e2e
