#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "platform/desktop/MainQueuePump.h"
#include "platform/dispatch/Queue.h"

namespace {

using namespace std::chrono_literals;
using dispatch::Clock;
using dispatch::Queue;

constexpr int kPatienceMs = 20000;

// Uses the application object of the test program when there is one, else a private one.
class PumpTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "pump-test";
            static char* argv[] = {name, nullptr};
            app_ = std::make_unique<QCoreApplication>(argc, argv);
        }
        desktop::MainQueuePump::install();
    }
    void TearDown() override { app_.reset(); }

    // Runs Qt's loop until `done` is called from main-queue work, or the patience runs out.
    bool runQtLoop(const std::function<void(std::function<void()> done)>& start) {
        QEventLoop loop;
        bool finished = false;
        QTimer::singleShot(kPatienceMs, &loop, &QEventLoop::quit);
        start([&] {
            finished = true;
            loop.quit();
        });
        loop.exec();
        return finished;
    }

    std::unique_ptr<QCoreApplication> app_;
};

TEST_F(PumpTest, WorkFromOtherThreadsRunsOnTheMainThreadInOrder) {
    constexpr int kThreads = 4, kEach = 200;
    std::vector<std::vector<int>> seen(kThreads);
    std::atomic<bool> offMain{false};
    std::vector<std::thread> threads;
    bool ok = runQtLoop([&](std::function<void()> done) {
        auto remaining = std::make_shared<int>(kThreads * kEach);
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t, remaining, done] {
                for (int i = 0; i < kEach; ++i) {
                    Queue::main()->async([&, t, i, remaining, done] {
                        if (!dispatch::isMainThread()) offMain = true;
                        seen[t].push_back(i);
                        if (--*remaining == 0) done();
                    });
                }
            });
        }
    });
    for (auto& t : threads) t.join();
    ASSERT_TRUE(ok);
    EXPECT_FALSE(offMain);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<size_t>(kEach));
        for (int i = 0; i < kEach; ++i) ASSERT_EQ(seen[t][i], i);
    }
}

TEST_F(PumpTest, TimedMainWorkFiresWhileQtRunsAndNotEarly) {
    const std::vector<std::chrono::milliseconds> delays = {30ms, 0ms, 10ms};
    std::vector<int> order;
    bool early = false;
    bool ok = runQtLoop([&](std::function<void()> done) {
        auto start = Clock::now() + 100ms;  // all submitted before the first is due
        for (int i = 0; i < static_cast<int>(delays.size()); ++i) {
            auto deadline = start + delays[i];
            Queue::main()->asyncAfter(deadline, [&, i, deadline, done] {
                if (Clock::now() < deadline) early = true;
                order.push_back(i);
                if (order.size() == delays.size()) done();
            });
        }
    });
    ASSERT_TRUE(ok);
    EXPECT_FALSE(early);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 0}));
}

TEST_F(PumpTest, SyncFromAnotherThreadIsServedByQtsLoop) {
    std::thread worker;
    int answer = 0;
    bool ok = runQtLoop([&](std::function<void()> done) {
        worker = std::thread([&, done] {
            answer = Queue::main()->syncResult([] { return dispatch::isMainThread() ? 1 : -1; });
            Queue::main()->async(done);
        });
    });
    worker.join();
    ASSERT_TRUE(ok);
    EXPECT_EQ(answer, 1);
}

TEST_F(PumpTest, InstallIsIdempotentAndWorkQueuedBeforeItRuns) {
    desktop::MainQueuePump::install();
    EXPECT_TRUE(desktop::MainQueuePump::isInstalled());
    int runs = 0;
    bool ok = runQtLoop([&](std::function<void()> done) {
        Queue::main()->async([&] { ++runs; });
        desktop::MainQueuePump::install();  // no second pump, no second drain of the same work
        Queue::main()->async([&, done] {
            ++runs;
            done();
        });
    });
    ASSERT_TRUE(ok);
    EXPECT_EQ(runs, 2);
}

TEST_F(PumpTest, ANewApplicationObjectGetsANewPump) {
    if (!app_) GTEST_SKIP() << "the test program owns the application object";
    app_.reset();
    EXPECT_FALSE(desktop::MainQueuePump::isInstalled());
    Queue::main()->async([] {});  // no pump: only queued
    SetUp();
    EXPECT_TRUE(desktop::MainQueuePump::isInstalled());
    bool ran = false;
    bool ok = runQtLoop([&](std::function<void()> done) {
        Queue::main()->async([&, done] {
            ran = true;
            done();
        });
    });
    EXPECT_TRUE(ok);
    EXPECT_TRUE(ran);
}

}  // namespace
