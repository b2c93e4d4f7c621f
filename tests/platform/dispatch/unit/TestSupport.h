#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch/Assert.h"

namespace dispatch::test {

using namespace std::chrono_literals;

// Generous bound for conditions that should hold quickly; only a hang reaches it.
constexpr auto kPatience = std::chrono::seconds(20);

// Waits on a condition, never on a fixed delay.
class Signal {
  public:
    void add(int n = 1) {
        std::lock_guard lock(mutex_);
        count_ += n;
        cv_.notify_all();
    }
    int count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }
    bool waitFor(int n, std::chrono::milliseconds timeout = kPatience) {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, timeout, [&] { return count_ >= n; });
    }

  private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    int count_ = 0;
};

inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = kPatience) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

// Records assertion texts instead of aborting, for the duration of a test.
class AssertionRecorder {
  public:
    AssertionRecorder() {
        setAssertionHandler([this](const std::string& message, const char*, int) {
            std::lock_guard lock(mutex_);
            messages_.push_back(message);
        });
    }
    ~AssertionRecorder() { setAssertionHandler(nullptr); }
    std::vector<std::string> messages() const {
        std::lock_guard lock(mutex_);
        return messages_;
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> messages_;
};

// One table shape for every API misuse: what to do, and a piece of the text the assertion
// handler must receive (exactly once).
struct MisuseCase {
    const char* name;
    std::function<void()> misuse;
    const char* text;
};

class DispatchMisuse : public ::testing::TestWithParam<MisuseCase> {};

}  // namespace dispatch::test
