// Waiting and waking for events, threads and thread message queues. One
// process-wide mutex guards the state of every waitable object, so waits on
// several objects (wait-any, wait-all) are atomic without lock ordering; each
// thread sleeps on its own condition variable and is woken only by objects it
// waits on.
#pragma once

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "src/handles.h"

namespace chipload::win32 {

class ThreadState;

std::mutex& syncMutex();

class Waitable : public KernelObject {
  public:
    // All of these run with syncMutex held.
    virtual bool signaledLocked() const = 0;
    virtual void acquireLocked() {}  // what a satisfied wait takes (auto reset)
    void addWaiterLocked(ThreadState* waiter) { waiters_.push_back(waiter); }
    void removeWaiterLocked(ThreadState* waiter);

  protected:
    void wakeWaitersLocked();

  private:
    std::vector<ThreadState*> waiters_;
};

// A thread as the Windows calls see it: its id, exit state, suspend count,
// priority and message queue. Signalled once the thread has ended.
class ThreadState : public Waitable {
  public:
    explicit ThreadState(DWORD id) : id_(id) {}
    DWORD id() const { return id_; }

    bool signaledLocked() const override { return ended; }

    // Marks the thread ended (first call wins), drops its queue and wakes
    // everything that waits on it. syncMutex held.
    void endLocked(DWORD code);

    // Guarded by syncMutex.
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
    DWORD suspendCount = 0;
    int priority = THREAD_PRIORITY_NORMAL;
    std::deque<MSG> queue;
    DWORD newInput = 0;  // QS_ bits that arrived since the queue was last looked at
    std::condition_variable wakeup;

  private:
    const DWORD id_;
};

HANDLE currentThreadPseudoHandle();
std::shared_ptr<ThreadState> currentThreadShared();
ThreadState& currentThread();

// Gives the calling thread its identity (threads made by CreateThread).
void bindCurrentThread(std::shared_ptr<ThreadState> state);
std::shared_ptr<ThreadState> makeThreadState();  // registered, queue ready
std::shared_ptr<ThreadState> findThreadLocked(DWORD id);

// Holds the calling thread while it is suspended.
void holdIfSuspended();
void holdIfSuspendedLocked(ThreadState& self, std::unique_lock<std::mutex>& lock);

// The common wait. objects may be empty; wakeMask != 0 also ends the wait
// (result WAIT_OBJECT_0 + objects.size()) when new input of those QS_ kinds
// reaches the caller's queue.
DWORD waitForObjects(std::span<const std::shared_ptr<Waitable>> objects, bool waitAll,
                     DWORD milliseconds, DWORD wakeMask);

// Looks handles up as waitables; false (error set) when one is not.
bool collectWaitables(DWORD count, const HANDLE* handles,
                      std::vector<std::shared_ptr<Waitable>>& out);

}  // namespace chipload::win32
