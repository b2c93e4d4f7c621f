#include <gtest/gtest.h>

#include <cerrno>
#include <random>

#include "NetTestSupport.h"
#include "OscInbox.h"
#include "OscTestBytes.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/udp/DispatchUdpSocketError.h"
#include "osc/udp/OSCUDPServer.h"

namespace {

using namespace udptest;
using rozuri::OSCMessage;
using rozuri::OSCSocketError;
using rozuri::OSCTimeTag;
using rozuri::OSCTimeTagMode;
using rozuri::OSCUDPServer;

struct OSCUDPServerNet : ::testing::Test {
    Inbox inbox;
    std::shared_ptr<dispatch::Queue> queue = dispatch::Queue::createSerial("test.osc");

    std::shared_ptr<OSCUDPServer> makeServer(std::uint16_t port = 0,
                                             OSCTimeTagMode mode = OSCTimeTagMode::ignore) {
        return OSCUDPServer::create(port, mode, queue, inbox.handler());
    }
    void TearDown() override { barrier(queue); }
};

TEST_F(OSCUDPServerNet, StartStopStart) {
    auto server = makeServer();
    EXPECT_FALSE(server->isStarted());
    EXPECT_EQ(server->localPort(), 0);
    server->start();
    EXPECT_TRUE(server->isStarted());
    const auto port = server->localPort();
    EXPECT_NE(port, 0);
    server->start();  // already started: nothing changes
    EXPECT_EQ(server->localPort(), port);
    server->stop();
    EXPECT_FALSE(server->isStarted());
    EXPECT_EQ(server->localPort(), 0);
    server->stop();
    server->start();
    EXPECT_TRUE(server->isStarted());
    PlainSocket sender(AF_INET);
    ASSERT_TRUE(sender.sendTo(server->localPort(), oscMessage("/back", {1})));
    ASSERT_TRUE(inbox.waitFor(1));
}

TEST_F(OSCUDPServerNet, SecondServerOnTheSamePortRightAfterStop) {
    auto first = makeServer();
    first->start();
    const auto port = first->localPort();
    for (int round = 0; round < 10; ++round) {
        first->stop();
        auto next = makeServer(port);
        ASSERT_NO_THROW(next->start()) << "round " << round;
        EXPECT_EQ(next->localPort(), port);
        first = next;
    }
    PlainSocket sender(AF_INET);
    ASSERT_TRUE(sender.sendTo(port, oscMessage("/last")));
    ASSERT_TRUE(inbox.waitFor(1));
}

TEST_F(OSCUDPServerNet, StartFailuresThrowTheSocketError) {
    std::optional<PlainSocket> occupant;
    occupant.emplace(AF_INET);
    ASSERT_TRUE(occupant->bindAny(0));
    const auto busyPort = occupant->port();
    struct Case {
        const char* name;
        std::shared_ptr<OSCUDPServer> server;
        std::string domain;
        std::int64_t code;
        std::optional<std::string> reason;
    };
    const Case cases[] = {
        {"port in use", makeServer(busyPort), foundation::Error::kPOSIXDomain, EADDRINUSE,
         "Error in bind() function"},
        {"unknown interface",
         OSCUDPServer::create(0, std::string("no-such-if0"), OSCTimeTagMode::ignore, queue, {}),
         rozuri::DispatchUdpSocketError::domain, 2, std::nullopt},
        {"empty interface",
         OSCUDPServer::create(0, std::string(), OSCTimeTagMode::ignore, queue, {}),
         rozuri::DispatchUdpSocketError::domain, 2, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            c.server->start();
            ADD_FAILURE() << "start() did not throw";
        } catch (const OSCSocketError& e) {
            EXPECT_EQ(e.error().domain, c.domain);
            EXPECT_EQ(e.error().code, c.code);
            EXPECT_EQ(e.error().localizedFailureReason(), c.reason);
            EXPECT_EQ(std::string(e.what()), e.error().localizedDescription());
        }
        EXPECT_FALSE(c.server->isStarted());
    }
    // Once the port is free the same server starts.
    auto server = cases[0].server;
    occupant.reset();
    server->start();
    EXPECT_EQ(server->localPort(), busyPort);
}

TEST_F(OSCUDPServerNet, HostileDatagramsAreDroppedAndServingGoesOn) {
    auto server = makeServer();
    server->start();
    const auto port = server->localPort();
    PlainSocket sender(AF_INET);
    int sndbuf = 1 << 20;
    ::setsockopt(sender.fd(), SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);

    std::mt19937 rng(42);
    auto randomBytes = [&](std::size_t n, std::uint8_t first) {
        Data d(n);
        for (auto& b : d) b = static_cast<std::uint8_t>(rng());
        if (n) d[0] = first;
        return d;
    };
    Data deep = oscMessage("/deep");
    for (int i = 0; i < 200; ++i) deep = oscBundle(1, {deep});
    const Data whole = oscMessage("/t", {1, 2, 3});
    const Data truncated(whole.begin(), whole.begin() + 16);  // one argument of three
    Data badSize = oscBundle(1, {oscMessage("/a")});
    badSize[19] = 0x7f;  // element size far past the end
    Data negativeSize = oscBundle(1, {oscMessage("/a")});
    negativeSize[16] = 0x80;
    Data hugeGarbage = randomBytes(65507, '/');
    Data hugeBundle = randomBytes(65507, '#');
    std::memcpy(hugeBundle.data(), "#bundle\0", 8);

    const std::vector<Data> hostile = {
        Data{},
        Data{'/'},
        Data{'#', 'b', 'u', 'n', 'd', 'l', 'e'},
        Data{'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0},
        randomBytes(33, 'x'),
        randomBytes(64, '/'),
        randomBytes(1000, '#'),
        truncated,
        badSize,
        negativeSize,
        deep,
        hugeGarbage,
        hugeBundle,
    };
    for (const auto& d : hostile) ASSERT_TRUE(sender.sendTo(port, d));
    ASSERT_TRUE(sender.sendTo(port, oscMessage("/valid", {7})));
    ASSERT_TRUE(inbox.waitFor(1));
    // Anything the random bytes happened to decode to would come before the valid message.
    barrier(queue);
    barrier(queue);
    barrier(queue);
    EXPECT_EQ(inbox.addresses().back(), "/valid");
    EXPECT_TRUE(server->isStarted());
    // Nesting within the decoder's limit is served, one hop per level.
    Data nested = oscMessage("/nested", {8});
    for (int i = 0; i < 40; ++i) nested = oscBundle(1, {nested});
    const auto before = inbox.addresses().size();
    ASSERT_TRUE(sender.sendTo(port, nested));
    ASSERT_TRUE(inbox.waitFor(before + 1)) << ::testing::PrintToString(inbox.addresses());
    EXPECT_EQ(inbox.addresses().back(), "/nested");
}

TEST_F(OSCUDPServerNet, BundleElementsArriveInOrderWithTheBundleTag) {
    auto server = makeServer();
    server->start();
    PlainSocket sender(AF_INET);
    ASSERT_TRUE(sender.bindLoopback());
    const std::uint64_t tag = 0x0102030405060708ull;
    ASSERT_TRUE(sender.sendTo(server->localPort(), oscBundle(tag, {oscMessage("/one", {1}),
                                                                   oscMessage("/two", {2, 3})})));
    ASSERT_TRUE(inbox.waitFor(2));
    std::lock_guard lock(inbox.mutex);
    ASSERT_EQ(inbox.messages.size(), 2u);
    const std::vector<std::pair<std::string, std::vector<std::int32_t>>> expected = {
        {"/one", {1}}, {"/two", {2, 3}}};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const auto& m = inbox.messages[i];
        SCOPED_TRACE(expected[i].first);
        EXPECT_EQ(m.address, expected[i].first);
        EXPECT_EQ(m.timeTag, OSCTimeTag(tag));
        EXPECT_EQ(m.host, "127.0.0.1");
        EXPECT_EQ(m.port, sender.port());
        ASSERT_EQ(m.values.size(), expected[i].second.size());
        for (std::size_t j = 0; j < m.values.size(); ++j) {
            // Decoded 'i' arguments are int32 values, not merely texts that read alike.
            const auto* v = m.values[j].get_if<std::int32_t>();
            ASSERT_NE(v, nullptr) << m.values[j].typeName();
            EXPECT_EQ(*v, expected[i].second[j]);
        }
    }
}

TEST_F(OSCUDPServerNet, ListensOnIPv6Too) {
    if (!hasIPv6Loopback()) GTEST_SKIP() << "no IPv6 on this host";
    auto server = makeServer();
    server->start();
    PlainSocket sender(AF_INET6);
    ASSERT_TRUE(sender.bindLoopback());
    ASSERT_TRUE(sender.sendTo(server->localPort(), oscMessage("/six", {6})));
    ASSERT_TRUE(inbox.waitFor(1));
    std::lock_guard lock(inbox.mutex);
    EXPECT_EQ(inbox.messages[0].host, "::1");
    EXPECT_EQ(inbox.messages[0].port, sender.port());
}

TEST_F(OSCUDPServerNet, FutureBundleWaitsInOsc10Mode) {
    auto server = makeServer(0, OSCTimeTagMode::osc1_0);
    server->start();
    PlainSocket sender(AF_INET);
    const auto start = std::chrono::steady_clock::now();
    const auto tag = OSCTimeTag::fromTimeIntervalSinceNow(0.3);
    ASSERT_TRUE(
        sender.sendTo(server->localPort(), oscBundle(tag.rawValue(), {oscMessage("/later")})));
    ASSERT_TRUE(sender.sendTo(server->localPort(), oscMessage("/now")));
    ASSERT_TRUE(inbox.waitFor(2));
    EXPECT_EQ(inbox.addresses(), (std::vector<std::string>{"/now", "/later"}));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 250ms);
    server->setTimeTagMode(OSCTimeTagMode::ignore);
    EXPECT_EQ(server->timeTagMode(), OSCTimeTagMode::ignore);
}

TEST_F(OSCUDPServerNet, ReplacedHandlerTakesOverAfterItsHop) {
    Inbox before;
    auto server = OSCUDPServer::create(0, OSCTimeTagMode::ignore, queue, before.handler());
    server->start();
    PlainSocket sender(AF_INET);
    ASSERT_TRUE(sender.sendTo(server->localPort(), oscMessage("/first")));
    ASSERT_TRUE(before.waitFor(1));
    server->setReceiveHandler(inbox.handler());
    barrier(queue);
    ASSERT_TRUE(sender.sendTo(server->localPort(), oscMessage("/second")));
    ASSERT_TRUE(inbox.waitFor(1));
    EXPECT_EQ(inbox.addresses(), std::vector<std::string>{"/second"});
    EXPECT_EQ(before.addresses(), std::vector<std::string>{"/first"});
}

TEST_F(OSCUDPServerNet, ReleasedServerFreesItsPort) {
    auto server = makeServer();
    server->start();
    const auto port = server->localPort();
    server.reset();
    barrier(queue);
    PlainSocket four(AF_INET);
    EXPECT_TRUE(four.bindAny(port));
}

}  // namespace
