// A sender faster than its socket: what waits is bounded, and nothing is lost or reordered.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <functional>
#include <limits>
#include <string>
#include <thread>

#include "NetTestSupport.h"
#include "SendSeam.h"
#include "osc/udp/DispatchUdpSocket.h"
#include "tests/support/Poll.h"

namespace {

using namespace udptest;
using rozuri::DispatchUdpSocket;

constexpr int kMost = static_cast<int>(DispatchUdpSocket::kMostDatagramsWaiting);

// The tag of an answer ("sent 3", "failed 4: ..."), or -1 for a close.
long long answeredTag(const std::string& event) {
    if (event == "closed") return -1;
    return std::stoll(event.substr(event.find(' ') + 1));
}

// A socket that stays full (every send would block) holds its sender once the backlog is
// full, answers synchronous calls meanwhile, times out a held datagram whose time-out runs
// out, and, drained or closed, answers every datagram once and in order; once drained, sends
// go out from the caller's thread again.
TEST(DispatchUdpSendBacklog, AFullSocketHoldsItsSenderAndLosesNothing) {
    auto delegateQueue = dispatch::Queue::createSerial("test.delegate");
    PlainSocket receiver{AF_INET};
    ASSERT_TRUE(receiver.bindLoopback());
    constexpr int kSends = 3 * kMost;
    for (const bool closeWhileHeld : {false, true}) {
        SCOPED_TRACE(closeWhileHeld ? "closed while held" : "drained");
        auto delegate = std::make_shared<RecordingDelegate>();
        auto socket = DispatchUdpSocket::create(delegate, delegateQueue);
        ASSERT_TRUE(socket->bindToPort(0, "127.0.0.1"));
        const auto port = socket->localPort();
        int fd = -1;
        socket->performBlock([&] { fd = socket->socket4FD(); });
        armSendFailure(fd, EAGAIN, std::numeric_limits<int>::max());

        std::atomic<int> handed{0};
        std::thread sender([&] {
            for (int i = 0; i < kSends; ++i) {
                // The first datagram held gives up on the wait.
                const double timeout = i == kMost ? 0.05 : -1.0;
                socket->sendData(Data{'b'}, "127.0.0.1", receiver.port(), timeout, i);
                ++handed;
            }
        });
        // However the checks end, the sender is let go and joined.
        struct Release {
            std::function<void()> release;
            std::thread& thread;
            ~Release() {
                release();
                thread.join();
            }
        } release{[&] {
                      disarmSendFailures();
                      socket->close();
                  },
                  sender};
        ASSERT_TRUE(mstest::pollUntil([&] { return handed.load() >= kMost + 1; }, kWait));
        EXPECT_EQ(socket->localPort(), port);
        EXPECT_FALSE(mstest::pollUntil([&] { return handed.load() > kMost + 1; }, 300ms))
            << handed.load() << " handed over to a socket that takes nothing";

        disarmSendFailures();
        if (closeWhileHeld) socket->close();
        ASSERT_TRUE(mstest::pollUntil([&] { return handed.load() == kSends; }, kWait));
        const auto answers = [&] {
            const auto& e = delegate->events;
            return e.size() - static_cast<std::size_t>(std::count(e.begin(), e.end(), "closed"));
        };
        ASSERT_TRUE(waitFor(
            delegate->mutex, delegate->cv, [&] { return answers() >= std::size_t{kSends}; },
            kWait));
        long long expected = 0;
        for (const auto& event : delegate->eventLog()) {
            const long long tag = answeredTag(event);
            if (tag < 0) continue;
            ASSERT_EQ(tag, expected) << event;
            ++expected;
            if (!closeWhileHeld && tag == kMost) {
                EXPECT_EQ(event, "failed " + std::to_string(kMost) + ": Send operation timed out");
            } else if (!closeWhileHeld) {
                EXPECT_EQ(event, "sent " + std::to_string(tag));
            }
        }
        EXPECT_EQ(expected, kSends);
        if (closeWhileHeld) continue;

        socket->sendData(Data{'d'}, "127.0.0.1", receiver.port(), -1.0, kSends);
        ASSERT_TRUE(delegate->waitForEvents(kSends + 1));
        EXPECT_EQ(lastSender(fd), std::this_thread::get_id());
    }
}

}  // namespace
