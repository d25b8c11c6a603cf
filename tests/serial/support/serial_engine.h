// Test helpers for the serial library: the engine running headless on its own user-interface
// thread, and callbacks that record every call they receive.
#pragma once

#include <rte_headless.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TideComm.h"

namespace serialtest {

// Starts the engine with the headless front end and runs RunUserInterface on a thread of its
// own, which becomes the user-interface thread; stops both on destruction.
class EngineThread {
  public:
    EngineThread();
    ~EngineThread();
    EngineThread(const EngineThread&) = delete;
    EngineThread& operator=(const EngineThread&) = delete;

    // Every deferred call posted before this call has run.
    bool waitIdle(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::thread::id uiThread() const { return uiThread_; }
    rte::Headless& frontEnd() { return *headless_; }

  private:
    std::shared_ptr<rte::Headless> headless_;
    std::thread thread_;
    std::thread::id uiThread_;
};

// Which recording callback ran.
enum class Callback {
    OnComm,
    Receive,
    ReceiveError,
    ModemChange,
    CdChange,
    CtsChange,
    DsrChange,
    RingChange,
    Hangup,
    SendEmpty,
    Send,
    SendError,
    OpenError,
};

struct Call {
    Callback callback;
    int port;
    int commEvent;  // TideComm_GetCommEvent(port) when the call ran
    int error;      // TideComm_GetError(port) when the call ran
    std::thread::id thread;
};

// Every call of a Recorder<...> callback, in the order they ran.
class CallLog {
  public:
    static void add(const Call& call);
    static std::vector<Call> calls();
    static std::vector<Callback> kinds();
    static std::size_t count(Callback callback);
    static void clear();
    // Waits until `callback` has been called at least `times` times.
    static bool waitFor(Callback callback, std::size_t times = 1,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));
};

template <Callback C>
int Record(int port) {
    CallLog::add({C, port, TideComm_GetCommEvent(port), TideComm_GetError(port),
                  std::this_thread::get_id()});
    return 0;
}

// Threads of this process (entries of /proc/self/task).
int ThreadCount();

}  // namespace serialtest
