#include "link.h"

#include <thread>

namespace isp {

namespace {

class SteadyClock final : public Clock {
  public:
    TimePoint now() override { return std::chrono::steady_clock::now(); }
    void sleepFor(std::chrono::milliseconds duration) override {
        std::this_thread::sleep_for(duration);
    }
};

}  // namespace

Clock& steadyClock() {
    static SteadyClock clock;
    return clock;
}

}  // namespace isp
