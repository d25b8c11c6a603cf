#include "serial_engine.h"

#include <condition_variable>
#include <filesystem>
#include <future>

namespace serialtest {

EngineThread::EngineThread() : headless_(rte::Headless::Install()) {
    std::promise<std::thread::id> started;
    std::future<std::thread::id> ui = started.get_future();
    thread_ = std::thread([&started] {
        InitRTEEx(nullptr, nullptr, nullptr);
        started.set_value(std::this_thread::get_id());
        RunUserInterface();
    });
    uiThread_ = ui.get();
}

EngineThread::~EngineThread() {
    waitIdle();
    QuitUserInterface(0);
    thread_.join();
    RTE_CloseEngine();
}

bool EngineThread::waitIdle(std::chrono::milliseconds timeout) {
    return headless_->waitIdle(timeout);
}

namespace {

std::mutex logMutex;
std::condition_variable logChanged;
std::vector<Call> log;

}  // namespace

void CallLog::add(const Call& call) {
    {
        std::lock_guard lock(logMutex);
        log.push_back(call);
    }
    logChanged.notify_all();
}

std::vector<Call> CallLog::calls() {
    std::lock_guard lock(logMutex);
    return log;
}

std::vector<Callback> CallLog::kinds() {
    std::vector<Callback> result;
    for (const Call& call : calls()) {
        result.push_back(call.callback);
    }
    return result;
}

std::size_t CallLog::count(Callback callback) {
    std::size_t n = 0;
    for (const Call& call : calls()) {
        n += call.callback == callback ? 1 : 0;
    }
    return n;
}

void CallLog::clear() {
    std::lock_guard lock(logMutex);
    log.clear();
}

bool CallLog::waitFor(Callback callback, std::size_t times, std::chrono::milliseconds timeout) {
    std::unique_lock lock(logMutex);
    return logChanged.wait_for(lock, timeout, [&] {
        std::size_t n = 0;
        for (const Call& call : log) {
            n += call.callback == callback ? 1 : 0;
        }
        return n >= times;
    });
}

int ThreadCount() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task")) {
        ++n;
    }
    return n;
}

}  // namespace serialtest
