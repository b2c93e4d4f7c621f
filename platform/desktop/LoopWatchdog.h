#pragma once

#include <chrono>
#include <functional>

namespace desktop {

// Decides when a looping video that should be playing has gone quiet for too long and needs its
// pipeline restarted. Pure bookkeeping on an injected clock, so tests can drive time.
class LoopWatchdog {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    static constexpr std::chrono::milliseconds kDefaultTimeout{2000};

    explicit LoopWatchdog(Clock clock, std::chrono::milliseconds timeout = kDefaultTimeout);

    // The video should play from now on (also after a restart): the grace period starts anew.
    void start();
    // The video should not play (paused or stopped): never due until the next start().
    void stop();
    void frameArrived();

    // Whether it should play and no frame has arrived within the timeout (counting from the
    // later of the start and the last frame).
    bool isDue() const;
    bool isRunning() const { return running_; }
    std::chrono::milliseconds timeout() const { return timeout_; }

  private:
    Clock clock_;
    std::chrono::milliseconds timeout_;
    bool running_ = false;
    std::chrono::steady_clock::time_point lastSign_{};
};

}  // namespace desktop
