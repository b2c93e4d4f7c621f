#pragma once

// A bounded wait on a condition nothing signals (a file's contents, a screenshot, a port): checks
// it every `interval` until it holds or `timeout` passes, then once more.

#include <chrono>
#include <functional>
#include <thread>

namespace mstest {

inline bool pollUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(15),
                      std::chrono::milliseconds interval = std::chrono::milliseconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(interval);
    }
    return condition();
}

}  // namespace mstest
