#include "server_thread.hpp"

#include <utility>

namespace stm32sim {

void ServerThread::start(std::function<void()> loop) {
    stopping_ = false;
    target_.set_output_listener([this] { wakeup_.notify(); });
    thread_ = std::thread(std::move(loop));
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
