// Shared set-up of the Qt front-end tests: one QApplication for the test
// program, a fresh engine with the Qt front end for every test, a panel file
// with one control of each kind, and a recorder for the callbacks it binds.
#pragma once

#include <gtest/gtest.h>

#include <QWidget>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qt_test {

struct RecordedEvent {
    int panel = 0;
    int control = 0;
    int event = 0;
    std::thread::id thread;
};

// The callback the test panel binds everywhere: records each call.
int Record(int panel, int control, int event, void* data, int eventData1, int eventData2);

// Every call of Record, in order.
class Recorder {
  public:
    static Recorder& instance();
    void add(const RecordedEvent& event);
    std::vector<RecordedEvent> events() const;
    void clear();

  private:
    mutable std::mutex mutex_;
    std::vector<RecordedEvent> events_;
};

// Where SetUp writes the test panel file.
const std::string& testPanelFile();

// A thread that raises pop-ups. Its destructor answers (rejects) whatever
// pop-up a failed test left open until the thread returns, then joins it,
// so a failing test fails instead of hanging.
class PopupWorker {
  public:
    explicit PopupWorker(std::function<void()> work);
    ~PopupWorker();
    PopupWorker(const PopupWorker&) = delete;
    PopupWorker& operator=(const PopupWorker&) = delete;

  private:
    std::atomic<bool> done_{false};
    std::thread thread_;
};

class QtFrontEndTest : public ::testing::Test {
  protected:
    // Loads and shows the test panel file.
    void SetUp() override;
    void TearDown() override;

    // Starts the engine with the Qt front end, lets registerCallbacks fill
    // the registry, then loads panel 1 of file and shows it.
    void start(const std::string& file, const std::function<void()>& registerCallbacks);

    // Runs script on the user-interface thread inside RunUserInterface, then
    // ends the loop (also when the script fails an assertion).
    void runUi(const std::function<void()>& script);
    // Lets the window's thread work until pred holds or two seconds pass.
    static bool waitFor(const std::function<bool()>& pred);

    // The widget drawn for a control, by its constant.
    template <typename W = QWidget>
    W* widget(const char* constant) const {
        return window_ ? window_->findChild<W*>(QString::fromLatin1(constant)) : nullptr;
    }

    int panel_ = 0;
    QWidget* window_ = nullptr;  // panel_'s window, set by runUi once it is shown
    std::thread::id uiThread_;
};

// Control IDs of the test panel file.
enum : int {
    MAIN_GO = 2,
    MAIN_OPEN = 3,
    MAIN_HEX = 4,
    MAIN_LED = 5,
    MAIN_BAUD = 6,
    MAIN_INTERVAL = 7,
    MAIN_PROGRESS = 8,
    MAIN_COUNT = 9,
    MAIN_STATUS = 10,
    MAIN_NAME = 11,
    MAIN_PARITY = 12,
    MAIN_LOG = 13,
    MAIN_SEND = 14,
    MAIN_TAB = 16,
    PAGEA_GO = 2,
    PAGEA_TAB = 3,
    INNERA_LED = 2,
};

}  // namespace qt_test
