// Pop-ups raised on worker threads: shown modally by the window's thread,
// the worker blocked until the operator answers, engine events held meanwhile.
//
// A modal dialog runs its own event loop on the window's thread, so the
// operator acts from a timer, which fires inside that loop.
#include <QApplication>
#include <QDialog>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <vector>

#include "qt_test_support.h"
#include "rte.h"
#include "wait_for.h"

namespace qt_test {
namespace {

// Answers the modal dialogs that appear, one step per dialog, in order.
class DialogOperator {
  public:
    using Step = std::function<void(QDialog*)>;

    explicit DialogOperator(std::vector<Step> steps) : steps_(std::move(steps)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start(10);
    }

    bool done() const { return next_ == steps_.size(); }

  private:
    void poll() {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (busy_ || done() || dialog == nullptr || !dialog->isVisible() || dialog == last_) {
            return;
        }
        busy_ = true;
        last_ = dialog;
        steps_[next_++](dialog);
        busy_ = false;
    }

    std::vector<Step> steps_;
    std::size_t next_ = 0;
    bool busy_ = false;
    QPointer<QDialog> last_;
    QTimer timer_;
};

QPushButton* button(QDialog* dialog, int number) {
    return dialog->findChild<QPushButton*>(QStringLiteral("button%1").arg(number));
}

// A key typed into the dialog, at whatever has its focus.
void press(QDialog* dialog, Qt::Key key) {
    QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, key);
}

std::atomic<int> deferredRuns{0};
void CountDeferred(void*) {
    ++deferredRuns;
}

TEST_F(QtFrontEndTest, WorkerPopupsBlockTheWorkerUntilAnswered) {
    runUi([&] {
        std::promise<int> quitAnswer, eraseAnswer;
        std::promise<void> messageDone;
        auto quit = quitAnswer.get_future();
        auto erase = eraseAnswer.get_future();
        auto message = messageDone.get_future();
        deferredRuns = 0;

        DialogOperator operatorAtTheScreen({
            [&](QDialog* dialog) {
                EXPECT_EQ(dialog->windowTitle(), QStringLiteral("系统提示"));
                EXPECT_EQ(button(dialog, 1)->text(), QStringLiteral("退出(&Y)"));
                EXPECT_EQ(button(dialog, 2)->text(), QStringLiteral("放弃(&N)"));
                EXPECT_EQ(button(dialog, 3), nullptr);
                EXPECT_EQ(dialog->focusWidget(), button(dialog, 2));
                // Events posted meanwhile wait for the answer; so does the worker.
                PostDeferredCall(CountDeferred, nullptr);
                QTest::qWait(50);
                EXPECT_EQ(deferredRuns, 0);
                EXPECT_EQ(quit.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
                // Escape answers nothing when the pop-up names no Escape
                // button; Enter presses the Enter button although the second
                // one has the focus.
                press(dialog, Qt::Key_Escape);
                QTest::qWait(20);
                EXPECT_TRUE(dialog->isVisible());
                press(dialog, Qt::Key_Return);
            },
            [&](QDialog* dialog) {
                EXPECT_EQ(dialog->windowTitle(), QStringLiteral("芯片擦除提示"));
                // The shortcut letter alone answers, as "(Y/N)" tells the operator.
                press(dialog, Qt::Key_N);
            },
            [&](QDialog* dialog) {
                auto* text = dialog->findChild<QLabel*>(QStringLiteral("message"));
                ASSERT_NE(text, nullptr);
                EXPECT_EQ(text->text(), QStringLiteral("目标板未响应，\n请重新连接设备！！！"));
                press(dialog, Qt::Key_Escape);
            },
        });
        PopupWorker worker([&] {
            quitAnswer.set_value(GenericMessagePopup("系统提示", "请您确认是否退出(Y/N)?",
                                                     "退出(__Y)", "放弃(__N)", "", nullptr, 0, 0, 2,
                                                     1, 0));
            eraseAnswer.set_value(
                GenericMessagePopup("芯片擦除提示", "请您确认是否擦除整片FLASH(Y/N)?",
                                    "确认擦除(__Y)", "放弃擦除(__N)", "", nullptr, 0, 0, 2, 1, 0));
            MessagePopup("告警", "目标板未响应，\n请重新连接设备！！！");
            messageDone.set_value();
        });
        ASSERT_TRUE(waitFor([&] {
            return message.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
        }));
        EXPECT_EQ(quit.get(), 1);
        EXPECT_EQ(erase.get(), 2);
        EXPECT_TRUE(waitFor([&] { return deferredRuns == 1; }));
        EXPECT_TRUE(operatorAtTheScreen.done());
    });
}

TEST_F(QtFrontEndTest, APopupOnTheUserInterfaceThreadTakesAResponse) {
    runUi([&] {
        DialogOperator operatorAtTheScreen({[&](QDialog* dialog) {
            auto* field = dialog->findChild<QLineEdit*>();
            EXPECT_NE(field, nullptr);
            if (field != nullptr) {
                // Letters go into the field, not to the buttons' shortcuts.
                QTest::keyClicks(field, "COM3 and more");
            }
            EXPECT_TRUE(dialog->isVisible());
            button(dialog, 1)->click();
        }});
        char response[8] = "old";
        const int answer = GenericMessagePopup("串口", "请输入端口名称", "确定(__O)", "取消(__C)",
                                               "", response, 5, 0, 0, 1, 2);
        EXPECT_EQ(answer, 1);
        EXPECT_STREQ(response, "COM3 ");
    });
}

TEST_F(QtFrontEndTest, DiscardingTheWindowUnderAPopupAnswersItWithNoButton) {
    runUi([&] {
        std::promise<int> answer;
        auto result = answer.get_future();
        DialogOperator operatorAtTheScreen({[&](QDialog*) { DiscardPanel(panel_); }});
        PopupWorker worker([&] {
            answer.set_value(GenericMessagePopup("系统提示", "请您确认是否退出(Y/N)?", "退出(__Y)",
                                                 "放弃(__N)", "", nullptr, 0, 0, 2, 1, 0));
        });
        ASSERT_TRUE(waitFor([&] {
            return result.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
        }));
        EXPECT_EQ(result.get(), 0);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    });
}

// Ends the test program when what it guards has not finished in time: a
// deadlock on the window's thread cannot be failed any other way.
class Watchdog {
  public:
    Watchdog(const char* what, std::chrono::seconds limit)
        : thread_([this, what, limit] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                  std::fprintf(stderr, "deadlock: %s did not finish\n", what);
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

struct TickPopup {
    std::atomic<bool> asking{false};
    std::atomic<bool> answered{false};
    // The first tick asks only once this is set.
    std::atomic<bool> mayAsk{true};
    int timer = 0;
    std::atomic<bool> discarded{false};
};

void RaisePopupOnFirstTick(void* data) {
    auto* tick = static_cast<TickPopup*>(data);
    if (!tick->asking.exchange(true)) {
        test_support::WaitFor([tick] { return tick->mayAsk.load(); });
        MessagePopup("告警", "芯片不空，请重新擦除！");
        tick->answered = true;
    }
}

// The quit discards timers on the window's thread, which may at that moment
// be the only thread that can show a tick's pop-up.
TEST_F(QtFrontEndTest, APopupRaisedOnATickIsShownWhileTheWindowThreadDiscardsTheTimer) {
    runUi([&] {
        DialogOperator operatorAtTheScreen({[](QDialog* dialog) { dialog->reject(); }});
        ASSERT_NE(0, RTEUSTEinitialize());
        TickPopup tick;
        const int timer = RTEUSTEnewtimer(RaisePopupOnFirstTick, &tick);
        ASSERT_NE(0, timer);
        const std::uint32_t fiveMs[2] = {0, 5000000};
        ASSERT_EQ(1, RTEUSTEsettimer(timer, fiveMs));
        // Waiting outside the window's loop, as a callback would.
        ASSERT_TRUE(test_support::WaitFor([&] { return tick.asking.load(); }));
        const Watchdog watchdog("discarding a timer whose tick shows a pop-up",
                                std::chrono::seconds(20));
        EXPECT_EQ(1, RTEUSTEdiscardtimer(timer));
        EXPECT_TRUE(tick.answered);
        EXPECT_TRUE(operatorAtTheScreen.done());
    });
}

void DiscardTickingTimer(void* data) {
    auto* tick = static_cast<TickPopup*>(data);
    tick->mayAsk = true;  // the tick asks while this callback waits for it
    RTEUSTEdiscardtimer(tick->timer);
    tick->discarded = true;
}

// As the quit does it: the discard runs in a callback, where no engine event
// may run, and the tick asks for its pop-up only then. The pop-up is shown
// and answered, and afterwards events flow again: the operator's next click
// still gets through.
TEST_F(QtFrontEndTest, AfterADiscardInACallbackWaitedForATicksPopupEventsFlowAgain) {
    runUi([&] {
        DialogOperator operatorAtTheScreen({[](QDialog* dialog) { dialog->reject(); }});
        ASSERT_NE(0, RTEUSTEinitialize());
        TickPopup tick;
        tick.mayAsk = false;
        tick.timer = RTEUSTEnewtimer(RaisePopupOnFirstTick, &tick);
        ASSERT_NE(0, tick.timer);
        const std::uint32_t fiveMs[2] = {0, 5000000};
        ASSERT_EQ(1, RTEUSTEsettimer(tick.timer, fiveMs));
        ASSERT_TRUE(test_support::WaitFor([&] { return tick.asking.load(); }));
        const Watchdog watchdog("a callback discarding a timer whose tick shows a pop-up",
                                std::chrono::seconds(20));
        deferredRuns = 0;
        Recorder::instance().clear();
        PostDeferredCall(DiscardTickingTimer, &tick);
        ASSERT_TRUE(waitFor([&] { return tick.discarded.load(); }));
        EXPECT_TRUE(tick.answered);
        EXPECT_TRUE(operatorAtTheScreen.done());
        PostDeferredCall(CountDeferred, nullptr);
        EXPECT_TRUE(waitFor([&] { return deferredRuns == 1; }));
        QTest::mouseClick(widget("MAIN_GO"), Qt::LeftButton);
        EXPECT_TRUE(waitFor([&] {
            for (const RecordedEvent& event : Recorder::instance().events()) {
                if (event.event == EVENT_COMMIT) {
                    return true;
                }
            }
            return false;
        }));
    });
}

TEST_F(QtFrontEndTest, AWorkerWaitedForFromTheWindowThreadCanStillAsk) {
    runUi([&] {
        DialogOperator operatorAtTheScreen({[](QDialog* dialog) { dialog->reject(); }});
        int id = 0;
        ASSERT_EQ(RTE_OK, CmtScheduleThreadPoolFunction(
                              DEFAULT_THREAD_POOL_HANDLE,
                              [](void*) {
                                  MessagePopup("告警", "芯片不空，请重新擦除！");
                                  return 7;
                              },
                              nullptr, &id));
        const Watchdog watchdog("waiting for a worker that shows a pop-up",
                                std::chrono::seconds(20));
        EXPECT_EQ(RTE_OK,
                  CmtWaitForThreadPoolFunctionCompletion(DEFAULT_THREAD_POOL_HANDLE, id, 0));
        int result = 0;
        EXPECT_EQ(RTE_OK, CmtGetThreadPoolFunctionResult(DEFAULT_THREAD_POOL_HANDLE, id, &result));
        EXPECT_EQ(7, result);
        EXPECT_EQ(RTE_OK, CmtReleaseThreadPoolFunctionID(DEFAULT_THREAD_POOL_HANDLE, id));
        EXPECT_TRUE(operatorAtTheScreen.done());
    });
}

// With the focus elsewhere (the window manager's doing), a second pop-up
// still goes on top of the first, where the operator can see and answer it.
TEST_F(QtFrontEndTest, APopupOverAnotherIsStackedOnIt) {
    runUi([&] {
        QPointer<QDialog> first;
        std::unique_ptr<PopupWorker> worker;
        QWidget elsewhere;
        DialogOperator operatorAtTheScreen({
            [&](QDialog* dialog) {
                first = dialog;
                elsewhere.show();
                elsewhere.activateWindow();
                QApplication::setActiveWindow(&elsewhere);
                ASSERT_EQ(&elsewhere, QApplication::activeWindow());
                worker = std::make_unique<PopupWorker>([] { MessagePopup("告警", "second"); });
            },
            [&](QDialog* dialog) {
                EXPECT_EQ(first.data(), dialog->parentWidget());
                dialog->reject();
                first->reject();
            },
        });
        MessagePopup("告警", "first");
        worker.reset();
        EXPECT_TRUE(operatorAtTheScreen.done());
    });
}

TEST_F(QtFrontEndTest, FileSelectionFromAWorker) {
    const auto file = std::filesystem::temp_directory_path() / "qt_test_blinky.hex";
    std::ofstream(file) << ":00000001FF\n";
    runUi([&] {
        std::promise<std::pair<int, std::string>> chosen;
        std::promise<int> cancelled;
        auto result = chosen.get_future();
        auto cancel = cancelled.get_future();
        DialogOperator operatorAtTheScreen({
            [&](QDialog* dialog) {
                auto* files = qobject_cast<QFileDialog*>(dialog);
                ASSERT_NE(files, nullptr);
                EXPECT_EQ(files->windowTitle(), QStringLiteral("选择HEX文件"));
                EXPECT_TRUE(files->nameFilters().contains(QStringLiteral("*.hex")));
                files->selectFile(QString::fromStdString(file.string()));
                QMetaObject::invokeMethod(files, "accept");
            },
            [&](QDialog* dialog) {
                // Asked for no folder, it opens where the last choice was
                // made (kept in the user's settings, so also in the next run).
                auto* files = qobject_cast<QFileDialog*>(dialog);
                ASSERT_NE(files, nullptr);
                EXPECT_EQ(files->directory().absolutePath(),
                          QString::fromStdString(file.parent_path().string()));
                dialog->reject();
            },
        });
        PopupWorker worker([&] {
            char path[RTE_MAX_PATHNAME_LEN];
            const int code = FileSelectPopup(file.parent_path().c_str(), "*.hex", "*.hex",
                                             "选择HEX文件", 2, 0, 0, 1, 0, path);
            chosen.set_value({code, path});
            cancelled.set_value(
                FileSelectPopup("", "*.txt", "*.txt", "选择TXT文件", 2, 0, 0, 1, 0, path));
        });
        ASSERT_TRUE(waitFor([&] {
            return cancel.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
        }));
        const auto [code, path] = result.get();
        EXPECT_EQ(code, VAL_EXISTING_FILE_SELECTED);
        EXPECT_EQ(path, file.string());
        EXPECT_EQ(cancel.get(), VAL_NO_FILE_SELECTED);
    });
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace qt_test
