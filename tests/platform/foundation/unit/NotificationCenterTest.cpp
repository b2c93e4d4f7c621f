#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/dispatch/Queue.h"
#include "platform/foundation/NotificationCenter.h"

namespace foundation {
namespace {

const std::string kHide = "com.quorvanesoftware.mantleshade.hideOverlay";

TEST(NotificationCenter, SynchronousDeliveryByNameInOrder) {
    NotificationCenter center;
    std::vector<std::string> log;
    center.addObserver(kHide, nullptr, [&] { log.push_back("a"); });
    center.addObserver("other", nullptr, [&] { log.push_back("other"); });
    center.addObserver(kHide, nullptr, [&] { log.push_back("b"); });
    center.post(kHide);
    EXPECT_EQ(log, (std::vector<std::string>{"a", "b"}));
    center.post("nobody");
    center.post("other");
    EXPECT_EQ(log, (std::vector<std::string>{"a", "b", "other"}));
}

TEST(NotificationCenter, DeliversOnTheGivenQueue) {
    NotificationCenter center;
    auto queue = dispatch::Queue::createSerial("test.notifications");
    std::atomic<int> calls{0};
    std::atomic<bool> onQueue{false};
    center.addObserver(kHide, queue, [&] {
        onQueue = queue->isCurrent();
        ++calls;
    });
    center.post(kHide);
    center.post(kHide);
    queue->sync([] {});  // everything posted before is done
    EXPECT_EQ(calls.load(), 2);
    EXPECT_TRUE(onQueue.load());
}

TEST(NotificationCenter, MainQueueDeliveryWaitsForTheDrain) {
    NotificationCenter center;
    int calls = 0;
    auto token = center.addObserver(kHide, dispatch::Queue::main(), [&] { ++calls; });
    center.post(kHide);
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(
        dispatch::Queue::main()->runUntil([&] { return calls == 1; }, std::chrono::seconds(5)));
    center.removeObserver(token);
}

TEST(NotificationCenter, RemovalByTokenAndWhileQueued) {
    NotificationCenter center;
    auto& main = dispatch::Queue::main();
    int kept = 0, removedSync = 0, removedQueued = 0;
    auto syncToken = center.addObserver(kHide, nullptr, [&] { ++removedSync; });
    auto queuedToken = center.addObserver(kHide, main, [&] { ++removedQueued; });
    center.addObserver(kHide, main, [&] { ++kept; });

    center.removeObserver(syncToken);
    center.post(kHide);                  // queued for both main-queue observers
    center.removeObserver(queuedToken);  // its queued delivery is dropped
    center.removeObserver(queuedToken);  // twice is harmless
    center.removeObserver(999999);       // unknown token is harmless
    EXPECT_TRUE(main->runUntil([&] { return kept == 1; }, std::chrono::seconds(5)));
    main->drain();
    EXPECT_EQ(removedSync, 0);
    EXPECT_EQ(removedQueued, 0);
    EXPECT_EQ(kept, 1);
}

TEST(NotificationCenter, ObserversMayChangeTheCenterDuringDelivery) {
    NotificationCenter center;
    int selfRemoving = 0, added = 0;
    NotificationCenter::ObserverToken self = 0;
    self = center.addObserver(kHide, nullptr, [&] {
        ++selfRemoving;
        center.removeObserver(self);
        center.addObserver(kHide, nullptr, [&] { ++added; });
    });
    center.post(kHide);  // the observer added during delivery is not part of this post
    EXPECT_EQ(selfRemoving, 1);
    EXPECT_EQ(added, 0);
    center.post(kHide);
    EXPECT_EQ(selfRemoving, 1);
    EXPECT_EQ(added, 1);
}

TEST(NotificationCenter, ConcurrentPostAndRemove) {
    NotificationCenter center;
    auto queue = dispatch::Queue::createSerial("test.notifications.concurrent");
    std::atomic<int> calls{0};
    std::vector<std::thread> posters;
    for (int t = 0; t < 3; ++t)
        posters.emplace_back([&] {
            for (int i = 0; i < 500; ++i) center.post(kHide);
        });
    std::thread churn([&] {
        for (int i = 0; i < 200; ++i) {
            auto a = center.addObserver(kHide, queue, [&] { ++calls; });
            auto b = center.addObserver(kHide, nullptr, [&] { ++calls; });
            center.removeObserver(a);
            center.removeObserver(b);
        }
    });
    for (auto& p : posters) p.join();
    churn.join();
    queue->sync([] {});
    // Every delivery that ran did so before its observer was removed; afterwards nothing runs.
    int settled = calls.load();
    center.post(kHide);
    queue->sync([] {});
    EXPECT_EQ(calls.load(), settled);
}

TEST(NotificationCenter, DefaultCenterIsOneInstance) {
    EXPECT_EQ(&NotificationCenter::defaultCenter(), &NotificationCenter::defaultCenter());
    int calls = 0;
    auto token = NotificationCenter::defaultCenter().addObserver(kHide, nullptr, [&] { ++calls; });
    NotificationCenter::defaultCenter().post(kHide);
    NotificationCenter::defaultCenter().removeObserver(token);
    NotificationCenter::defaultCenter().post(kHide);
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace foundation
