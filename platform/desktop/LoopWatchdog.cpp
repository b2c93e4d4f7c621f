#include "platform/desktop/LoopWatchdog.h"

#include <utility>

namespace desktop {

LoopWatchdog::LoopWatchdog(Clock clock, std::chrono::milliseconds timeout)
    : clock_(std::move(clock)), timeout_(timeout) {}

void LoopWatchdog::start() {
    running_ = true;
    lastSign_ = clock_();
}

void LoopWatchdog::stop() {
    running_ = false;
}

void LoopWatchdog::frameArrived() {
    if (running_) lastSign_ = clock_();
}

bool LoopWatchdog::isDue() const {
    return running_ && clock_() - lastSign_ >= timeout_;
}

}  // namespace desktop
