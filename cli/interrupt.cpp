#include "interrupt.h"

#include <signal.h>

namespace cli {
namespace {

std::atomic<bool> gInterrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

struct sigaction gPrevious {};

extern "C" void onInterrupt(int) {
    gInterrupted.store(true, std::memory_order_relaxed);
}

}  // namespace

InterruptWatch::InterruptWatch() {
    gInterrupted.store(false);
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;  // the next SIGINT is not ours to soften
    sigaction(SIGINT, &action, &gPrevious);
}

InterruptWatch::~InterruptWatch() {
    sigaction(SIGINT, &gPrevious, nullptr);
}

std::atomic<bool>& InterruptWatch::flag() {
    return gInterrupted;
}

}  // namespace cli
