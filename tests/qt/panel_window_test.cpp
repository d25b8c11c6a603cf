// The panel drawn as a window: every control kind, model changes made on any
// thread, and the operator's clicks and entries turned into engine events.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <thread>
#include <utility>

#include "led_widget.h"
#include "qt_test_support.h"
#include "rte.h"

namespace qt_test {
namespace {

using rte_qt::LedWidget;

bool hasEvent(int panel, int control, int event) {
    for (const RecordedEvent& e : Recorder::instance().events()) {
        if (e.panel == panel && e.control == control && e.event == event) {
            return true;
        }
    }
    return false;
}

QLabel* captionOf(QWidget* window, const QString& text) {
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (label->text() == text) {
            return label;
        }
    }
    return nullptr;
}

TEST_F(QtFrontEndTest, DrawsEachControlKindFromTheModel) {
    runUi([&] {
        EXPECT_EQ(window_->windowTitle(), QStringLiteral("测试面板"));
        EXPECT_EQ(window_->size(), QSize(640, 480));

        auto* go = widget<QPushButton>("MAIN_GO");
        ASSERT_NE(go, nullptr);
        EXPECT_EQ(go->text(), QStringLiteral("开始(&G)"));
        EXPECT_EQ(go->geometry(), QRect(10, 24, 100, 28));

        auto* open = widget<QPushButton>("MAIN_OPEN");
        ASSERT_NE(open, nullptr);
        EXPECT_TRUE(open->isCheckable());
        EXPECT_EQ(open->text(), QStringLiteral("打开串口"));
        ASSERT_NE(widget<QCheckBox>("MAIN_HEX"), nullptr);
        ASSERT_NE(widget<LedWidget>("MAIN_LED"), nullptr);
        EXPECT_FALSE(widget<LedWidget>("MAIN_LED")->isOn());

        auto* baud = widget<QSpinBox>("MAIN_BAUD");
        ASSERT_NE(baud, nullptr);
        EXPECT_EQ(baud->value(), 115200);
        EXPECT_EQ(baud->minimum(), 1200);
        auto* interval = widget<QDoubleSpinBox>("MAIN_INTERVAL");
        ASSERT_NE(interval, nullptr);
        EXPECT_EQ(interval->decimals(), 1);
        QLabel* baudCaption = captionOf(window_, QStringLiteral("波特率"));
        ASSERT_NE(baudCaption, nullptr);
        EXPECT_LE(baudCaption->geometry().bottom(), baud->geometry().top());

        ASSERT_NE(widget<QProgressBar>("MAIN_PROGRESS"), nullptr);
        ASSERT_NE(widget<QLineEdit>("MAIN_COUNT"), nullptr);
        EXPECT_TRUE(widget<QLineEdit>("MAIN_COUNT")->isReadOnly());
        EXPECT_EQ(widget<QLineEdit>("MAIN_COUNT")->text(), QStringLiteral("0"));
        EXPECT_TRUE(widget<QLineEdit>("MAIN_STATUS")->isReadOnly());
        EXPECT_FALSE(widget<QLineEdit>("MAIN_NAME")->isReadOnly());

        auto* parity = widget<QComboBox>("MAIN_PARITY");
        ASSERT_NE(parity, nullptr);
        EXPECT_EQ(parity->count(), 3);
        EXPECT_EQ(parity->currentText(), QStringLiteral("偶校验"));

        EXPECT_TRUE(widget<QPlainTextEdit>("MAIN_LOG")->isReadOnly());
        EXPECT_FALSE(widget<QPlainTextEdit>("MAIN_SEND")->isReadOnly());
        EXPECT_EQ(widget("MAIN_TIMER"), nullptr);

        auto* tabs = widget<QTabWidget>("MAIN_TAB");
        ASSERT_NE(tabs, nullptr);
        ASSERT_EQ(tabs->count(), 2);
        EXPECT_EQ(tabs->tabText(1), QStringLiteral("第二页"));
        auto* inner = widget<QTabWidget>("PAGEA_TAB");
        ASSERT_NE(inner, nullptr);
        EXPECT_EQ(inner->tabText(0), QStringLiteral("内页一"));
        EXPECT_EQ(tabs->widget(0)->objectName(), QStringLiteral("PAGEA"));
        EXPECT_NE(widget<LedWidget>("INNERA_LED"), nullptr);
        EXPECT_NE(window_->findChild<QWidget*>(QStringLiteral("INNERB")), nullptr);
    });
}

TEST_F(QtFrontEndTest, ChangesMadeOnAWorkerThreadRedrawTheWindow) {
    int page = 0, inner = 0;
    ASSERT_EQ(GetPanelHandleFromTabPage(panel_, MAIN_TAB, 0, &page), 0);
    ASSERT_EQ(GetPanelHandleFromTabPage(page, PAGEA_TAB, 0, &inner), 0);
    runUi([&] {
        std::thread worker([&] {
            SetCtrlAttribute(panel_, MAIN_GO, ATTR_DIMMED, 1);
            SetCtrlAttribute(panel_, MAIN_GO, ATTR_LABEL_TEXT, "停止(__S)");
            SetCtrlAttribute(panel_, MAIN_BAUD, ATTR_VISIBLE, 0);
            SetCtrlVal(panel_, MAIN_LED, 1);
            SetCtrlVal(panel_, MAIN_OPEN, 1);
            SetCtrlVal(panel_, MAIN_HEX, 1);
            SetCtrlAttribute(panel_, MAIN_PARITY, ATTR_CTRL_INDEX, 0);
            SetCtrlVal(panel_, MAIN_INTERVAL, 2.5);
            SetCtrlAttribute(panel_, MAIN_PROGRESS, ATTR_MAX_VALUE, 200);
            SetCtrlVal(panel_, MAIN_PROGRESS, 50);
            SetCtrlVal(panel_, MAIN_COUNT, 1234567);
            SetCtrlVal(panel_, MAIN_STATUS, "擦除完成");
            SetCtrlAttribute(panel_, MAIN_TAB, ATTR_TABS_VISIBLE, 0);
            SetCtrlVal(inner, INNERA_LED, 1);
        });
        worker.join();
        auto* go = widget<QPushButton>("MAIN_GO");
        auto* baud = widget<QSpinBox>("MAIN_BAUD");
        auto* progress = widget<QProgressBar>("MAIN_PROGRESS");
        auto* tabs = widget<QTabWidget>("MAIN_TAB");
        EXPECT_TRUE(waitFor([&] { return !go->isEnabled(); }));
        EXPECT_EQ(go->text(), QStringLiteral("停止(&S)"));
        EXPECT_TRUE(baud->isHidden());
        EXPECT_TRUE(captionOf(window_, QStringLiteral("波特率"))->isHidden());
        EXPECT_TRUE(widget<LedWidget>("MAIN_LED")->isOn());
        EXPECT_TRUE(widget<QPushButton>("MAIN_OPEN")->isChecked());
        EXPECT_EQ(widget<QPushButton>("MAIN_OPEN")->text(), QStringLiteral("关闭串口"));
        EXPECT_TRUE(widget<QCheckBox>("MAIN_HEX")->isChecked());
        EXPECT_EQ(widget<QComboBox>("MAIN_PARITY")->currentIndex(), 0);
        EXPECT_DOUBLE_EQ(widget<QDoubleSpinBox>("MAIN_INTERVAL")->value(), 2.5);
        EXPECT_EQ(progress->maximum(), 200);
        EXPECT_EQ(progress->value(), 50);
        EXPECT_EQ(widget<QLineEdit>("MAIN_COUNT")->text(), QStringLiteral("1234567"));
        EXPECT_EQ(widget<QLineEdit>("MAIN_STATUS")->text(), QStringLiteral("擦除完成"));
        EXPECT_TRUE(tabs->tabBar()->isHidden());
        EXPECT_TRUE(widget<LedWidget>("INNERA_LED")->isOn());

        // And back: nothing is left stuck in the state a change put it in.
        SetCtrlAttribute(panel_, MAIN_GO, ATTR_DIMMED, 0);
        SetCtrlAttribute(panel_, MAIN_BAUD, ATTR_VISIBLE, 1);
        SetCtrlAttribute(panel_, MAIN_TAB, ATTR_TABS_VISIBLE, 1);
        EXPECT_TRUE(waitFor([&] { return go->isEnabled() && !baud->isHidden(); }));
        EXPECT_FALSE(tabs->tabBar()->isHidden());
    });
}

TEST_F(QtFrontEndTest, NumbersBeyondTheOperatorLimitsShowUnclamped) {
    runUi([&] {
        // The program may store what the operator could not enter.
        SetCtrlVal(panel_, MAIN_BAUD, 250000);
        SetCtrlVal(panel_, MAIN_PROGRESS, 500);
        EXPECT_TRUE(waitFor([&] { return widget<QSpinBox>("MAIN_BAUD")->value() == 250000; }));
        EXPECT_EQ(widget<QProgressBar>("MAIN_PROGRESS")->value(), 100);
        SetCtrlAttribute(panel_, MAIN_PROGRESS, ATTR_MAX_VALUE, 0);
        SetCtrlVal(panel_, MAIN_PROGRESS, 0);
        // Equal limits must not turn the bar into a busy animation.
        EXPECT_TRUE(waitFor([&] { return widget<QProgressBar>("MAIN_PROGRESS")->maximum() == 1; }));
    });
}

TEST_F(QtFrontEndTest, TheActiveControlTakesTheKeyboardFocus) {
    runUi([&] {
        const std::pair<int, const char*> targets[] = {{MAIN_GO, "MAIN_GO"},
                                                       {MAIN_NAME, "MAIN_NAME"}};
        for (const auto& [id, constant] : targets) {
            QWidget* target = widget(constant);
            ASSERT_NE(target, nullptr);
            ASSERT_EQ(0, SetActiveCtrl(panel_, id));
            EXPECT_TRUE(waitFor([&] { return window_->focusWidget() == target; })) << constant;
        }
    });
}

TEST_F(QtFrontEndTest, ClicksRunTheCallbackOnTheUserInterfaceThread) {
    int page = 0;
    ASSERT_EQ(GetPanelHandleFromTabPage(panel_, MAIN_TAB, 0, &page), 0);
    runUi([&] {
        QTest::mouseClick(widget("MAIN_GO"), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return hasEvent(panel_, MAIN_GO, EVENT_COMMIT); }));
        const auto events = Recorder::instance().events();
        ASSERT_EQ(events.size(), 2u);
        EXPECT_EQ(events[0].event, EVENT_LEFT_CLICK);
        EXPECT_EQ(events[1].event, EVENT_COMMIT);
        EXPECT_EQ(events[0].thread, uiThread_);
        EXPECT_EQ(events[1].thread, uiThread_);

        // A toggle flips its value in the model before its commit runs.
        QTest::mouseClick(widget("MAIN_OPEN"), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return hasEvent(panel_, MAIN_OPEN, EVENT_COMMIT); }));
        int open = 0;
        GetCtrlVal(panel_, MAIN_OPEN, &open);
        EXPECT_EQ(open, 1);
        EXPECT_TRUE(widget<QPushButton>("MAIN_OPEN")->isChecked());

        // Buttons on a nested page report their page's panel handle.
        QTest::mouseClick(widget("PAGEA_GO"), Qt::LeftButton);
        EXPECT_TRUE(waitFor([&] { return hasEvent(page, PAGEA_GO, EVENT_COMMIT); }));

        // A dimmed button takes no click.
        SetCtrlAttribute(panel_, MAIN_GO, ATTR_DIMMED, 1);
        ASSERT_TRUE(waitFor([&] { return !widget("MAIN_GO")->isEnabled(); }));
        Recorder::instance().clear();
        QTest::mouseClick(widget("MAIN_GO"), Qt::LeftButton);
        QTest::mouseClick(widget("PAGEA_GO"), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return hasEvent(page, PAGEA_GO, EVENT_COMMIT); }));
        EXPECT_FALSE(hasEvent(panel_, MAIN_GO, EVENT_COMMIT));
    });
}

TEST_F(QtFrontEndTest, OperatorEntriesReachTheModelThenCommit) {
    runUi([&] {
        auto* baud = widget<QSpinBox>("MAIN_BAUD");
        baud->setFocus();
        baud->selectAll();
        QTest::keyClicks(baud, "9600");
        QTest::keyClick(baud, Qt::Key_Return);
        ASSERT_TRUE(waitFor([&] { return hasEvent(panel_, MAIN_BAUD, EVENT_COMMIT); }));
        int value = 0;
        GetCtrlVal(panel_, MAIN_BAUD, &value);
        EXPECT_EQ(value, 9600);

        auto* parity = widget<QComboBox>("MAIN_PARITY");
        parity->setFocus();
        QTest::keyClick(parity, Qt::Key_Up);
        ASSERT_TRUE(waitFor([&] { return hasEvent(panel_, MAIN_PARITY, EVENT_COMMIT); }));
        GetCtrlVal(panel_, MAIN_PARITY, &value);
        EXPECT_EQ(value, 1);

        auto* name = widget<QLineEdit>("MAIN_NAME");
        name->setFocus();
        QTest::keyClicks(name, "STM32");
        // Chinese arrives through the input method, as a committed string.
        QInputMethodEvent chinese;
        chinese.setCommitString(QStringLiteral("你好"));
        QApplication::sendEvent(name, &chinese);
        QTest::keyClick(name, Qt::Key_Return);
        ASSERT_TRUE(waitFor([&] { return hasEvent(panel_, MAIN_NAME, EVENT_COMMIT); }));
        char text[64] = {};
        GetCtrlVal(panel_, MAIN_NAME, text, sizeof text);
        EXPECT_STREQ(text, "STM32你好");

        // A text box holds what is typed at once (a button reading it finds
        // it there) and commits when the focus leaves it.
        auto* send = widget<QPlainTextEdit>("MAIN_SEND");
        send->setFocus();
        QTest::keyClicks(send, "AT");
        GetCtrlVal(panel_, MAIN_SEND, text, sizeof text);
        EXPECT_STREQ(text, "AT");
        EXPECT_FALSE(hasEvent(panel_, MAIN_SEND, EVENT_COMMIT));
        name->setFocus();
        EXPECT_TRUE(waitFor([&] { return hasEvent(panel_, MAIN_SEND, EVENT_COMMIT); }));
    });
}

TEST_F(QtFrontEndTest, AQuitBeforeTheLoopEndsItAtOnce) {
    QuitUserInterface(3);
    // Also when the window's thread handled its events in between.
    QApplication::processEvents();
    EXPECT_EQ(RunUserInterface(), 3);
}

TEST_F(QtFrontEndTest, TheCloseButtonAsksTheCloseCallbackAndKeepsTheWindow) {
    runUi([&] {
        window_->close();
        ASSERT_TRUE(waitFor([&] { return hasEvent(panel_, 0, EVENT_COMMIT); }));
        EXPECT_TRUE(window_->isVisible());
    });
}

}  // namespace
}  // namespace qt_test
