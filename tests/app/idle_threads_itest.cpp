// With nothing to do every thread of the program sleeps: a thread that looks
// for work on a short period shows up as context switches while the program
// stands idle. Counted per thread by the kernel, not timed.
#include <gtest/gtest.h>

#include "ChipLoad.h"
#include "TideComm.h"
#include "app_harness.h"
#include "pty_pair.h"
#include "thread_switches.h"

namespace {

// A handful in a second at most; a thread polling even ten times a second is caught.
constexpr long kMostSwitchesPerIdleSecond = 5;

TEST(IdleThreads, SleepWithThePanelOpenAndWithTheTerminalPortOpenAndSilent) {
    chipload::test::PtyPair pty;
    apptest::MapPort(7, pty.slavePath());
    apptest::AppHarness app;
    const int main = app.panels().main;
    app.commit(main, PANEL_COMPORT, 7);
    EXPECT_EQ("", apptest::ThreadsAwake(1, kMostSwitchesPerIdleSecond)) << "panel open, no port";

    app.click(main, PANEL_OPENCLOSE);
    ASSERT_TRUE(app.onUi([] { return TideComm_GetPortOpen(7) != 0; }));
    EXPECT_EQ("", apptest::ThreadsAwake(1, kMostSwitchesPerIdleSecond))
        << "terminal port open and silent";
}

}  // namespace
