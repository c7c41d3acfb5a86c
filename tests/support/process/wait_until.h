// Waiting for a condition in tests: poll until it holds or a deadline passes, so a test waits
// only as long as the system needs, with the deadline sized for a loaded machine.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace zntr::test {

// Polls every `interval` until the condition holds or the time is up; whether it held.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout,
                      std::chrono::milliseconds interval = std::chrono::milliseconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(interval);
    }
    return true;
}

}  // namespace zntr::test
