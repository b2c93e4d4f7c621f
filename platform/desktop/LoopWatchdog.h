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
    static constexpr int kFramesBeforeStall = 3;

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
    // Takes effect at once, counting from the same start or frame.
    void setTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    // The limit for a clip whose frames last `frame` (zero when unknown): a few frame durations,
    // and never less than `base`, so a slow slideshow is not taken for a stall.
    static std::chrono::milliseconds limitFor(std::chrono::milliseconds base,
                                              std::chrono::nanoseconds frame);

  private:
    Clock clock_;
    std::chrono::milliseconds timeout_;
    bool running_ = false;
    std::chrono::steady_clock::time_point lastSign_{};
};

}  // namespace desktop
