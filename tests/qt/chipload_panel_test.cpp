// ChipLoad's own panel file in the Qt window: every control drawn where the
// file puts it, inside its page, and the connect button reaching its callback.
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTabWidget>
#include <QTest>

#include <string>

#include "ChipLoad.h"
#include "panel_callbacks.h"
#include "qt_test_support.h"
#include "rte.h"
#include "rte_callbacks.h"
#include "rte_frontend.h"

namespace qt_test {
namespace {

class ChipLoadPanelTest : public QtFrontEndTest {
  protected:
    void SetUp() override {
        start(CHIPLOAD_PANEL_FILE, [] {
            const auto names = rte_qt::ReadPanelCallbackNames(CHIPLOAD_PANEL_FILE);
            rte_qt::RegisterCallbacks(names.controls, Ignore);
            rte_qt::RegisterCallbacks(names.closes, Ignore);
            RTE_RegisterCallback("DeveiceConnect", Record);
        });
    }

    static int Ignore(int, int, int, void*, int, int) { return 0; }
};

TEST_F(ChipLoadPanelTest, EveryControlIsDrawnInsideItsPage) {
    runUi([&] {
        int drawn = 0;
        for (const int panel : rte::Panels()) {
            const auto info = rte::Panel(panel);
            ASSERT_TRUE(info.has_value());
            for (const int id : info->controls) {
                const auto control = rte::Control(panel, id);
                ASSERT_TRUE(control.has_value());
                if (control->kind == rte::ControlKind::Timer || control->constant.empty()) {
                    continue;
                }
                QWidget* w = widget(control->constant.c_str());
                ASSERT_NE(w, nullptr) << control->constant;
                ++drawn;
                // Laid out by Qt, a page is smaller than its tab control:
                // nothing may be cut off at its edges.
                // Pages not on show are not laid out; they share their
                // stack's size.
                QWidget* page = w->parentWidget();
                auto* stack = qobject_cast<QStackedWidget*>(page->parentWidget());
                const QRect area({0, 0}, stack ? stack->size() : page->size());
                EXPECT_TRUE(area.contains(w->geometry()))
                    << control->constant << " lies outside " << info->constant;
            }
        }
        EXPECT_GT(drawn, 60);

        auto* outer = widget<QTabWidget>("PANEL_TAB");
        auto* inner = widget<QTabWidget>("TABISP_TAB");
        ASSERT_NE(outer, nullptr);
        ASSERT_NE(inner, nullptr);
        EXPECT_EQ(outer->count(), 3);
        EXPECT_EQ(inner->count(), 2);
        EXPECT_NE(widget<QProgressBar>("TABOPS_PROGRESS"), nullptr);
        EXPECT_TRUE(widget<QPlainTextEdit>("TABOPS_LOG")->isReadOnly());
        EXPECT_FALSE(widget<QPlainTextEdit>("TABTERM_SEND")->isReadOnly());
    });
}

TEST_F(ChipLoadPanelTest, TheConnectButtonRunsItsCallbackOnTheUserInterfaceThread) {
    runUi([&] {
        auto* connect = widget<QPushButton>("PANEL_CONNECT");
        ASSERT_NE(connect, nullptr);
        EXPECT_EQ(connect->text(), QStringLiteral("连接设备"));
        QTest::mouseClick(connect, Qt::LeftButton);
        ASSERT_TRUE(waitFor([] { return Recorder::instance().events().size() == 2; }));
        for (const RecordedEvent& event : Recorder::instance().events()) {
            EXPECT_EQ(event.panel, panel_);
            EXPECT_EQ(event.control, PANEL_CONNECT);
            EXPECT_EQ(event.thread, uiThread_);
        }
        EXPECT_EQ(Recorder::instance().events().back().event, EVENT_COMMIT);

        // The program renames and dims the button from the callback's thread.
        SetCtrlAttribute(panel_, PANEL_CONNECT, ATTR_LABEL_TEXT, "断开连接");
        SetCtrlAttribute(panel_, PANEL_CONNECT, ATTR_DIMMED, 1);
        EXPECT_TRUE(waitFor([&] { return !connect->isEnabled(); }));
        EXPECT_EQ(connect->text(), QStringLiteral("断开连接"));
    });
}

}  // namespace
}  // namespace qt_test
