// Every bootloader reply reaches the session the moment its last byte is in: no read of the
// port waits out the read interval, whichever way the port was opened. Counted by the serial
// library, so the guard holds on any machine load. The one exception is Get, whose length the
// bootloader announces only inside the reply: it ends by the interval, once per connect.
#include <algorithm>
#include <thread>

#include "ChipLoad.h"
#include "TideComm.h"
#include "e2e_session.h"

namespace e2e {
namespace {

struct Board {
    const char* product;
    apptest::Link link;
    bool terminalOpensPort;
};

class ReplyReads : public Session, public ::testing::WithParamInterface<Board> {};

TEST_P(ReplyReads, NoReplyWaitsForTheReadInterval) {
    const Board& run = GetParam();
    start(run.product, {}, run.link);
    if (run.terminalOpensPort) {
        app->click(main, PANEL_OPENCLOSE);
        ASSERT_TRUE(portOpen());
    }
    connect();
    loadImage(Pattern(4096));
    program();
    // A read starts with a reset, which a pseudo-terminal does not carry: the simulated chip
    // takes the synchronisation as a new session only after a quiet spell.
    if (run.link == apptest::Link::kPty) {
        std::this_thread::sleep_for(apptest::kPtyResyncIdle * 2);
    }
    ui().setValue(ops, TABOPS_STARTPAGE, 0);
    ui().setValue(ops, TABOPS_ENDPAGE, 1);
    app->click(ops, TABOPS_PAGEREAD);
    ASSERT_TRUE(waitForStatus("Flash读取完成！！！"));
    app->click(ops, TABOPS_CHECKBLANK);
    ASSERT_TRUE(waitForPopup("芯片不空，请重新擦除！"));
    // Identification, an erase, 16 blocks written, the read and the blank check's first block:
    // well over a hundred replies, none of them ended by the interval.
    const auto commands = target().commands();
    EXPECT_GT(commands.size(), 30u);
    const auto gets = std::count_if(commands.begin(), commands.end(),
                                    [](const auto& record) { return record.command == 0x00; });
    EXPECT_EQ(std::string(run.product) == "f103c8" ? 0 : 1, gets);
    EXPECT_EQ(gets, TideComm_GetIntervalEndedReads(kCom));
}

INSTANTIATE_TEST_SUITE_P(Links, ReplyReads,
                         ::testing::Values(Board{"f103c8", apptest::Link::kRfc2217, false},
                                           Board{"f103c8", apptest::Link::kPty, false},
                                           Board{"g071rb", apptest::Link::kRfc2217, false},
                                           Board{"f103c8", apptest::Link::kRfc2217, true}),
                         [](const auto& param) {
                             return std::string(param.param.product) +
                                    (param.param.link == apptest::Link::kPty ? "Pty" : "Rfc2217") +
                                    (param.param.terminalOpensPort ? "OpenedByTerminal" : "");
                         });

}  // namespace
}  // namespace e2e
