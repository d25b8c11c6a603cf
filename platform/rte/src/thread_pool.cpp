// Entry points: the default thread pool. Each function gets a thread of its
// own: the program schedules two loops that run for its whole life, and a
// fixed-size pool would make a third function wait for them forever.
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "engine.h"

namespace {

struct Job {
    std::thread thread;
    bool done = false;  // guarded by Pool::mutex
    int result = 0;
};

struct Pool {
    std::mutex mutex;
    std::condition_variable finished;
    std::map<int, std::shared_ptr<Job>> jobs;
    int nextId = 1;

    std::shared_ptr<Job> find(int id) {
        std::lock_guard lock(mutex);
        const auto it = jobs.find(id);
        return it == jobs.end() ? nullptr : it->second;
    }
};

Pool& ThePool() {
    // Never destroyed: functions may still run while the process exits.
    static Pool* pool = new Pool;
    return *pool;
}

// The function may be showing a pop-up, which only the user-interface thread
// puts on the screen: waiting there, the front end keeps working (and the
// engine's events run too when the caller asks for it).
void AwaitDone(Pool& pool, const std::shared_ptr<Job>& job, bool runEngineEvents) {
    auto& engine = rte::detail::Engine::Get();
    std::unique_lock lock(pool.mutex);
    if (!engine.onUiThread()) {
        pool.finished.wait(lock, [&] { return job->done; });
        return;
    }
    while (!pool.finished.wait_for(lock, std::chrono::milliseconds(1), [&] { return job->done; })) {
        lock.unlock();
        if (runEngineEvents) {
            ProcessSystemEvents();
        } else {
            engine.serveFrontEnd();
        }
        lock.lock();
    }
}

}  // namespace

int CmtScheduleThreadPoolFunction(int poolHandle, ThreadFunctionPtr function, void* functionData,
                                  int* functionId) {
    if (poolHandle != DEFAULT_THREAD_POOL_HANDLE || function == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    Pool& pool = ThePool();
    auto job = std::make_shared<Job>();
    int id;
    {
        std::lock_guard lock(pool.mutex);
        id = pool.nextId++;
        pool.jobs.emplace(id, job);
        try {
            job->thread = std::thread([&pool, job, function, functionData] {
                const int result = function(functionData);
                {
                    std::lock_guard done(pool.mutex);
                    job->result = result;
                    job->done = true;
                }
                pool.finished.notify_all();
            });
        } catch (const std::system_error&) {
            pool.jobs.erase(id);
            return RTE_ERR_FAILED;
        }
    }
    if (functionId != nullptr) {
        *functionId = id;
    }
    return RTE_OK;
}

int CmtWaitForThreadPoolFunctionCompletion(int poolHandle, int functionId, int options) {
    if (poolHandle != DEFAULT_THREAD_POOL_HANDLE) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    Pool& pool = ThePool();
    const auto job = pool.find(functionId);
    if (!job) {
        return RTE_ERR_BAD_HANDLE;
    }
    AwaitDone(pool, job, (options & OPT_TP_PROCESS_EVENTS_WHILE_WAITING) != 0);
    return RTE_OK;
}

int CmtReleaseThreadPoolFunctionID(int poolHandle, int functionId) {
    if (poolHandle != DEFAULT_THREAD_POOL_HANDLE) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    Pool& pool = ThePool();
    std::shared_ptr<Job> job;
    {
        std::lock_guard lock(pool.mutex);
        const auto it = pool.jobs.find(functionId);
        if (it == pool.jobs.end()) {
            return RTE_ERR_BAD_HANDLE;
        }
        job = it->second;
        pool.jobs.erase(it);
    }
    if (job->thread.get_id() == std::this_thread::get_id()) {
        job->thread.detach();  // a function releasing its own ID cannot join itself
    } else {
        AwaitDone(pool, job, false);
        job->thread.join();
    }
    return RTE_OK;
}

int CmtGetThreadPoolFunctionResult(int poolHandle, int functionId, int* result) {
    if (poolHandle != DEFAULT_THREAD_POOL_HANDLE || result == nullptr) {
        return RTE_ERR_BAD_ARGUMENT;
    }
    Pool& pool = ThePool();
    std::lock_guard lock(pool.mutex);
    const auto it = pool.jobs.find(functionId);
    if (it == pool.jobs.end()) {
        return RTE_ERR_BAD_HANDLE;
    }
    if (!it->second->done) {
        return RTE_ERR_FAILED;
    }
    *result = it->second->result;
    return RTE_OK;
}
