// Sends from the caller's thread must keep every promise of the socket queue's way: order,
// one answer per datagram, configuration handed over before them, and no send on a descriptor
// that a close has taken.

#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <map>
#include <thread>

#include "NetTestSupport.h"
#include "SendSeam.h"
#include "osc/udp/DispatchUdpSocket.h"

namespace {

using namespace udptest;
using rozuri::DispatchUdpSocket;

Data bytes(const std::string& text) {
    return Data(text.begin(), text.end());
}

std::string text(const Data& data) {
    return std::string(data.begin(), data.end());
}

struct DirectSend : ::testing::Test {
    std::shared_ptr<dispatch::Queue> delegateQueue = dispatch::Queue::createSerial("test.delegate");
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<DispatchUdpSocket> socket = DispatchUdpSocket::create(delegate, delegateQueue);
    PlainSocket receiver{AF_INET};

    void SetUp() override {
        ASSERT_TRUE(receiver.bindLoopback());
        ASSERT_TRUE(socket->bindToPort(0, "127.0.0.1"));
    }
    void TearDown() override {
        disarmSendFailures();
        socket.reset();
        barrier(delegateQueue);
    }
    int fd4() {
        int fd = -1;
        socket->performBlock([&] { fd = socket->socket4FD(); });
        return fd;
    }
};

TEST_F(DirectSend, NothingOvertakesWhatWaitsOnTheSocketQueue) {
    struct Case {
        const char* name;
        std::function<void()> before;  // makes the first datagram wait
    };
    const Case cases[] = {
        {"would block", [&] { armSendFailure(fd4(), EAGAIN, 2); }},
        {"send filter",
         [&] {
             socket->setSendFilter([](const Data&, const Data&, std::int64_t) { return true; },
                                   dispatch::Queue::createSerial("test.filter"));
         }},
    };
    std::int64_t tag = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.before();
        std::vector<std::string> expected;
        for (int i = 0; i < 5; ++i) {
            ++tag;
            socket->sendData(bytes("m" + std::to_string(tag)), "127.0.0.1", receiver.port(), 1.0,
                             tag);
            expected.push_back("sent " + std::to_string(tag));
        }
        for (std::int64_t t = tag - 4; t <= tag; ++t) {
            EXPECT_EQ(text(receiver.receive()), "m" + std::to_string(t));
        }
        ASSERT_TRUE(delegate->waitForEvents(static_cast<std::size_t>(tag)));
        const auto log = delegate->eventLog();
        EXPECT_EQ(std::vector<std::string>(log.end() - 5, log.end()), expected);
        socket->setSendFilter(nullptr, nullptr);
    }
}

TEST_F(DirectSend, ConfigurationHandedOverFirstApplies) {
    if (!hasIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
    auto d = std::make_shared<RecordingDelegate>();
    socket = DispatchUdpSocket::create(d, delegateQueue);
    ASSERT_TRUE(socket->bindToPort(0));
    PlainSocket receiver6(AF_INET6);
    ASSERT_TRUE(receiver6.bindLoopback(receiver.port()));
    socket->sendData(bytes("4"), "localhost", receiver.port(), 1.0, 1);
    socket->setPreferIPv6();
    socket->sendData(bytes("6"), "localhost", receiver.port(), 1.0, 2);
    socket->setIPv6Enabled(false);
    socket->sendData(bytes("x"), "::1", receiver.port(), 1.0, 3);
    EXPECT_EQ(text(receiver.receive()), "4");
    EXPECT_EQ(text(receiver6.receive()), "6");
    ASSERT_TRUE(d->waitForEvents(3));
    EXPECT_EQ(d->eventLog(),
              (std::vector<std::string>{
                  "sent 1", "sent 2",
                  "failed 3: IPv6 has been disabled and DNS lookup found no IPv4 address(es)."}));
}

// Several threads send while another closes and binds again: every datagram is answered once,
// each thread's in its order.
TEST_F(DirectSend, ConcurrentSendersAndClosesAnswerEveryDatagramOnceInOrder) {
    constexpr int kThreads = 4;
    constexpr int kSends = 400;
    std::atomic<bool> go{false};
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < kSends; ++i) {
                socket->sendData(bytes("c"), "127.0.0.1", receiver.port(), 1.0, t * kSends + i);
            }
        });
    }
    go = true;
    for (int round = 0; round < 20; ++round) {
        socket->close();
        socket->bindToPort(0, "127.0.0.1");
    }
    for (auto& s : senders) s.join();
    socket->closeAfterSending();
    const std::size_t all = kThreads * kSends;
    ASSERT_TRUE(waitFor(
        delegate->mutex, delegate->cv,
        [&] {
            std::size_t answers = 0;
            for (const auto& e : delegate->events) answers += e != "closed";
            return answers >= all;
        },
        kWait));
    std::map<int, int> last;  // thread -> last sequence answered
    std::map<std::int64_t, int> seen;
    for (const auto& e : delegate->eventLog()) {
        if (e == "closed") continue;
        const auto space = e.find(' ');
        const auto tag = std::stoll(e.substr(space + 1));
        ++seen[tag];
        const int thread = static_cast<int>(tag / kSends);
        const int sequence = static_cast<int>(tag % kSends);
        auto it = last.find(thread);
        if (it != last.end()) {
            EXPECT_GT(sequence, it->second) << e;
        }
        last[thread] = sequence;
    }
    EXPECT_EQ(seen.size(), all);
    for (const auto& [tag, count] : seen) {
        EXPECT_EQ(count, 1) << tag;
    }
}

}  // namespace
