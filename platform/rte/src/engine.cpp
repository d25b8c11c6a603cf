#include "engine.h"

#include <cstdio>

#include "rte_headless.h"

namespace rte::detail {

namespace {

// A pump hands the loop back after this long, so a flood of events cannot
// starve the front end's own work (redraws, input).
constexpr auto kPumpSlice = std::chrono::milliseconds(20);

std::mutex& LastErrorMutex() {
    static std::mutex mutex;
    return mutex;
}

std::string& LastError() {
    static std::string text;
    return text;
}

}  // namespace

void SetLastErrorText(const std::string& text) {
    std::lock_guard lock(LastErrorMutex());
    LastError() = text;
}

}  // namespace rte::detail

const char* RTE_GetLastErrorText(void) {
    thread_local std::string copy;
    std::lock_guard lock(rte::detail::LastErrorMutex());
    copy = rte::detail::LastError();
    return copy.c_str();
}

namespace rte::detail {

Engine& Engine::Get() {
    // Never destroyed: threads of the program may still post while the
    // process exits.
    static Engine* engine = new Engine;
    return *engine;
}

void Engine::install(std::shared_ptr<FrontEnd> frontEnd) {
    std::lock_guard lock(frontEndMutex_);
    frontEnd_ = std::move(frontEnd);
}

std::shared_ptr<FrontEnd> Engine::frontEnd() const {
    std::lock_guard lock(frontEndMutex_);
    return frontEnd_;
}

int Engine::init() {
    std::shared_ptr<FrontEnd> fe;
    {
        std::lock_guard lock(frontEndMutex_);
        if (initialized_) {
            return 1;
        }
        if (!frontEnd_) {
            frontEnd_ = std::make_shared<Headless>(Headless::Options{});
        }
        fe = frontEnd_;
    }
    if (!fe->start()) {
        SetLastErrorText("the front end failed to start");
        std::fprintf(stderr, "chipload: the front end failed to start\n");
        return 0;
    }
    {
        std::lock_guard lock(frontEndMutex_);
        initialized_ = true;
    }
    // Until RunUserInterface runs, the thread that starts the engine is the
    // user-interface thread, so that a program (or test) may pump events
    // with ProcessSystemEvents before entering the loop.
    if (uiThread_.load() == std::thread::id{}) {
        uiThread_ = std::this_thread::get_id();
    }
    {
        std::lock_guard lock(modelMutex_);
        timerStop_ = false;
    }
    if (!timerThread_.joinable()) {
        timerThread_ = std::thread([this] { tickTimers(); });
    }
    return 1;
}

void Engine::stopTimerThread() {
    {
        std::lock_guard lock(modelMutex_);
        timerStop_ = true;
    }
    timerCv_.notify_all();
    if (timerThread_.joinable()) {
        timerThread_.join();
    }
}

void Engine::close() {
    stopTimerThread();
    std::vector<int> tops;
    {
        std::lock_guard lock(modelMutex_);
        for (const auto& [handle, panel] : panels_) {
            if (panel.parentPanel == 0) {
                tops.push_back(handle);
            }
        }
    }
    for (const int handle : tops) {
        discardPanel(handle);
    }
    {
        std::lock_guard lock(queueMutex_);
        processed_ += queue_.size();
        queue_.clear();
    }
    queueCv_.notify_all();
    std::shared_ptr<FrontEnd> fe;
    {
        std::lock_guard lock(frontEndMutex_);
        fe = std::move(frontEnd_);
        frontEnd_.reset();
        initialized_ = false;
    }
    if (fe) {
        fe->stop();
    }
    uiThread_ = std::thread::id{};
    quitRequested_ = false;
    loopRunning_ = false;
    popupDepth_ = 0;
}

void Engine::notify(const Change& change) const {
    if (const auto fe = frontEnd()) {
        fe->changed(change);
    }
}

bool Engine::onUiThread() const {
    return uiThread_.load() == std::this_thread::get_id();
}

void Engine::post(const Event& event) {
    {
        std::lock_guard lock(queueMutex_);
        queue_.push_back(event);
        ++posted_;
    }
    if (const auto fe = frontEnd()) {
        fe->wake();
    }
}

void Engine::pump() {
    if (!onUiThread() || inCallback_) {
        return;
    }
    const auto sliceEnd = std::chrono::steady_clock::now() + kPumpSlice;
    while (true) {
        if (popupDepth_ > 0 || (loopRunning_ && quitRequested_)) {
            return;
        }
        if (std::chrono::steady_clock::now() >= sliceEnd) {
            if (const auto fe = frontEnd()) {
                fe->wake();
            }
            return;
        }
        Event event;
        {
            std::lock_guard lock(queueMutex_);
            if (queue_.empty()) {
                return;
            }
            event = queue_.front();
            queue_.pop_front();
        }
        inCallback_ = true;
        dispatch(event);
        inCallback_ = false;
        {
            std::lock_guard lock(queueMutex_);
            ++processed_;
        }
        queueCv_.notify_all();
    }
}

void Engine::dispatch(const Event& event) {
    if (event.type == Event::Type::Deferred) {
        if (event.function != nullptr) {
            event.function(event.data);
        }
        return;
    }
    CtrlCallbackPtr callback = nullptr;
    void* data = nullptr;
    {
        std::lock_guard lock(modelMutex_);
        const auto p = panels_.find(event.panel);
        if (p == panels_.end()) {
            return;
        }
        if (event.type == Event::Type::PanelClose) {
            callback = p->second.closeCallback;
        } else if (ControlRecord* c = p->second.find(event.control)) {
            if (event.event == EVENT_TIMER_TICK && c->kind == ControlKind::Timer) {
                c->tickQueued = false;
                if (!c->enabled) {
                    return;
                }
            }
            callback = c->callback;
            data = c->callbackData;
        }
    }
    if (callback != nullptr) {
        callback(event.panel, event.control, event.event, data, event.data1, event.data2);
    }
}

int Engine::run() {
    const auto fe = frontEnd();
    if (!fe) {
        return RTE_ERR_NOT_INITIALIZED;
    }
    uiThread_ = std::this_thread::get_id();
    loopRunning_ = true;
    fe->wake();  // whatever was posted before the loop runs first
    fe->runLoop();
    // A quit that came before the loop started ended it at once; either way
    // it is used up now.
    quitRequested_ = false;
    loopRunning_ = false;
    return quitCode_;
}

void Engine::quit(int code) {
    quitCode_ = code;
    quitRequested_ = true;
    if (const auto fe = frontEnd()) {
        fe->quitLoop();
    }
}

int Engine::processSystemEvents() {
    if (!onUiThread()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return RTE_OK;
    }
    if (const auto fe = frontEnd()) {
        fe->processFrontEndEvents();
    }
    pump();
    return RTE_OK;
}

void Engine::serveFrontEnd() {
    if (const auto fe = frontEnd()) {
        fe->processFrontEndEvents();
    }
}

bool Engine::waitProcessed(std::chrono::milliseconds timeout) {
    if (onUiThread()) {
        pump();  // waiting here would wait for itself
        std::lock_guard lock(queueMutex_);
        return processed_ >= posted_;
    }
    std::unique_lock lock(queueMutex_);
    const std::uint64_t target = posted_;
    return queueCv_.wait_for(lock, timeout, [&] { return processed_ >= target; });
}

void Engine::popupOpened() {
    ++popupDepth_;
}

void Engine::popupClosed() {
    --popupDepth_;
    bool pending;
    {
        std::lock_guard lock(queueMutex_);
        pending = !queue_.empty();
    }
    if (pending) {
        if (const auto fe = frontEnd()) {
            fe->wake();
        }
    }
}

}  // namespace rte::detail
