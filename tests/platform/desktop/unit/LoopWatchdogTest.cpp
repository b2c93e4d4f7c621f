#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "platform/desktop/LoopWatchdog.h"

namespace {

using namespace std::chrono_literals;

struct FakeClock {
    std::chrono::steady_clock::time_point now{std::chrono::seconds(1000)};
    desktop::LoopWatchdog::Clock clock() {
        return [this] { return now; };
    }
};

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
};

class LoopWatchdogScripts : public ::testing::TestWithParam<Script> {};

TEST_P(LoopWatchdogScripts, RestartsOnlyAfterTwoSecondsWithoutAFrameWhileItShouldPlay) {
    FakeClock clock;
    desktop::LoopWatchdog watchdog(clock.clock());
    int index = 0;
    for (const Step& step : GetParam().steps) {
        SCOPED_TRACE(index++);
        switch (step.event) {
            case Event::start: watchdog.start(); break;
            case Event::stop: watchdog.stop(); break;
            case Event::frame: watchdog.frameArrived(); break;
            case Event::none: break;
        }
        clock.now += step.advance;
        EXPECT_EQ(watchdog.isDue(), step.due);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, LoopWatchdogScripts,
    ::testing::Values(
        Script{"neverStartedIsNeverDue", {{Event::none, 1h, false}, {Event::frame, 1h, false}}},
        Script{"noFirstFrameWithinTheGrace",
               {{Event::start, 1999ms, false}, {Event::none, 1ms, true}}},
        Script{"framesKeepItQuiet",
               {{Event::start, 1500ms, false},
                {Event::frame, 1500ms, false},
                {Event::frame, 1999ms, false},
                {Event::none, 1ms, true}}},
        Script{"pausedIsNeverDue",
               {{Event::start, 1s, false}, {Event::stop, 1h, false}, {Event::frame, 1h, false}}},
        Script{"startingAgainRestartsTheGrace",
               {{Event::start, 3s, true}, {Event::start, 1s, false}, {Event::none, 1s, true}}},
        Script{"framesWhilePausedDoNotCount",
               {{Event::stop, 0ms, false},
                {Event::frame, 10s, false},
                {Event::start, 1s, false},
                {Event::none, 1s, true}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoopWatchdog, HonoursItsTimeout) {
    FakeClock clock;
    desktop::LoopWatchdog watchdog(clock.clock(), 500ms);
    EXPECT_EQ(watchdog.timeout(), 500ms);
    watchdog.start();
    clock.now += 499ms;
    EXPECT_FALSE(watchdog.isDue());
    clock.now += 1ms;
    EXPECT_TRUE(watchdog.isDue());
    EXPECT_TRUE(watchdog.isRunning());
}

}  // namespace
