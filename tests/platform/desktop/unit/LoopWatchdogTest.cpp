#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/desktop/LoopWatchdog.h"
#include "platform/desktop/PipelineRun.h"

namespace {

using namespace std::chrono_literals;

// One step of a script: what happens, then how much time passes, then whether a restart is due.
enum class Event { none, start, stop, frame };
struct Step {
    Event event;
    std::chrono::milliseconds advance;
    bool due;
};

struct Script {
    const char* name;
    std::vector<Step> steps;
    std::chrono::milliseconds timeout = desktop::LoopWatchdog::kDefaultTimeout;
};

class LoopWatchdogScripts : public ::testing::TestWithParam<Script> {};

TEST_P(LoopWatchdogScripts, RestartsOnlyAfterItsTimeoutWithoutAFrameWhileItShouldPlay) {
    std::chrono::steady_clock::time_point now{1000s};
    desktop::LoopWatchdog watchdog([&] { return now; }, GetParam().timeout);
    int index = 0;
    for (const Step& step : GetParam().steps) {
        SCOPED_TRACE(index++);
        if (step.event == Event::start) watchdog.start();
        if (step.event == Event::stop) watchdog.stop();
        if (step.event == Event::frame) watchdog.frameArrived();
        now += step.advance;
        EXPECT_EQ(watchdog.isDue(), step.due);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, LoopWatchdogScripts,
    ::testing::Values(
        Script{"noFirstFrameWithinTheGrace",
               {{Event::none, 1h, false}, {Event::start, 1999ms, false}, {Event::none, 1ms, true}}},
        Script{"framesKeepItQuiet",
               {{Event::start, 1500ms, false},
                {Event::frame, 1500ms, false},
                {Event::frame, 1999ms, false},
                {Event::none, 1ms, true}}},
        Script{"pausedIsNeverDue",
               {{Event::start, 1s, false}, {Event::stop, 1h, false}, {Event::frame, 1h, false}}},
        Script{"startingAgainRestartsTheGrace",
               {{Event::start, 3s, true}, {Event::start, 1s, false}, {Event::none, 1s, true}}},
        Script{"shorterTimeout", {{Event::start, 499ms, false}, {Event::none, 1ms, true}}, 500ms}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

// The limit follows the clip's frames: a few of them, never below the base.
TEST(LoopWatchdogLimit, IsAFewFrameDurationsAndNeverBelowTheBase) {
    struct Case {
        std::chrono::nanoseconds frame;
        std::chrono::milliseconds limit;
    };
    for (const Case& c :
         {Case{0ns, 2000ms}, Case{40ms, 2000ms}, Case{666ms, 2000ms}, Case{1s, 3000ms},
          Case{3s, 9000ms}, Case{3333333333ns, 10000ms}, Case{-5s, 2000ms}, Case{24h, 3h}}) {
        SCOPED_TRACE(c.frame.count());
        EXPECT_EQ(desktop::LoopWatchdog::limitFor(2000ms, c.frame), c.limit);
    }
}

// A clip is a still when it lasts a single frame, or no time at all.
TEST(ClipTiming, ASingleFrameOrNoLengthIsAStill) {
    struct Case {
        std::chrono::nanoseconds frame, length;
        bool still;
    };
    for (const Case& c : {Case{40ms, 40ms, true}, Case{3s, 3s, true}, Case{40ms, 59ms, true},
                          Case{0ns, 0ns, true}, Case{40ms, 80ms, false}, Case{3s, 9s, false},
                          Case{0ns, 5s, false}, Case{40ms, -1ns, false}, Case{0ns, -1ns, false}}) {
        SCOPED_TRACE(std::to_string(c.frame.count()) + " " + std::to_string(c.length.count()));
        EXPECT_EQ(desktop::ClipTiming::from(c.frame, c.length).still, c.still);
    }
}

}  // namespace
