#include "server_thread.hpp"

#include <sys/prctl.h>

#include <utility>

namespace stm32sim {

void ServerThread::start(std::function<void()> loop) {
    stopping_ = false;
    target_.set_output_listener([this] { wakeup_.notify(); });
    thread_ = std::thread([loop = std::move(loop)] {
        // A byte goes out when its last bit is due, not up to the kernel's default 50 µs of
        // timer slack later: the line's pace is the model's, not the scheduler's.
        ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        loop();
    });
}

void ServerThread::stop() {
    if (!thread_.joinable()) {
        return;
    }
    stopping_ = true;
    wakeup_.notify();
    thread_.join();
    target_.set_output_listener(nullptr);
}

}  // namespace stm32sim
