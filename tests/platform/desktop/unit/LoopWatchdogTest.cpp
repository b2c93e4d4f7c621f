#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/desktop/LoopWatchdog.h"

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
               {{Event::start, 1500ms, false}, {Event::frame, 1500ms, false},
                {Event::frame, 1999ms, false}, {Event::none, 1ms, true}}},
        Script{"pausedIsNeverDue",
               {{Event::start, 1s, false}, {Event::stop, 1h, false}, {Event::frame, 1h, false}}},
        Script{"startingAgainRestartsTheGrace",
               {{Event::start, 3s, true}, {Event::start, 1s, false}, {Event::none, 1s, true}}},
        Script{"shorterTimeout", {{Event::start, 499ms, false}, {Event::none, 1ms, true}}, 500ms}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
