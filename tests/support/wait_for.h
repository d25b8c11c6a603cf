// Waiting in tests: poll a condition until it holds or a generous deadline
// passes, instead of sleeping a fixed time and hoping.
#pragma once

#include <chrono>
#include <thread>

namespace test_support {

template <typename Predicate>
bool WaitFor(Predicate&& done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace test_support
