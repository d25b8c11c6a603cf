// The headless front end: the operator interface for tests and scripted runs.
//
// The program runs WinMain (and so RunUserInterface) on one thread while a
// test drives it from another through this class. Every member is
// thread-safe. Actions post events; use waitIdle() (or waitUntil()) to know
// they have run.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "rte_frontend.h"

namespace rte {

class Headless final : public FrontEnd {
  public:
    // How pop-ups are answered when no queued answer is waiting.
    enum class PopupRule {
        FirstButton,  // button 1
        EnterButton,  // the pop-up's Enter button (button 1 when it has none)
        Fixed,        // Options::fixedAnswer
        Manual,       // wait for answerPopup() from the test
    };
    struct Options {
        PopupRule rule = PopupRule::FirstButton;
        int fixedAnswer = 1;
        // Print every pop-up (and its answer) and every change of the
        // controls named here (by their header constant, e.g. "PANEL_STATUS",
        // "TABOPS_LOG": new text, appended lines) on standard output.
        bool echo = false;
        std::vector<std::string> echoControls;
    };

    struct PopupRecord {
        enum class Kind { Message, Generic, File } kind = Kind::Message;
        std::string title, message;
        std::vector<std::string> buttons;  // raw labels of the buttons shown
        int answer = 0;                    // button pressed, or the file result
        std::string path;                  // File: the path answered
        std::string directory;             // File: the folder it opened in
        std::thread::id thread;            // the thread that raised it
    };

    // Creates a headless front end and installs it (RTE_InstallFrontEnd).
    static std::shared_ptr<Headless> Install(Options options);
    static std::shared_ptr<Headless> Install() { return Install(Options{}); }

    // --- driving controls (see the operator actions of rte_frontend.h)
    int setValue(int panel, int control, int value);
    int setValue(int panel, int control, double value);
    int setValue(int panel, int control, const std::string& text);
    int commit(int panel, int control);  // commit the current value
    int commit(int panel, int control, int value);
    int commit(int panel, int control, double value);
    int commit(int panel, int control, const std::string& text);
    int click(int panel, int control);
    int closePanel(int panel);

    // --- reading controls; these throw std::runtime_error naming the
    // control when it does not exist or has no such value
    int intValue(int panel, int control) const;
    double doubleValue(int panel, int control) const;
    std::string text(int panel, int control) const;  // string control, or a text box joined by '\n'
    std::vector<std::string> lines(int panel, int control) const;  // text box
    int attribute(int panel, int control, int attr) const;         // int attributes
    std::string label(int panel, int control) const;
    ControlInfo control(int panel, int control) const;

    // --- pop-ups
    void setPopupRule(PopupRule rule, int fixedAnswer = 1);
    void queuePopupAnswer(int button);              // used before the rule, first in first out
    void queueFileAnswer(const std::string& path);  // "" = cancel; no queued path also cancels
    std::vector<PopupRecord> popups() const;        // every pop-up answered so far, in order
    void clearPopups();
    // Manual rule: wait until a pop-up is waiting for an answer / answer it.
    bool waitForPendingPopup(std::chrono::milliseconds timeout);
    bool answerPopup(int button);
    std::size_t beepCount() const;

    // --- waiting
    // Every event posted before this call has run.
    bool waitIdle(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // pred() holds; re-checked on every model change and pop-up, and every 10 ms.
    bool waitUntil(const std::function<bool()>& pred,
                   std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // The number of pop-ups answered reaches count.
    bool waitForPopups(std::size_t count,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5));

    // --- FrontEnd
    void runLoop() override;
    void quitLoop() override;
    void wake() override;
    void changed(const Change& change) override;
    void messagePopup(const MessageRequest& request) override;
    GenericAnswer genericMessagePopup(const GenericRequest& request) override;
    FileAnswer fileSelectPopup(const FileRequest& request) override;
    void beep() override;

    explicit Headless(Options options);
    ~Headless() override;

  private:
    struct State;
    std::unique_ptr<State> state_;
    int answerFor(PopupRecord record, int enterButton);
    void notifyWaiters();
};

}  // namespace rte
