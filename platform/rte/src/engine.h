// The engine: the control model behind its mutex, the event queue that the
// user-interface thread drains, the front end, and the thread that ticks
// timer controls.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "model.h"
#include "panel_file.h"
#include "rte_frontend.h"

namespace rte::detail {

struct Event {
    enum class Type { Control, PanelClose, Deferred } type = Type::Deferred;
    int panel = 0, control = 0, event = 0, data1 = 0, data2 = 0;
    DeferredCallbackPtr function = nullptr;
    void* data = nullptr;
};

class Engine {
  public:
    static Engine& Get();

    // --- life
    void install(std::shared_ptr<FrontEnd> frontEnd);
    int init();
    void close();
    std::shared_ptr<FrontEnd> frontEnd() const;

    // --- model access. f(ControlRecord&) returns an RTE code; change, when
    // the call succeeds, is sent to the front end after the lock is released.
    template <class F>
    int withControl(int panel, int control, F&& f, const Change* change = nullptr);
    template <class F>
    int readControl(int panel, int control, F&& f) const;
    void notify(const Change& change) const;
    std::vector<int> panelHandles() const;
    std::optional<PanelInfo> panelInfo(int panel) const;

    // --- panels
    int loadPanel(const std::string& fileName, int resourceId);
    int displayPanel(int panel);
    int setActiveControl(int panel, int control);
    int discardPanel(int panel);
    int tabPage(int panel, int tabControl, int pageIndex, int* pageHandle) const;

    // --- events
    void post(const Event& event);
    void pump();
    int run();
    void quit(int code);
    int processSystemEvents();
    bool waitProcessed(std::chrono::milliseconds timeout);
    bool onUiThread() const;
    // User-interface thread, waiting for another thread: lets the front end
    // do its own work (redraws, input, pop-ups other threads asked for)
    // without running any engine event.
    void serveFrontEnd();

    // --- pop-ups: the engine holds its events while any is open
    void popupOpened();
    void popupClosed();

    // Timer controls: re-read intervals and enabled states now.
    void timerControlChanged(ControlRecord& control);

  private:
    Engine() = default;
    void dispatch(const Event& event);
    void tickTimers();
    void stopTimerThread();
    void failLoad(const std::string& message);
    int instantiate(const PanelTemplate& t, int parent, int parentTab, int pageIndex,
                    std::vector<PanelRecord>& made, std::string& unknown);

    mutable std::mutex modelMutex_;
    std::map<int, PanelRecord> panels_;
    int nextHandle_ = 1;

    mutable std::mutex frontEndMutex_;
    std::shared_ptr<FrontEnd> frontEnd_;
    bool initialized_ = false;

    std::mutex queueMutex_;
    std::condition_variable queueCv_;
    std::deque<Event> queue_;
    std::uint64_t posted_ = 0, processed_ = 0;

    std::atomic<std::thread::id> uiThread_{};
    std::atomic<bool> inCallback_{false};
    std::atomic<int> popupDepth_{0};
    std::atomic<bool> loopRunning_{false};
    std::atomic<bool> quitRequested_{false};
    std::atomic<int> quitCode_{0};

    std::condition_variable timerCv_;  // waits on modelMutex_
    std::thread timerThread_;
    bool timerStop_ = false;  // guarded by modelMutex_
};

template <class F>
int Engine::withControl(int panel, int control, F&& f, const Change* change) {
    int result;
    {
        std::lock_guard lock(modelMutex_);
        const auto p = panels_.find(panel);
        if (p == panels_.end()) {
            return RTE_ERR_BAD_PANEL;
        }
        ControlRecord* c = p->second.find(control);
        if (c == nullptr) {
            return RTE_ERR_BAD_CONTROL;
        }
        result = f(*c);
    }
    if (result == RTE_OK && change != nullptr) {
        notify(*change);
    }
    return result;
}

template <class F>
int Engine::readControl(int panel, int control, F&& f) const {
    std::lock_guard lock(modelMutex_);
    const auto p = panels_.find(panel);
    if (p == panels_.end()) {
        return RTE_ERR_BAD_PANEL;
    }
    const ControlRecord* c = p->second.find(control);
    if (c == nullptr) {
        return RTE_ERR_BAD_CONTROL;
    }
    return f(*c);
}

void SetLastErrorText(const std::string& text);

}  // namespace rte::detail
