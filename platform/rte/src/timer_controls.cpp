// Timer controls: one engine thread watches every timer control and posts
// its tick to the event queue, so the callback runs on the user-interface
// thread. A tick still waiting in the queue is not posted again: a busy loop
// sees late ticks, never a pile of them.
#include "engine.h"

namespace rte::detail {

namespace {

using Clock = std::chrono::steady_clock;

Clock::duration Period(const ControlRecord& c) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(std::max(c.interval, 0.001)));
}

}  // namespace

void Engine::timerControlChanged(ControlRecord& control) {
    if (control.kind != ControlKind::Timer) {
        return;
    }
    control.nextTick = Clock::now() + Period(control);
    timerCv_.notify_all();
}

void Engine::tickTimers() {
    std::unique_lock lock(modelMutex_);
    while (!timerStop_) {
        const auto now = Clock::now();
        auto wakeAt = now + std::chrono::seconds(1);
        std::vector<Event> due;
        for (auto& [handle, panel] : panels_) {
            for (auto& c : panel.controls) {
                if (c.kind != ControlKind::Timer || !c.enabled) {
                    continue;
                }
                if (c.nextTick <= now) {
                    if (!c.tickQueued && c.callback != nullptr) {
                        c.tickQueued = true;
                        due.push_back({Event::Type::Control, handle, c.id, EVENT_TIMER_TICK});
                    }
                    const auto period = Period(c);
                    c.nextTick += period * ((now - c.nextTick) / period + 1);
                }
                wakeAt = std::min(wakeAt, c.nextTick);
            }
        }
        if (!due.empty()) {
            lock.unlock();
            for (const auto& event : due) {
                post(event);
            }
            lock.lock();
            continue;
        }
        timerCv_.wait_until(lock, wakeAt);
    }
}

}  // namespace rte::detail
