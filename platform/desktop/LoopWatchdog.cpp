#include "platform/desktop/LoopWatchdog.h"

#include <algorithm>
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

std::chrono::milliseconds LoopWatchdog::limitFor(std::chrono::milliseconds base,
                                                 std::chrono::nanoseconds frame) {
    using std::chrono::nanoseconds;
    // Anything past an hour per frame is no clip to watch over; the bound keeps the sum finite.
    const nanoseconds perFrame =
        std::clamp(frame, nanoseconds(0), nanoseconds(std::chrono::hours(1)));
    const auto frames = std::chrono::ceil<std::chrono::milliseconds>(perFrame * kFramesBeforeStall);
    return std::max(base, frames);
}

bool LoopWatchdog::isDue() const {
    return running_ && clock_() - lastSign_ >= timeout_;
}

}  // namespace desktop
