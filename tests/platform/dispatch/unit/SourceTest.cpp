#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "platform/dispatch/Source.h"

namespace dispatch::test {
namespace {

// A bound, non-blocking loopback UDP socket and a sender aimed at it.
struct UdpPair {
    int receiver = -1;
    int sender = -1;
    sockaddr_in address{};

    UdpPair() {
        receiver = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(bind(receiver, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        socklen_t len = sizeof address;
        getsockname(receiver, reinterpret_cast<sockaddr*>(&address), &len);
    }
    ~UdpPair() {
        if (receiver >= 0) close(receiver);
        if (sender >= 0) close(sender);
    }
    void send(size_t bytes = 8) const {
        std::string payload(bytes, 'x');
        ASSERT_EQ(sendto(sender, payload.data(), payload.size(), 0,
                         reinterpret_cast<const sockaddr*>(&address), sizeof address),
                  static_cast<ssize_t>(bytes));
    }
    // Takes one datagram; -1 when none is waiting.
    static ssize_t receiveOne(int fd) {
        char buffer[2048];
        return recv(fd, buffer, sizeof buffer, 0);
    }
};

// Checks that nothing happened within a window, measured by a timer on the same queue.
void settle(const std::shared_ptr<Queue>& queue, std::chrono::milliseconds window = 50ms) {
    Signal fired;
    queue->asyncAfter(window, [&] { fired.add(); });
    ASSERT_TRUE(fired.waitFor(1));
}

TEST(ReadSource, NoHandlerWhileSuspendedThenFiresOnResumeWithTheByteCount) {
    UdpPair udp;
    auto queue = Queue::createSerial("read");
    auto source = Source::createRead(udp.receiver, queue);
    Signal handled;
    std::vector<size_t> sizes;  // on the queue only
    source->setEventHandler([&] {
        sizes.push_back(source->data());
        while (UdpPair::receiveOne(udp.receiver) >= 0) {
        }
        handled.add();
    });
    udp.send(123);
    settle(queue);
    EXPECT_EQ(handled.count(), 0);
    source->resume();
    ASSERT_TRUE(handled.waitFor(1));
    udp.send(7);
    ASSERT_TRUE(handled.waitFor(2));
    source->suspend();
    udp.send(9);
    settle(queue);
    EXPECT_EQ(handled.count(), 2);
    source->resume();
    ASSERT_TRUE(handled.waitFor(3));
    source->cancel();
    queue->sync([] {});
    EXPECT_EQ(sizes, (std::vector<size_t>{123, 7, 9}));
}

struct LevelCase {
    const char* name;
    bool concurrentQueue;
    int datagrams;
};

class ReadSourceLevel : public ::testing::TestWithParam<LevelCase> {};

TEST_P(ReadSourceLevel, HandlerCalledAgainWhileDataRemainsAndNeverOverlaps) {
    const auto c = GetParam();
    UdpPair udp;
    auto queue = c.concurrentQueue ? Queue::global() : Queue::createSerial("level");
    auto source = Source::createRead(udp.receiver, queue);
    std::atomic<int> running{0}, received{0};
    std::atomic<bool> overlapped{false};
    source->setEventHandler([&] {
        if (running.fetch_add(1) != 0) overlapped = true;
        // One datagram per call: the rest must bring the handler back.
        if (UdpPair::receiveOne(udp.receiver) >= 0) ++received;
        std::this_thread::yield();
        running.fetch_sub(1);
    });
    Signal cancelled;
    source->setCancelHandler([&] { cancelled.add(); });
    source->resume();
    for (int i = 0; i < c.datagrams; ++i) udp.send();
    EXPECT_TRUE(eventually([&] { return received == c.datagrams; }));
    source->cancel();
    ASSERT_TRUE(cancelled.waitFor(1));  // after the last handler
    EXPECT_FALSE(overlapped);
}

INSTANTIATE_TEST_SUITE_P(Queues, ReadSourceLevel,
                         ::testing::Values(LevelCase{"serial", false, 200},
                                           LevelCase{"concurrent", true, 200}),
                         [](const auto& info) { return std::string(info.param.name); });

// Handlers may run on the threads that watch for events: however many of them block, the
// events of other sources and due timers still come through.
TEST(ReadSource, BlockedHandlersDoNotHoldUpOtherSourcesOrTimers) {
    constexpr int kBlocking = 3;
    std::vector<std::unique_ptr<UdpPair>> pairs;
    std::vector<std::shared_ptr<Source>> sources;
    std::mutex mutex;
    std::condition_variable released;
    bool release = false;
    Signal entered, left;
    for (int i = 0; i <= kBlocking; ++i) {
        pairs.push_back(std::make_unique<UdpPair>());
        const int fd = pairs.back()->receiver;
        auto source = Source::createRead(fd, Queue::createSerial("blocking-" + std::to_string(i)));
        source->setEventHandler([&, fd, blocks = i < kBlocking] {
            while (UdpPair::receiveOne(fd) >= 0) {
            }
            entered.add();
            if (!blocks) return;
            std::unique_lock lock(mutex);
            released.wait_for(lock, 2 * kPatience,
                              [&] { return release; });  // past the test's waits
            lock.unlock();
            left.add();
        });
        source->resume();
        sources.push_back(std::move(source));
    }
    for (int i = 0; i < kBlocking; ++i) {
        pairs[i]->send();
        ASSERT_TRUE(entered.waitFor(i + 1));
    }
    Signal timer;
    Queue::createSerial("timer")->asyncAfter(1ms, [&] { timer.add(); });
    pairs[kBlocking]->send();
    EXPECT_TRUE(entered.waitFor(kBlocking + 1));
    EXPECT_TRUE(timer.waitFor(1));
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    released.notify_all();
    EXPECT_TRUE(left.waitFor(kBlocking));
    for (auto& source : sources) source->cancel();
}

TEST(ReadSource, HandlersSeeTheirQueuesSpecificData) {
    static const int key = 0;
    UdpPair udp;
    auto queue = Queue::createSerial("specific-source");
    queue->setSpecific(&key, std::make_shared<int>(9));
    auto source = Source::createRead(udp.receiver, queue);
    std::atomic<int> seenEvent{-1}, seenCancel{-1};
    auto probe = [](std::atomic<int>& out) {
        auto v = Queue::getSpecific(&key);
        out = v ? *static_cast<int*>(v.get()) : 0;
    };
    source->setEventHandler([&] {
        UdpPair::receiveOne(udp.receiver);
        probe(seenEvent);
    });
    source->setCancelHandler([&] { probe(seenCancel); });
    source->resume();
    udp.send();
    ASSERT_TRUE(eventually([&] { return seenEvent != -1; }));
    source->cancel();
    ASSERT_TRUE(eventually([&] { return seenCancel != -1; }));
    EXPECT_EQ(seenEvent, 9);
    EXPECT_EQ(seenCancel, 9);
}

TEST(SourceCancel, CancelHandlerRunsOnceAfterTheRunningHandler) {
    UdpPair udp;
    auto source = Source::createRead(udp.receiver, Queue::global());
    Signal inHandler, release, cancelled;
    std::atomic<bool> handlerDone{false}, cancelTooEarly{false};
    std::atomic<int> handlerCalls{0};
    source->setEventHandler([&] {
        ++handlerCalls;
        inHandler.add();
        release.waitFor(1);
        handlerDone = true;
    });
    source->setCancelHandler([&] {
        if (!handlerDone) cancelTooEarly = true;
        cancelled.add();
    });
    source->resume();
    udp.send();
    ASSERT_TRUE(inHandler.waitFor(1));
    source->cancel();
    EXPECT_TRUE(source->isCancelled());
    source->cancel();  // idempotent
    EXPECT_EQ(cancelled.count(), 0);
    release.add();
    ASSERT_TRUE(cancelled.waitFor(1));
    settle(Queue::global());
    EXPECT_EQ(cancelled.count(), 1);
    EXPECT_FALSE(cancelTooEarly);
    EXPECT_EQ(handlerCalls, 1);  // the unread datagram brings no call after cancel
}

TEST(SourceCancel, CancelHandlerOfASuspendedSourceWaitsForResume) {
    auto queue = Queue::createSerial("suspended-cancel");
    auto timer = Source::createTimer(queue);
    Signal cancelled;
    timer->setCancelHandler([&] { cancelled.add(); });
    timer->cancel();
    settle(queue);
    EXPECT_EQ(cancelled.count(), 0);
    timer->resume();
    EXPECT_TRUE(cancelled.waitFor(1));
}

TEST(SourceCancel, ReleasingACancelledSuspendedSourceStillRunsItsCancelHandler) {
    UdpPair udp;
    auto queue = Queue::createSerial("released");
    Signal cancelled;
    {
        auto source = Source::createRead(udp.receiver, queue);
        source->setCancelHandler([&] { cancelled.add(); });
        source->cancel();  // never resumed
    }
    EXPECT_TRUE(cancelled.waitFor(1));
    // Without cancel there is no cancel handler.
    {
        auto source = Source::createRead(udp.receiver, queue);
        source->setCancelHandler([&] { cancelled.add(); });
    }
    settle(queue);
    EXPECT_EQ(cancelled.count(), 1);
}

TEST(SourceCancel, DescriptorCanBeClosedAtOnceAndItsNumberReusedWithoutStaleEvents) {
    auto queue = Queue::createSerial("reuse");
    auto udp = std::make_unique<UdpPair>();
    int fd = udp->receiver;
    std::atomic<int> oldCalls{0};
    auto oldSource = Source::createRead(fd, queue);
    auto oldWrite = Source::createWrite(fd, queue);
    oldSource->setEventHandler([&] { ++oldCalls; });  // never reads: stays readable
    oldWrite->setEventHandler([&] { oldWrite->suspend(); });
    oldSource->resume();
    oldWrite->resume();
    udp->send();
    ASSERT_TRUE(eventually([&] { return oldCalls > 0; }));
    oldSource->cancel();
    oldWrite->cancel();
    close(fd);
    udp->receiver = -1;
    queue->sync([] {});  // a handler already running when cancel was called has finished
    int calls = oldCalls;

    // The lowest free number comes back for the next socket.
    int fresh = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    ASSERT_GE(fresh, 0);
    if (fresh != fd) {
        close(fresh);
        GTEST_SKIP() << "descriptor number not reused";
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(fresh, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    auto newSource = Source::createRead(fresh, queue);
    std::atomic<int> newCalls{0};
    newSource->setEventHandler([&] {
        if (UdpPair::receiveOne(fresh) >= 0) ++newCalls;
    });
    newSource->resume();
    settle(queue);
    EXPECT_EQ(newCalls, 0);
    EXPECT_EQ(oldCalls, calls);
    socklen_t len = sizeof address;
    getsockname(fresh, reinterpret_cast<sockaddr*>(&address), &len);
    char byte = 1;
    ASSERT_EQ(sendto(udp->sender, &byte, 1, 0, reinterpret_cast<sockaddr*>(&address), len), 1);
    EXPECT_TRUE(eventually([&] { return newCalls == 1; }));
    newSource->cancel();
    queue->sync([] {});
    close(fresh);
}

TEST(SourceCancel, ReleasesHandlersSoOwnersCanGo) {
    auto owner = std::make_shared<int>(1);
    std::weak_ptr<int> weak = owner;
    auto timer = Source::createTimer(Queue::createSerial("release"));
    Signal cancelled;
    timer->setEventHandler([owner] {});
    timer->setCancelHandler([owner, &cancelled] { cancelled.add(); });
    owner.reset();
    timer->resume();
    timer->cancel();
    ASSERT_TRUE(cancelled.waitFor(1));
    EXPECT_TRUE(eventually([&] { return weak.expired(); }));
}

TEST(WriteSource, FiresWhenWritableAndWaitsWhileTheBufferIsFull) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair), 0);
    auto queue = Queue::createSerial("write");
    // Fill the buffer.
    std::vector<char> chunk(4096, 'y');
    while (write(pair[0], chunk.data(), chunk.size()) > 0) {
    }
    ASSERT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
    auto source = Source::createWrite(pair[0], queue);
    Signal writable;
    std::atomic<size_t> space{0};
    source->setEventHandler([&] {
        space = source->data();
        source->suspend();  // level-triggered: stop after the first report
        writable.add();
    });
    source->resume();
    settle(queue);
    EXPECT_EQ(writable.count(), 0);
    // Drain the peer: room appears.
    char sink[65536];
    while (read(pair[1], sink, sizeof sink) > 0) {
    }
    ASSERT_TRUE(writable.waitFor(1));
    EXPECT_GE(space, 1u);
    source->cancel();
    source->resume();  // balance the handler's suspend so the cancel completes
    queue->sync([] {});
    close(pair[0]);
    close(pair[1]);
}

TEST(WriteSource, SharesTheDescriptorWithAReadSource) {
    UdpPair udp;
    auto queue = Queue::createSerial("shared-fd");
    auto reader = Source::createRead(udp.receiver, queue);
    auto writer = Source::createWrite(udp.receiver, queue);
    Signal reads, writes;
    reader->setEventHandler([&] {
        while (UdpPair::receiveOne(udp.receiver) >= 0) {
        }
        reads.add();
    });
    writer->setEventHandler([&] {
        writer->suspend();
        writes.add();
    });
    reader->resume();
    writer->resume();
    ASSERT_TRUE(writes.waitFor(1));
    writer->cancel();  // the reader keeps its events
    writer->resume();
    udp.send();
    ASSERT_TRUE(reads.waitFor(1));
    udp.send();
    ASSERT_TRUE(reads.waitFor(2));
    reader->cancel();
    queue->sync([] {});
}

// ---- timers ----

TEST(TimerSource, FiresOnceNotEarlyAndCanBeReArmed) {
    auto queue = Queue::createSerial("timer");
    auto timer = Source::createTimer(queue);
    std::vector<Clock::time_point> fires;
    Clock::time_point deadline;
    Signal fired;
    timer->setEventHandler([&] {
        fires.push_back(Clock::now());
        EXPECT_EQ(timer->data(), 1u);
        if (fires.size() < 3) {
            deadline = Clock::now() + 5ms;
            timer->scheduleAt(deadline);  // re-arm from the handler
        }
        fired.add();
    });
    timer->scheduleAfter(1h);
    deadline = Clock::now() + 10ms;
    timer->scheduleAt(deadline);  // replaces the hour
    auto firstDeadline = deadline;
    timer->resume();
    ASSERT_TRUE(fired.waitFor(3));
    settle(queue);
    queue->sync([&] {
        ASSERT_EQ(fires.size(), 3u);
        EXPECT_GE(fires[0], firstDeadline);
        EXPECT_GE(fires[2], deadline);
    });
    timer->cancel();
    queue->sync([] {});
}

TEST(TimerSource, CancelledOrSuspendedTimerDoesNotFire) {
    auto queue = Queue::createSerial("timer-cancel");
    auto cancelled = Source::createTimer(queue);
    auto suspended = Source::createTimer(queue);
    std::atomic<int> cancelledFires{0}, suspendedFires{0};
    cancelled->setEventHandler([&] { ++cancelledFires; });
    suspended->setEventHandler([&] { ++suspendedFires; });
    cancelled->scheduleAfter(5ms);
    suspended->scheduleAfter(5ms);
    cancelled->resume();
    cancelled->cancel();
    settle(queue);
    EXPECT_EQ(cancelledFires, 0);
    EXPECT_EQ(suspendedFires, 0);
    suspended->resume();  // the fire seen while suspended is delivered now
    EXPECT_TRUE(eventually([&] { return suspendedFires == 1; }));
    settle(queue);
    EXPECT_EQ(suspendedFires, 1);
    suspended->cancel();
}

TEST(TimerSource, DroppedSourceStopsFiring) {
    auto queue = Queue::createSerial("timer-drop");
    std::atomic<int> fires{0};
    {
        auto timer = Source::createTimer(queue);
        timer->setEventHandler([&] { ++fires; });
        timer->scheduleAfter(20ms);
        timer->resume();
    }
    settle(queue, 60ms);
    EXPECT_EQ(fires, 0);
}

// ---- misuse ----

INSTANTIATE_TEST_SUITE_P(
    SourceCases, DispatchMisuse,
    ::testing::Values(MisuseCase{"resumeNotSuspended",
                                 [] {
                                     auto t = Source::createTimer(Queue::createSerial("m"));
                                     t->resume();
                                     t->resume();
                                     t->cancel();
                                 },
                                 "Over-resume of a timer source"},
                      MisuseCase{"badDescriptor",
                                 [] {
                                     auto s = Source::createRead(-1, Queue::createSerial("m"));
                                     s->resume();
                                     s->cancel();
                                 },
                                 "Invalid file descriptor -1"},
                      MisuseCase{"scheduleOnReadSource",
                                 [] {
                                     UdpPair udp;
                                     auto s = Source::createRead(udp.receiver, Queue::global());
                                     s->scheduleAfter(1ms);
                                     s->cancel();
                                 },
                                 "only timers have a deadline"},
                      MisuseCase{"exceptionInHandler",
                                 [] {
                                     auto q = Queue::createSerial("m");
                                     auto t = Source::createTimer(q);
                                     Signal cancelled;
                                     t->setEventHandler([] { throw std::runtime_error("oops"); });
                                     t->setCancelHandler([&] { cancelled.add(); });
                                     t->scheduleAfter(0ns);
                                     t->resume();
                                     EXPECT_TRUE(eventually([&] { return t->data() == 1; }));
                                     t->cancel();
                                     cancelled.waitFor(1);
                                 },
                                 "Uncaught exception in a timer handler: oops"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace dispatch::test

namespace dispatch::test {
namespace {

TEST(TimerSource, DelayPastTheClocksRangeNeverFiresAndCanBeReArmed) {
    auto queue = Queue::createSerial("far-timer");
    auto timer = Source::createTimer(queue);
    Signal fired;
    timer->setEventHandler([&] { fired.add(); });
    timer->scheduleAfter(std::chrono::nanoseconds::max());
    timer->resume();
    settle(queue);
    EXPECT_EQ(fired.count(), 0);
    timer->scheduleAfter(1ms);
    EXPECT_TRUE(fired.waitFor(1));
    timer->cancel();
}

}  // namespace
}  // namespace dispatch::test
