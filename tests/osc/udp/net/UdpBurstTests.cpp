// Bursts: datagrams taken from the kernel together are handed on one by one, in order, and
// none is held back when receiving stops and starts again.

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <string>
#include <vector>

#include "NetTestSupport.h"
#include "osc/udp/OSCUDPServer.h"

namespace {

using namespace udptest;
using rozuri::DispatchUdpSocket;

struct Burst : ::testing::Test {
    std::shared_ptr<dispatch::Queue> delegateQueue = dispatch::Queue::createSerial("burst");
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<DispatchUdpSocket> socket = DispatchUdpSocket::create(delegate, delegateQueue);

    std::vector<std::string> received() {
        std::lock_guard lock(delegate->mutex);
        std::vector<std::string> out;
        for (const auto& d : delegate->datagrams) out.emplace_back(d.data.begin(), d.data.end());
        return out;
    }
};

std::vector<std::string> numbered(int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back("d" + std::to_string(i));
    return out;
}

TEST_F(Burst, QueuedDatagramsArriveInOrderWhetherReadContinuouslyOrOneAtATime) {
    ASSERT_TRUE(socket->bindToPort(0, "localhost"));
    PlainSocket sender(AF_INET);
    // Well within the default receive buffer, more than one read-ahead.
    const auto burst = numbered(40);
    for (const auto& text : burst) ASSERT_TRUE(sender.sendTo(socket->localPort(), text));

    // One at a time: the datagrams already read ahead must still come, one per request, even
    // though the kernel has nothing new to report.
    for (std::size_t i = 1; i <= 3; ++i) {
        ASSERT_TRUE(socket->receiveOnce());
        ASSERT_TRUE(delegate->waitForDatagrams(i));
        EXPECT_FALSE(delegate->waitForDatagrams(i + 1, 50ms));
    }
    ASSERT_TRUE(socket->beginReceiving());
    ASSERT_TRUE(delegate->waitForDatagrams(burst.size()));
    EXPECT_EQ(received(), burst);
}

TEST_F(Burst, ServerHandsABurstToItsHandlerInOrder) {
    constexpr int kCount = 150;
    int next = 0;  // touched on the server's queue only
    int outOfOrder = 0;
    std::promise<void> all;
    auto queue = dispatch::Queue::createSerial("burst.server");
    auto server = rozuri::OSCUDPServer::create(
        0, rozuri::OSCTimeTagMode::ignore, queue,
        [&](const rozuri::OSCMessage& message, const rozuri::OSCTimeTag&, const std::string&,
            std::uint16_t) {
            if (message.addressPattern().description() != "/n" + std::to_string(next)) ++outOfOrder;
            if (++next == kCount) all.set_value();
        });
    server->start();
    PlainSocket sender(AF_INET);
    for (int i = 0; i < kCount; ++i) {
        const std::string address = "/n" + std::to_string(i);
        std::string bytes = address;
        do bytes.push_back('\0');
        while (bytes.size() % 4);
        bytes += std::string(",\0\0\0", 4);
        ASSERT_TRUE(sender.sendTo(server->localPort(), bytes));
    }
    ASSERT_EQ(all.get_future().wait_for(kWait), std::future_status::ready);
    server->stop();
    queue->sync([&] { EXPECT_EQ(outOfOrder, 0); });
}

}  // namespace
