#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "platform/dispatch/Queue.h"

namespace dispatch::test {
namespace {

struct FifoCase {
    int producers;
    int itemsEach;
    int syncEvery;  // every n-th item goes through sync, the rest through async
};

class QueueFifo : public ::testing::TestWithParam<FifoCase> {};

TEST_P(QueueFifo, KeepsEachProducersOrderAndRunsOneAtATime) {
    const auto c = GetParam();
    auto queue = Queue::createSerial("fifo");
    std::vector<std::vector<int>> seen(c.producers);  // touched only on the queue
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> syncReturnedEarly{false};

    std::vector<std::thread> threads;
    for (int p = 0; p < c.producers; ++p) {
        threads.emplace_back([&, p] {
            for (int i = 0; i < c.itemsEach; ++i) {
                auto work = [&, p, i] {
                    if (running.fetch_add(1) != 0) overlapped = true;
                    seen[p].push_back(i);
                    running.fetch_sub(1);
                };
                if (c.syncEvery > 0 && i % c.syncEvery == 0) {
                    queue->sync(work);
                    // sync returns only after its own item (and all before it) ran.
                    queue->sync([&, p, i] {
                        if (seen[p].empty() || seen[p].back() != i) syncReturnedEarly = true;
                    });
                } else {
                    queue->async(work);
                }
            }
        });
    }
    for (auto& t : threads) t.join();
    queue->sync([] {});

    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(syncReturnedEarly);
    for (int p = 0; p < c.producers; ++p) {
        ASSERT_EQ(seen[p].size(), static_cast<size_t>(c.itemsEach)) << "producer " << p;
        for (int i = 0; i < c.itemsEach; ++i) ASSERT_EQ(seen[p][i], i) << "producer " << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Mixes, QueueFifo,
                         ::testing::Values(FifoCase{1, 2000, 0}, FifoCase{1, 500, 1},
                                           FifoCase{4, 1000, 7}, FifoCase{8, 300, 3},
                                           FifoCase{16, 100, 2}));

TEST(Queue, SyncFromAnotherQueueRunsOnTheTargetAndReturnsTheResult) {
    auto a = Queue::createSerial("a");
    auto b = Queue::createSerial("b");
    std::atomic<int> inside{0};
    Signal done;
    a->async([&] {
        int value = b->syncResult([&] {
            EXPECT_TRUE(b->isCurrent());
            EXPECT_EQ(Queue::current(), b);
            inside = 1;
            return 42;
        });
        EXPECT_EQ(value, 42);
        EXPECT_EQ(Queue::current(), a);
        done.add();
    });
    ASSERT_TRUE(done.waitFor(1));
    EXPECT_EQ(inside, 1);
}

TEST(Queue, SyncWaitsForQueuedWorkAndHandsBackTheQueueAfterwards) {
    auto queue = Queue::createSerial("busy");
    std::vector<int> order;
    Signal started, release;
    queue->async([&] {
        started.add();
        release.waitFor(1);
        order.push_back(1);
    });
    queue->async([&] { order.push_back(2); });
    ASSERT_TRUE(started.waitFor(1));
    std::thread releaser([&] { release.add(); });
    queue->sync([&] { order.push_back(3); });
    queue->async([&] { order.push_back(4); });
    queue->sync([&] { order.push_back(5); });
    releaser.join();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
}

TEST(Queue, NestedSyncBetweenTwoQueuesSeesBothAndCannotDeadlock) {
    AssertionRecorder recorder;
    auto a = Queue::createSerial("outer");
    auto b = Queue::createSerial("inner");
    static const int keyA = 0, keyB = 0;
    a->setSpecific(&keyA, std::make_shared<int>(1));
    b->setSpecific(&keyB, std::make_shared<int>(2));
    std::thread([&] {
        a->sync([&] {
            b->sync([&] {
                EXPECT_EQ(Queue::current(), b);
                EXPECT_TRUE(a->isCurrent());
                EXPECT_TRUE(b->isCurrent());
                auto va = Queue::getSpecific(&keyA), vb = Queue::getSpecific(&keyB);
                ASSERT_TRUE(va && vb);
                EXPECT_EQ(*static_cast<int*>(va.get()), 1);
                EXPECT_EQ(*static_cast<int*>(vb.get()), 2);
                a->sync([] {});  // would deadlock: reported instead
            });
            EXPECT_FALSE(b->isCurrent());
        });
    }).join();
    ASSERT_EQ(recorder.messages().size(), 1u);
    EXPECT_NE(recorder.messages()[0].find("'outer'"), std::string::npos);
}

TEST(Queue, SyncPropagatesExceptionsAndLeavesTheQueueUsable) {
    const std::vector<std::shared_ptr<Queue>> queues = {Queue::createSerial("throws"),
                                                        Queue::global(QoS::low)};
    for (const auto& queue : queues) {
        EXPECT_THROW(queue->sync([] { throw std::runtime_error("boom"); }), std::runtime_error)
            << queue->label();
        EXPECT_EQ(queue->syncResult([] { return 7; }), 7) << queue->label();
    }
    // The main queue runs sync work on the main thread and hands exceptions back.
    std::atomic<bool> threw{false};
    std::thread other([&] {
        try {
            Queue::main()->sync([] { throw std::logic_error("main"); });
        } catch (const std::logic_error&) {
            threw = true;
        }
    });
    EXPECT_TRUE(Queue::main()->runUntil([&] { return threw.load(); }, kPatience));
    other.join();
}

TEST(Queue, SyncResultMovesValuesAndReturnsReferences) {
    auto queue = Queue::createSerial("results");
    auto p = queue->syncResult([] { return std::make_unique<int>(5); });
    ASSERT_TRUE(p);
    EXPECT_EQ(*p, 5);
    int stored = 3;
    int& ref = queue->syncResult([&]() -> int& { return stored; });
    EXPECT_EQ(&ref, &stored);
}

enum class Context { async, sync, nested, global, mainDrain, mainOutside, plainThread };

struct SpecificCase {
    const char* name;
    Context context;
    int expected;  // 0 = null
};

class QueueSpecific : public ::testing::TestWithParam<SpecificCase> {};

TEST_P(QueueSpecific, GetSpecificAnswersForTheQueueTheCallerRunsOn) {
    static const int key = 0;
    const auto c = GetParam();
    auto queue = Queue::createSerial("specific");
    auto other = Queue::createSerial("other");
    queue->setSpecific(&key, std::make_shared<int>(1));
    Queue::main()->setSpecific(&key, std::make_shared<int>(2));
    Queue::global(QoS::high)->setSpecific(&key, std::make_shared<int>(3));

    std::atomic<int> got{-1};
    auto probe = [&] {
        auto v = Queue::getSpecific(&key);
        got = v ? *static_cast<int*>(v.get()) : 0;
    };
    switch (c.context) {
        case Context::async:
            queue->async(probe);
            break;
        case Context::sync:
            std::thread([&] { queue->sync(probe); }).join();
            break;
        case Context::nested:
            // `other` has no value: the queue it was entered from answers.
            queue->async([other, probe] { other->sync(probe); });
            break;
        case Context::global:
            Queue::global(QoS::high)->async(probe);
            break;
        case Context::mainDrain:
            Queue::main()->async(probe);
            Queue::main()->runUntil([&] { return got != -1; }, kPatience);
            break;
        case Context::mainOutside:
            probe();
            break;
        case Context::plainThread:
            std::thread(probe).join();
            break;
    }
    ASSERT_TRUE(eventually([&] { return got != -1; }));
    EXPECT_EQ(got, c.expected);
    Queue::main()->setSpecific(&key, nullptr);
    Queue::global(QoS::high)->setSpecific(&key, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Contexts, QueueSpecific,
                         ::testing::Values(SpecificCase{"async", Context::async, 1},
                                           SpecificCase{"sync", Context::sync, 1},
                                           SpecificCase{"nested", Context::nested, 1},
                                           SpecificCase{"global", Context::global, 3},
                                           SpecificCase{"mainDrain", Context::mainDrain, 2},
                                           SpecificCase{"mainOutside", Context::mainOutside, 2},
                                           SpecificCase{"plainThread", Context::plainThread, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Queue, SpecificKeysAreIndependentAndNullRemoves) {
    static const int k1 = 0, k2 = 0;
    auto queue = Queue::createSerial("keys");
    auto v1 = std::make_shared<int>(10);
    queue->setSpecific(&k1, v1);
    queue->setSpecific(&k2, std::make_shared<int>(20));
    EXPECT_EQ(queue->specific(&k1), v1);
    queue->setSpecific(&k2, nullptr);
    EXPECT_EQ(queue->specific(&k2), nullptr);
    EXPECT_EQ(queue->specific(&k1), v1);
    EXPECT_EQ(Queue::createSerial("fresh")->specific(&k1), nullptr);
}

TEST(Queue, CurrentIsNullOnAThreadWithoutQueue) {
    std::shared_ptr<Queue> seen = Queue::main();
    bool mainCurrent = true;
    std::thread([&] {
        seen = Queue::current();
        mainCurrent = Queue::main()->isCurrent();
    }).join();
    EXPECT_EQ(seen, nullptr);
    EXPECT_FALSE(mainCurrent);
    EXPECT_EQ(Queue::current(), Queue::main());  // the main thread outside a drain
}

TEST(Queue, AsyncAfterFiresInDeadlineOrderAndNeverEarly) {
    // Offsets in milliseconds, submitted out of order; equal deadlines keep submission order.
    const std::vector<int> offsets = {40, 10, 25, 10, 0, 60, 25, 5};
    auto queue = Queue::createSerial("timed");
    auto start = Clock::now() + 200ms;  // everything is submitted before the first is due
    struct Fired {
        int index;
        Clock::time_point deadline, at;
    };
    std::vector<Fired> fired;
    Signal done;
    for (int i = 0; i < static_cast<int>(offsets.size()); ++i) {
        auto deadline = start + std::chrono::milliseconds(offsets[i]);
        queue->asyncAfter(deadline, [&, i, deadline] {
            fired.push_back({i, deadline, Clock::now()});
            done.add();
        });
    }
    ASSERT_TRUE(done.waitFor(static_cast<int>(offsets.size())));
    queue->sync([] {});
    std::vector<int> expected(offsets.size());
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = static_cast<int>(i);
    std::stable_sort(expected.begin(), expected.end(),
                     [&](int a, int b) { return offsets[a] < offsets[b]; });
    ASSERT_EQ(fired.size(), offsets.size());
    for (size_t i = 0; i < fired.size(); ++i) {
        EXPECT_EQ(fired[i].index, expected[i]) << "position " << i;
        EXPECT_GE(fired[i].at, fired[i].deadline) << "index " << fired[i].index;
    }
}

TEST(Queue, AsyncAfterWithPastDeadlineOrDelayStillRuns) {
    auto queue = Queue::createSerial("past");
    Signal done;
    queue->asyncAfter(Clock::time_point{}, [&] { done.add(); });
    queue->asyncAfter(Clock::now() - 1h, [&] { done.add(); });
    queue->asyncAfter(-5ms, [&] { done.add(); });
    auto before = Clock::now();
    std::atomic<bool> early{false};
    queue->asyncAfter(20ms, [&] {
        if (Clock::now() < before + 20ms) early = true;
        done.add();
    });
    ASSERT_TRUE(done.waitFor(4));
    EXPECT_FALSE(early);
}

TEST(Queue, GlobalPoolGrowsPastBlockedWork) {
    constexpr int kBlocked = 64;  // above the pool's eager limit on any machine we run on
    // Shared: the blocked tasks may still be waking up when the test ends.
    auto release = std::make_shared<Signal>(), started = std::make_shared<Signal>();
    Signal extraRan;
    for (int i = 0; i < kBlocked; ++i) {
        Queue::global(i % 2 ? QoS::low : QoS::normal)->async([release, started] {
            started->add();
            release->waitFor(1);
        });
    }
    Queue::global(QoS::normal)->async([&] { extraRan.add(); });
    bool ran = extraRan.waitFor(1);
    bool allStarted = started->waitFor(kBlocked);
    release->add();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(allStarted);
}

TEST(Queue, GlobalQueuesAreDistinctAndConcurrent) {
    auto low = Queue::global(QoS::low), normal = Queue::global(), high = Queue::global(QoS::high);
    EXPECT_NE(low, normal);
    EXPECT_NE(normal, high);
    EXPECT_NE(low, high);
    EXPECT_EQ(normal, Queue::global(QoS::normal));
    for (const auto& q : {low, normal, high}) EXPECT_TRUE(q->isConcurrent());
    EXPECT_FALSE(Queue::createSerial("s")->isConcurrent());
    EXPECT_FALSE(Queue::main()->isConcurrent());
    // Two items that wait for each other only finish when they run at the same time.
    auto a = std::make_shared<Signal>(), b = std::make_shared<Signal>();
    Signal both;
    normal->async([a, b, &both] {
        a->add();
        if (b->waitFor(1)) both.add();
    });
    normal->async([a, b, &both] {
        b->add();
        if (a->waitFor(1)) both.add();
    });
    EXPECT_TRUE(both.waitFor(2));
}

TEST(Queue, SerialQueueStaysAliveWhileWorkIsQueued) {
    Signal done, gate;
    std::weak_ptr<Queue> weak;
    {
        auto queue = Queue::createSerial("short-lived");
        weak = queue;
        queue->async([&] { gate.waitFor(1); });
        queue->async([&] { done.add(); });
        gate.add();
    }
    ASSERT_TRUE(done.waitFor(1));
    EXPECT_TRUE(eventually([&] { return weak.expired(); }));
}

// ---- main queue ----

TEST(MainQueue, RunUntilRunsWorkPostedFromOtherThreads) {
    std::vector<int> order;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) {
                Queue::main()->async([] { EXPECT_TRUE(isMainThread()); });
            }
            (void)t;
        });
    }
    std::atomic<int> syncs{0};
    std::thread syncer([&] {
        for (int i = 0; i < 10; ++i) {
            Queue::main()->sync([&, i] {
                EXPECT_TRUE(Queue::main()->isCurrent());
                order.push_back(i);
            });
            ++syncs;
        }
    });
    EXPECT_TRUE(Queue::main()->runUntil([&] { return syncs == 10; }, kPatience));
    for (auto& t : threads) t.join();
    syncer.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(MainQueue, RunUntilTimesOutWhenThePredicateStaysFalse) {
    auto before = Clock::now();
    EXPECT_FALSE(Queue::main()->runUntil([] { return false; }, 30ms));
    EXPECT_GE(Clock::now(), before + 30ms);
    // A predicate turned true by another thread without any main-queue work.
    std::atomic<bool> flag{false};
    std::thread setter([&] { flag = true; });
    EXPECT_TRUE(Queue::main()->runUntil([&] { return flag.load(); }, kPatience));
    setter.join();
}

TEST(MainQueue, AsyncAfterOnMainRunsOnTheMainThread) {
    std::atomic<bool> ran{false};
    auto deadline = Clock::now() + 15ms;
    bool early = false, onMain = false;
    Queue::main()->asyncAfter(deadline, [&] {
        early = Clock::now() < deadline;
        onMain = isMainThread();
        ran = true;
    });
    EXPECT_TRUE(Queue::main()->runUntil([&] { return ran.load(); }, kPatience));
    EXPECT_FALSE(early);
    EXPECT_TRUE(onMain);
}

TEST(MainQueue, DrainRunsOnlyWhatWasQueuedAndWakesForTheRest) {
    std::atomic<int> wakes{0};
    Queue::main()->setWaker([&] { ++wakes; });
    int ran = 0;
    Queue::main()->async([&] {
        ++ran;
        Queue::main()->async([&] { ++ran; });   // queued during the drain
        EXPECT_EQ(Queue::main()->drain(), 0u);  // no re-entry
    });
    EXPECT_EQ(wakes, 1);  // empty to non-empty
    Queue::main()->async([&] { ++ran; });
    EXPECT_EQ(wakes, 1);
    EXPECT_EQ(Queue::main()->drain(), 2u);
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(wakes, 2);  // work was left behind
    EXPECT_EQ(Queue::main()->drain(), 1u);
    EXPECT_EQ(ran, 3);
    Queue::main()->setWaker(nullptr);
}

// ---- misuse ----

TEST_P(DispatchMisuse, GoesThroughTheAssertionHandlerAndReturns) {
    AssertionRecorder recorder;
    GetParam().misuse();
    auto messages = recorder.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find(GetParam().text), std::string::npos) << messages[0];
}

INSTANTIATE_TEST_SUITE_P(
    QueueCases, DispatchMisuse,
    ::testing::Values(
        MisuseCase{"syncOntoCurrentSerial",
                   [] {
                       auto q = Queue::createSerial("self");
                       q->sync([&] { q->sync([] { ADD_FAILURE() << "ran"; }); });
                   },
                   "sync onto queue 'self'"},
        MisuseCase{"syncOntoCurrentFromAsync",
                   [] {
                       auto q = Queue::createSerial("self-async");
                       Signal done;
                       q->async([&] {
                           q->sync([] {});
                           done.add();
                       });
                       done.waitFor(1);
                   },
                   "would deadlock"},
        MisuseCase{"syncOntoMainFromMain",
                   [] { Queue::main()->sync([] { ADD_FAILURE() << "ran"; }); },
                   "sync onto queue 'main-thread'"},
        MisuseCase{"drainOffMain", [] { std::thread([] { Queue::main()->drain(); }).join(); },
                   "only on the main thread"},
        MisuseCase{"drainSerial", [] { Queue::createSerial("x")->drain(); }, "only the main"},
        MisuseCase{"wakerOnSerial", [] { Queue::createSerial("w")->setWaker([] {}); },
                   "only the main queue has a waker"},
        MisuseCase{"runUntilInsideMainWork",
                   [] {
                       bool done = false;
                       Queue::main()->async([&] {
                           Queue::main()->runUntil([] { return false; }, 10s);
                           done = true;
                       });
                       Queue::main()->drain();
                       EXPECT_TRUE(done);
                   },
                   "runUntil from work running on the main queue"},
        MisuseCase{"exceptionInAsyncWork",
                   [] {
                       auto q = Queue::createSerial("thrower");
                       q->async([] { throw std::runtime_error("lost"); });
                       q->sync([] {});
                   },
                   "Uncaught exception in work on queue 'thrower': lost"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QueueDeath, DefaultAssertionHandlerAborts) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto q = Queue::createSerial("fatal");
    EXPECT_DEATH(q->sync([&] { q->sync([] {}); }), "Fatal error: sync onto queue 'fatal'");
}

}  // namespace
}  // namespace dispatch::test

namespace dispatch::test {
namespace {

// Deadlines far beyond what the kernel timer takes must neither abort nor overflow, nor hold back
// nearer work.
TEST(Queue, FarFutureDeadlinesNeverFireAndDoNotBlockNearerWork) {
    struct Case {
        const char* name;
        std::function<void(Queue&, Work)> submit;
    };
    const std::vector<Case> cases = {
        {"time_point max", [](Queue& q, Work w) { q.asyncAfter(Clock::time_point::max(), w); }},
        {"near the end of the clock",
         [](Queue& q, Work w) { q.asyncAfter(Clock::time_point::max() - 1h, w); }},
        {"nanoseconds max",
         [](Queue& q, Work w) { q.asyncAfter(std::chrono::nanoseconds::max(), w); }},
    };
    auto queue = Queue::createSerial("far");
    std::atomic<int> farFired{0};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.submit(*queue, [&] { ++farFired; });
        Signal near;
        queue->asyncAfter(5ms, [&] { near.add(); });
        ASSERT_TRUE(near.waitFor(1));
    }
    EXPECT_EQ(farFired.load(), 0);
}

TEST(MainQueue, RunUntilTakesAnUnboundedTimeout) {
    bool ran = false;
    Queue::main()->async([&] { ran = true; });
    EXPECT_TRUE(Queue::main()->runUntil([&] { return ran; }, std::chrono::milliseconds::max()));
}

}  // namespace
}  // namespace dispatch::test
