// Entry points: the engine timer service. One thread runs the ticks of every
// engine timer, in time order, one at a time.
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "engine.h"
#include "rte.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kResolution = std::chrono::milliseconds(1);
constexpr auto kFrontEndTurn = std::chrono::milliseconds(5);

struct EngineTimer {
    RTEUSTEtickfunction function = nullptr;
    void* record = nullptr;
    Clock::duration period{};
    Clock::time_point next{};
    bool armed = false;
    int priority = 0;
};

class TimerService {
  public:
    bool start() {
        std::lock_guard lock(mutex_);
        if (!started_) {
            try {
                origin_ = Clock::now();
                std::thread([this] { run(); }).detach();  // lives as long as the process
                started_ = true;
            } catch (const std::system_error&) {
                return false;
            }
        }
        return started_;
    }

    int add(RTEUSTEtickfunction function, void* record) {
        std::lock_guard lock(mutex_);
        if (!started_) {
            return 0;
        }
        const int handle = next_++;
        auto t = std::make_shared<EngineTimer>();
        t->function = function;
        t->record = record;
        timers_.emplace(handle, std::move(t));
        return handle;
    }

    bool arm(int handle, Clock::duration period) {
        {
            std::lock_guard lock(mutex_);
            const auto it = timers_.find(handle);
            if (it == timers_.end()) {
                return false;
            }
            it->second->period = std::max<Clock::duration>(period, kResolution);
            it->second->next = Clock::now() + it->second->period;
            it->second->armed = true;
        }
        changed_.notify_all();
        return true;
    }

    bool discard(int handle) {
        std::unique_lock lock(mutex_);
        if (timers_.erase(handle) == 0) {
            return false;
        }
        // The timer's own tick may discard it: returning at once is all it
        // can do. Any other thread waits for a running tick to finish.
        if (std::this_thread::get_id() != tickThread_) {
            awaitTickEnd(lock, handle);
        }
        changed_.notify_all();
        return true;
    }

    bool setPriority(int handle, int priority) {
        std::lock_guard lock(mutex_);
        const auto it = timers_.find(handle);
        if (it == timers_.end()) {
            return false;
        }
        it->second->priority = priority;
        return true;
    }

    bool getPriority(int handle, int& priority) {
        std::lock_guard lock(mutex_);
        const auto it = timers_.find(handle);
        if (it == timers_.end()) {
            return false;
        }
        priority = it->second->priority;
        return true;
    }

    Clock::duration elapsed() {
        std::lock_guard lock(mutex_);
        return Clock::now() - origin_;
    }

  private:
    // A tick may be showing a pop-up, which only the user-interface thread
    // puts on the screen: waiting there, the front end keeps working.
    void awaitTickEnd(std::unique_lock<std::mutex>& lock, int handle) {
        const auto tickEnded = [&] { return running_ != handle; };
        auto& engine = rte::detail::Engine::Get();
        if (!engine.onUiThread()) {
            idle_.wait(lock, tickEnded);
            return;
        }
        while (!idle_.wait_for(lock, kFrontEndTurn, tickEnded)) {
            lock.unlock();
            engine.serveFrontEnd();
            lock.lock();
        }
    }

    void run() {
        std::unique_lock lock(mutex_);
        tickThread_ = std::this_thread::get_id();
        while (true) {
            int dueHandle = 0;
            std::shared_ptr<EngineTimer> due;
            for (const auto& [handle, t] : timers_) {
                if (t->armed && (!due || t->next < due->next)) {
                    dueHandle = handle;
                    due = t;
                }
            }
            if (!due) {
                changed_.wait(lock);
                continue;
            }
            const auto now = Clock::now();
            if (due->next > now) {
                changed_.wait_until(lock, due->next);
                continue;
            }
            // Fixed schedule; ticks missed while late are skipped.
            due->next += due->period * ((now - due->next) / due->period + 1);
            running_ = dueHandle;
            lock.unlock();
            due->function(due->record);
            lock.lock();
            running_ = 0;
            idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable changed_, idle_;
    std::map<int, std::shared_ptr<EngineTimer>> timers_;
    std::thread::id tickThread_;
    Clock::time_point origin_{};
    int next_ = 1;
    int running_ = 0;
    bool started_ = false;
};

TimerService& Service() {
    static TimerService* service = new TimerService;  // its thread outlives main
    return *service;
}

void Split(Clock::duration d, std::uint32_t out[2]) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(d).count();
    out[0] = static_cast<std::uint32_t>(ns / 1000000000);
    out[1] = static_cast<std::uint32_t>(ns % 1000000000);
}

}  // namespace

int RTEUSTEinitialize(void) {
    return Service().start() ? 1 : 0;
}

int RTEUSTEnewtimer(RTEUSTEtickfunction function, void* record) {
    if (function == nullptr) {
        return 0;
    }
    return Service().add(function, record);
}

int RTEUSTEsettimer(int timer, const std::uint32_t period[2]) {
    if (period == nullptr || period[1] >= 1000000000u) {
        return 0;
    }
    const auto d = std::chrono::seconds(period[0]) + std::chrono::nanoseconds(period[1]);
    return Service().arm(timer, std::chrono::duration_cast<Clock::duration>(d)) ? 1 : 0;
}

int RTEUSTEdiscardtimer(int timer) {
    return Service().discard(timer) ? 1 : 0;
}

int RTEUSTEsetpriority(int timer, int priority) {
    return Service().setPriority(timer, priority) ? 1 : 0;
}

int RTEUSTEgetpriority(int timer, int* priority) {
    return priority != nullptr && Service().getPriority(timer, *priority) ? 1 : 0;
}

int RTEUSTEresolution(std::uint32_t period[2]) {
    if (period == nullptr) {
        return 0;
    }
    Split(kResolution, period);
    return 1;
}

int RTEUSTElocaltime(std::uint32_t time[2]) {
    if (time == nullptr) {
        return 0;
    }
    Split(Service().elapsed(), time);
    return 1;
}
