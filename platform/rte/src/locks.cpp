// Entry points: recursive locks, shared by name within the process.
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "rte.h"

namespace {

// A recursive lock that knows its owner, so a release by another thread is
// refused instead of being undefined behaviour.
class RecursiveLock {
  public:
    void lock() {
        const auto me = std::this_thread::get_id();
        std::unique_lock guard(mutex_);
        if (depth_ > 0 && owner_ == me) {
            ++depth_;
            return;
        }
        free_.wait(guard, [&] { return depth_ == 0; });
        owner_ = me;
        depth_ = 1;
    }
    bool unlock() {
        {
            std::lock_guard guard(mutex_);
            if (depth_ == 0 || owner_ != std::this_thread::get_id()) {
                return false;
            }
            if (--depth_ > 0) {
                return true;
            }
        }
        free_.notify_one();
        return true;
    }

  private:
    std::mutex mutex_;
    std::condition_variable free_;
    std::thread::id owner_;
    int depth_ = 0;
};

struct LockTable {
    std::mutex mutex;
    std::map<int, std::shared_ptr<RecursiveLock>> byHandle;
    std::map<std::string, std::weak_ptr<RecursiveLock>> byName;
    int next = 1;

    std::shared_ptr<RecursiveLock> find(int handle) {
        std::lock_guard guard(mutex);
        const auto it = byHandle.find(handle);
        return it == byHandle.end() ? nullptr : it->second;
    }
};

LockTable& Locks() {
    static LockTable* table = new LockTable;  // never destroyed: see thread_pool.cpp
    return *table;
}

}  // namespace

int CmtNewLock(const char* lockName, int /*options*/, CmtLockHandle* lock) {
    if (lock == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    LockTable& t = Locks();
    std::lock_guard guard(t.mutex);
    std::shared_ptr<RecursiveLock> shared;
    if (lockName != nullptr && *lockName != '\0') {
        auto& slot = t.byName[lockName];
        shared = slot.lock();
        if (!shared) {
            shared = std::make_shared<RecursiveLock>();
            slot = shared;
        }
    } else {
        shared = std::make_shared<RecursiveLock>();
    }
    const int handle = t.next++;
    t.byHandle.emplace(handle, std::move(shared));
    *lock = handle;
    return RTE_OK;
}

int CmtGetLock(CmtLockHandle lock) {
    const auto l = Locks().find(lock);
    if (!l) {
        return RTE_ERR_BAD_HANDLE;
    }
    l->lock();
    return RTE_OK;
}

int CmtReleaseLock(CmtLockHandle lock) {
    const auto l = Locks().find(lock);
    if (!l) {
        return RTE_ERR_BAD_HANDLE;
    }
    return l->unlock() ? RTE_OK : RTE_ERR_FAILED;
}

int CmtDiscardLock(CmtLockHandle lock) {
    LockTable& t = Locks();
    std::lock_guard guard(t.mutex);
    if (t.byHandle.erase(lock) == 0) {
        return RTE_ERR_BAD_HANDLE;
    }
    for (auto it = t.byName.begin(); it != t.byName.end();) {
        it = it->second.expired() ? t.byName.erase(it) : std::next(it);
    }
    return RTE_OK;
}
