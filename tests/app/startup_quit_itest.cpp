#include <gtest/gtest.h>

#include "ChipLoad.h"
#include "TideComm.h"
#include "app_harness.h"
#include "asynctimer.h"
#include "chipload_version.h"
#include "panel_handles.h"
#include "pty_pair.h"

namespace {

using apptest::AppHarness;
using namespace std::chrono_literals;

const char kFirstQuestion[] = "系统提示|请您确认是否退出(Y/N)?";
const char kSecondQuestion[] = "系统提示|请您再次确认是否退出(Y/N)?";

TEST(StartupQuit, PanelShowsItsPagesAndTheClockRuns) {
    AppHarness app;
    const auto& panels = app.panels();
    EXPECT_GT(panels.main, 0);
    EXPECT_EQ(panels.isp, app.onUi([] { return ispTabPanel; }));
    EXPECT_EQ(panels.term, app.onUi([] { return termTabPanel; }));
    EXPECT_EQ(panels.ops, app.onUi([] { return opsTabPanel; }));
    EXPECT_GT(app.onUi([] { return opsTab2Panel; }), 0);
    const int about = app.onUi([] { return thirdTabPanel; });
    EXPECT_GT(about, 0);
    EXPECT_EQ(app.ui().text(about, TABTHIRD_VERSION), CHIPLOAD_VERSION);
    // The window opens on its main action, not on a field with a blinking cursor.
    EXPECT_EQ(PANEL_CONNECT, GetActiveCtrl(panels.main));
    // The clock shows HH:MM:SS once its timer has ticked.
    EXPECT_TRUE(
        app.ui().waitUntil([&] { return app.ui().text(panels.main, PANEL_TIME).size() == 8; }, 3s));
    // The response timer exists, disabled, every 2 s.
    const int timer = app.onUi([] { return TimerID1; });
    int enabled = -1;
    double interval = 0;
    ASSERT_EQ(0, GetAsyncTimerAttribute(timer, TIMER_ATTR_ENABLED, &enabled));
    ASSERT_EQ(0, GetAsyncTimerAttribute(timer, TIMER_ATTR_INTERVAL, &interval));
    EXPECT_EQ(0, enabled);
    EXPECT_DOUBLE_EQ(2.0, interval);
}

TEST(StartupQuit, DecliningEitherConfirmationChangesNothing) {
    chipload::test::PtyPair pty;
    apptest::MapPort(3, pty.slavePath());
    AppHarness app;
    const auto& p = app.panels();
    app.commit(p.main, PANEL_COMPORT, 3);
    app.click(p.main, PANEL_OPENCLOSE);
    ASSERT_EQ(1, app.ui().intValue(p.main, PANEL_OPENLED));
    const int timer = app.onUi([] { return TimerID1; });

    app.ui().queuePopupAnswer(2);
    app.pressQuit();
    app.ui().waitIdle();
    app.ui().queuePopupAnswer(1);
    app.ui().queuePopupAnswer(2);
    app.pressQuit();
    app.ui().waitIdle();

    EXPECT_EQ((std::vector<std::string>{kFirstQuestion, kFirstQuestion, kSecondQuestion}),
              app.popupTexts());
    EXPECT_TRUE(app.running());
    EXPECT_TRUE(app.onUi([] { return TideComm_GetPortOpen(3); }));
    int enabled = -1;
    EXPECT_EQ(0, GetAsyncTimerAttribute(timer, TIMER_ATTR_ENABLED, &enabled));
    // The port still carries what the terminal sends.
    app.ui().setValue(p.term, TABTERM_SENDHEX, 1);
    app.ui().setValue(p.term, TABTERM_SEND, std::string("A5"));
    app.click(p.term, TABTERM_SENDBUTTON);
    EXPECT_EQ("\xA5", pty.read(1, 2s));
}

TEST(StartupQuit, QuitWithBothConfirmationsEndsCleanly) {
    chipload::test::PtyPair pty;
    apptest::MapPort(2, pty.slavePath());
    AppHarness app;
    const auto& p = app.panels();
    app.commit(p.main, PANEL_COMPORT, 2);
    app.click(p.main, PANEL_OPENCLOSE);
    ASSERT_TRUE(app.onUi([] { return TideComm_GetPortOpen(2); }));
    const int timer = app.onUi([] { return TimerID1; });

    app.ui().queuePopupAnswer(1);
    app.ui().queuePopupAnswer(1);
    app.click(p.main, PANEL_QUIT);
    ASSERT_TRUE(app.waitForExit());
    EXPECT_EQ(0, app.exitCode());
    EXPECT_EQ((std::vector<std::string>{kFirstQuestion, kSecondQuestion}), app.popupTexts());
    EXPECT_EQ(0, TideComm_GetPortOpen(2));
    // Quit discarded the timer and shutdown's second discard found it gone.
    EXPECT_EQ(TIMER_ERR_BAD_ID, DiscardAsyncTimer(timer));
    int enabled = 0;
    EXPECT_EQ(TIMER_ERR_BAD_ID, GetAsyncTimerAttribute(timer, TIMER_ATTR_ENABLED, &enabled));
}

TEST(StartupQuit, QuittingWithNoPortOpenAndClosingTheWindow) {
    AppHarness app;
    app.ui().queuePopupAnswer(1);
    app.ui().queuePopupAnswer(1);
    app.ui().closePanel(app.panels().main);
    ASSERT_TRUE(app.waitForExit());
    EXPECT_EQ(0, app.exitCode());
    EXPECT_EQ(2u, app.popupTexts().size());
}

}  // namespace
