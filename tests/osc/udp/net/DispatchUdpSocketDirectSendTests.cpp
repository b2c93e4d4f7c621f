// Sends from the caller's thread must keep every promise of the socket queue's way: order,
// one answer per datagram, configuration handed over before them, and no send on a descriptor
// that a close has taken.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
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
};

TEST_F(DirectSend, NothingOvertakesWhatWaitsOnTheSocketQueue) {
    std::int64_t tag = 0;
    for (const bool filter : {false, true}) {
        SCOPED_TRACE(filter ? "send filter" : "would block");
        // Either makes the first datagram wait on the queue.
        if (filter) {
            socket->setSendFilter([](const Data&, const Data&, std::int64_t) { return true; },
                                  dispatch::Queue::createSerial("test.filter"));
        } else {
            socket->performBlock([&] { armSendFailure(socket->socket4FD(), EAGAIN, 2); });
        }
        for (int i = 0; i < 5; ++i) {
            const std::int64_t t = tag + i;
            socket->sendData(bytes("m" + std::to_string(t)), "127.0.0.1", receiver.port(), 1.0, t);
        }
        ASSERT_TRUE(delegate->waitForEvents(static_cast<std::size_t>(tag + 5)));
        const auto log = delegate->eventLog();
        for (const auto end = tag + 5; tag < end; ++tag) {
            EXPECT_EQ(text(receiver.receive()), "m" + std::to_string(tag));
            EXPECT_EQ(log[tag], "sent " + std::to_string(tag));
        }
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
    constexpr int all = kThreads * kSends;
    const auto answers = [&] {  // every event but the closes
        const auto& e = delegate->events;
        return e.size() - static_cast<std::size_t>(std::count(e.begin(), e.end(), "closed"));
    };
    ASSERT_TRUE(waitFor(
        delegate->mutex, delegate->cv, [&] { return answers() >= std::size_t{all}; }, kWait));
    std::vector<std::vector<int>> answered(kThreads);  // per thread, the sequences answered
    for (const auto& e : delegate->eventLog()) {
        if (e == "closed") continue;
        const int tag = std::stoi(e.substr(e.find(' ') + 1));
        ASSERT_TRUE(tag >= 0 && tag < all) << e;
        answered[tag / kSends].push_back(tag % kSends);
    }
    std::vector<int> once(kSends);
    std::iota(once.begin(), once.end(), 0);
    for (const auto& sequences : answered) EXPECT_EQ(sequences, once);
}

}  // namespace
