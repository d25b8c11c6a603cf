#include "src/sync.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <unordered_map>

namespace chipload::win32 {
namespace {

std::atomic<DWORD> nextThreadId{1000};

// Threads that can receive posts, by id. Guarded by syncMutex.
std::unordered_map<DWORD, std::shared_ptr<ThreadState>>& liveThreads() {
    // Never destroyed: detached threads may still post while the process exits.
    static auto* threads = new std::unordered_map<DWORD, std::shared_ptr<ThreadState>>;
    return *threads;
}

// The calling thread's identity. Threads this layer did not create get one on
// first use and end it when they exit.
struct CurrentThread {
    std::shared_ptr<ThreadState> state;
    bool adopted = false;
    ~CurrentThread() {
        if (state && adopted) {
            std::lock_guard lock(syncMutex());
            state->endLocked(0);
        }
    }
};
thread_local CurrentThread current;

}  // namespace

std::mutex& syncMutex() {
    static auto* mutex = new std::mutex;  // outlives every thread, see liveThreads()
    return *mutex;
}

void Waitable::removeWaiterLocked(ThreadState* waiter) {
    auto it = std::find(waiters_.begin(), waiters_.end(), waiter);
    if (it != waiters_.end()) {
        waiters_.erase(it);
    }
}

void Waitable::wakeWaitersLocked() {
    for (ThreadState* waiter : waiters_) {
        waiter->wakeup.notify_all();
    }
}

void ThreadState::endLocked(DWORD code) {
    if (ended) {
        return;
    }
    ended = true;
    exitCode = code;
    queue.clear();
    liveThreads().erase(id_);
    wakeWaitersLocked();
    wakeup.notify_all();  // a suspended thread that was terminated may leave its hold
}

HANDLE currentThreadPseudoHandle() {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));
}

std::shared_ptr<ThreadState> makeThreadState() {
    auto state = std::make_shared<ThreadState>(nextThreadId.fetch_add(1));
    std::lock_guard lock(syncMutex());
    liveThreads().emplace(state->id(), state);
    return state;
}

std::shared_ptr<ThreadState> currentThreadShared() {
    if (!current.state) {
        current.state = makeThreadState();
        current.adopted = true;
    }
    return current.state;
}

ThreadState& currentThread() {
    return *currentThreadShared();
}

void bindCurrentThread(std::shared_ptr<ThreadState> state) {
    current.state = std::move(state);
    current.adopted = false;
}

std::shared_ptr<ThreadState> findThreadLocked(DWORD id) {
    auto& threads = liveThreads();
    auto it = threads.find(id);
    return it == threads.end() ? nullptr : it->second;
}

void holdIfSuspendedLocked(ThreadState& self, std::unique_lock<std::mutex>& lock) {
    self.wakeup.wait(lock, [&] { return self.suspendCount == 0 || self.ended; });
}

void holdIfSuspended() {
    auto& self = currentThread();
    std::unique_lock lock(syncMutex());
    holdIfSuspendedLocked(self, lock);
}

namespace {

std::optional<DWORD> readyResultLocked(std::span<const std::shared_ptr<Waitable>> objects,
                                       bool waitAll) {
    if (objects.empty()) {
        return std::nullopt;
    }
    if (waitAll) {
        for (const auto& object : objects) {
            if (!object->signaledLocked()) {
                return std::nullopt;
            }
        }
        for (const auto& object : objects) {
            object->acquireLocked();
        }
        return WAIT_OBJECT_0;
    }
    for (std::size_t i = 0; i < objects.size(); ++i) {
        if (objects[i]->signaledLocked()) {
            objects[i]->acquireLocked();
            return static_cast<DWORD>(WAIT_OBJECT_0 + i);
        }
    }
    return std::nullopt;
}

}  // namespace

DWORD waitForObjects(std::span<const std::shared_ptr<Waitable>> objects, bool waitAll,
                     DWORD milliseconds, DWORD wakeMask) {
    using Clock = std::chrono::steady_clock;
    auto selfShared = currentThreadShared();
    ThreadState& self = *selfShared;
    std::unique_lock lock(syncMutex());
    holdIfSuspendedLocked(self, lock);

    std::optional<Clock::time_point> deadline;
    if (milliseconds != INFINITE) {
        deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
    }
    for (const auto& object : objects) {
        object->addWaiterLocked(&self);
    }
    DWORD result = WAIT_TIMEOUT;
    for (;;) {
        if (auto ready = readyResultLocked(objects, waitAll)) {
            result = *ready;
            break;
        }
        if ((self.newInput & wakeMask) != 0) {
            result = static_cast<DWORD>(WAIT_OBJECT_0 + objects.size());
            break;
        }
        if (!deadline) {
            self.wakeup.wait(lock);
        } else if (Clock::now() >= *deadline) {
            break;
        } else {
            self.wakeup.wait_until(lock, *deadline);
        }
    }
    for (const auto& object : objects) {
        object->removeWaiterLocked(&self);
    }
    holdIfSuspendedLocked(self, lock);
    return result;
}

bool collectWaitables(DWORD count, const HANDLE* handles,
                      std::vector<std::shared_ptr<Waitable>>& out) {
    if (count > MAXIMUM_WAIT_OBJECTS || (count > 0 && handles == nullptr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    out.clear();
    for (DWORD i = 0; i < count; ++i) {
        auto waitable = findHandleAs<Waitable>(handles[i]);
        if (!waitable) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        out.push_back(std::move(waitable));
    }
    return true;
}

}  // namespace chipload::win32
