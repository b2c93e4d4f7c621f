#include <gtest/gtest.h>
#include <netdb.h>

#include <functional>

#include "NetTestSupport.h"
#include "OscInbox.h"
#include "osc/core/OSCBundle.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/core/OSCPacket.h"
#include "osc/udp/DispatchUdpSocketError.h"
#include "osc/udp/OSCUDPClient.h"
#include "osc/udp/OSCUDPServer.h"
#include "osc/udp/OSCUDPSocket.h"

namespace {

using namespace udptest;
using rozuri::DispatchUdpSocketError;
using rozuri::OSCBundle;
using rozuri::OSCPacket;
using rozuri::OSCSocketError;
using rozuri::OSCTimeTagMode;
using rozuri::OSCUDPClient;
using rozuri::OSCUDPServer;
using rozuri::OSCUDPSocket;
using Code = DispatchUdpSocketError::Code;

// The address of the OSC message in a datagram ("" for anything else).
std::string oscAddress(const Data& datagram) {
    auto packet = OSCPacket::decode(datagram);
    return packet && packet->asMessage() ? packet->asMessage()->addressPattern().rawAddress() : "";
}

// What a send refused with: "<code> <Reason>", "netdb <code>", or "" when it went.
std::string refusal(const std::function<void()>& send) {
    try {
        send();
    } catch (const DispatchUdpSocketError& e) {
        return std::to_string(e.error().code) + " " + e.error().userInfo.at("Reason");
    } catch (const OSCSocketError& e) {
        return "netdb " + std::to_string(e.error().code);
    }
    return "";
}

// A started peer on an ephemeral port that records what it hears and answers each message
// with "/reply" to its sender.
std::shared_ptr<OSCUDPSocket> startReplyingPeer(Inbox& inbox) {
    auto self = std::make_shared<std::weak_ptr<OSCUDPSocket>>();
    auto peer = OSCUDPSocket::create(std::nullopt, std::nullopt, std::nullopt, std::nullopt,
                                     OSCTimeTagMode::ignore, false, nullptr,
                                     [&inbox, self](const OSCMessage& m, const rozuri::OSCTimeTag&,
                                                    const std::string& host, std::uint16_t port) {
                                         inbox.handler()(m, {}, host, port);
                                         if (auto p = self->lock())
                                             p->send(OSCMessage("/reply"), host, port);
                                     });
    *self = peer;
    peer->start();
    return peer;
}

struct OSCUDPSenders : ::testing::Test {
    PlainSocket receiver{AF_INET};
    void SetUp() override { ASSERT_TRUE(receiver.bindLoopback()); }
};

TEST_F(OSCUDPSenders, ClientStartStopStart) {
    auto client = OSCUDPClient::create();
    // Before start the system picks the port of the datagram.
    client->send(OSCMessage("/unbound"), "127.0.0.1", receiver.port());
    EXPECT_EQ(oscAddress(receiver.receive()), "/unbound");
    client->start();
    EXPECT_TRUE(client->isStarted());
    const auto port = client->localPort();
    EXPECT_NE(port, 0);
    client->start();
    EXPECT_EQ(client->localPort(), port);
    client->stop();
    EXPECT_FALSE(client->isStarted());
    client->start();
    EXPECT_NE(client->localPort(), 0);
    client->send(OSCMessage("/again"), "localhost", receiver.port());
    EXPECT_EQ(oscAddress(receiver.receive()), "/again");
}

TEST_F(OSCUDPSenders, ClientsSharePortsWithReuse) {
    auto first = OSCUDPClient::create(std::nullopt, std::string("127.0.0.1"), true, false);
    first->start();
    auto second = OSCUDPClient::create(first->localPort(), std::string("127.0.0.1"), true, false);
    EXPECT_NO_THROW(second->start());
    auto third = OSCUDPClient::create(first->localPort(), std::string("127.0.0.1"), false, false);
    try {
        third->start();
        ADD_FAILURE() << "a port in use without reuse";
    } catch (const OSCSocketError& e) {
        EXPECT_EQ(e.error().code, EADDRINUSE);
    }
    EXPECT_FALSE(third->isStarted());
}

TEST_F(OSCUDPSenders, DatagramsThatCouldNeverGoAreRefusedAtTheCall) {
    auto client = OSCUDPClient::create();
    auto peer =
        OSCUDPSocket::create(std::nullopt, std::nullopt, std::nullopt, OSCTimeTagMode::ignore);
    const OSCMessage small("/small");
    const OSCMessage large("/large", {Data(65528, 1)});
    EXPECT_EQ(refusal([&] { peer->send(small, std::string("127.0.0.1")); }),
              "4 OSC socket has not been started yet.");
    peer->start();
    const std::string nil = "2 The host param is nil. Should be domain name or IP address string.";
    const std::string port0 = "2 Port 0 is not a valid destination port.";
    const std::string tooLarge = "2 Packet is larger than a UDP datagram can carry (65527 bytes).";
    const std::string nameless = "netdb " + std::to_string(EAI_NONAME);
    const auto to = receiver.port();
    struct Case {
        const char* name;
        std::function<void()> send;
        std::string expected;
    };
    const Case cases[] = {
        {"client: port 0", [&] { client->send(small, "127.0.0.1", 0); }, port0},
        {"client: too large", [&] { client->send(large, "127.0.0.1", to); }, tooLarge},
        {"client: empty host", [&] { client->send(small, "", to); }, nil},
        {"client: bracketed", [&] { client->send(small, "[::1]", to); }, nameless},
        {"client: host and port", [&] { client->send(small, "h:5000", to); }, nameless},
        {"client: embedded NUL", [&] { client->send(small, std::string("127.0.0.1\0x", 11), to); },
         nameless},
        {"client: long name", [&] { client->send(small, std::string(300, 'a'), to); }, nameless},
        {"peer: no host", [&] { peer->send(small); },
         "2 Remote host is not specified in OSCUDPSocket.remoteHost property or in host "
         "parameter in call to send()."},
        {"peer: port 0", [&] { peer->send(small, std::string("127.0.0.1"), 0); }, port0},
        {"peer: too large", [&] { peer->send(large, std::string("127.0.0.1"), to); }, tooLarge},
        {"peer: empty host", [&] { peer->send(small, std::string(""), to); }, nil},
        {"client: good", [&] { client->send(OSCMessage("/good"), "127.0.0.1", to); }, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(refusal(c.send), c.expected);
    }
    // Nothing refused went out: the one good datagram is the first to arrive.
    EXPECT_EQ(oscAddress(receiver.receive()), "/good");
}

TEST_F(OSCUDPSenders, IPv4DestinationsTakeAtMostTheIPv4Payload) {
    auto client = OSCUDPClient::create();
    auto peer =
        OSCUDPSocket::create(std::nullopt, std::nullopt, std::nullopt, OSCTimeTagMode::ignore);
    peer->start();
    // 12 bytes of address, type tags and blob size: 65508 bytes, and the largest OSC packet
    // (a multiple of 4) that IPv4 carries.
    const OSCMessage over("/v4", {Data(65496, 1)});
    ASSERT_EQ(over.encodedData().size(), 65508u);
    const auto to = receiver.port();
    for (const std::string host : {"127.0.0.1", "localhost", "loopback", "::ffff:127.0.0.1"}) {
        SCOPED_TRACE(host);
        const std::string refused =
            "2 Packet is larger than a UDP datagram over IPv4 can carry (65507 bytes).";
        EXPECT_EQ(refusal([&] { client->send(over, host, to); }), refused);
        EXPECT_EQ(refusal([&] { peer->send(over, host, to); }), refused);
    }
    client->send(OSCMessage("/v4", {Data(65492, 1)}), "127.0.0.1", to);
    EXPECT_EQ(receiver.receive().size(), 65504u);
    if (hasIPv6Loopback()) {
        // IPv6 carries 20 bytes more.
        PlainSocket receiver6(AF_INET6);
        ASSERT_TRUE(receiver6.bindLoopback());
        EXPECT_EQ(refusal([&] { client->send(over, "::1", receiver6.port()); }), "");
        EXPECT_EQ(receiver6.receive().size(), 65508u);
    }
}

TEST_F(OSCUDPSenders, IPv4MappedPeersAreReachedAndHeardAsIPv4) {
    Inbox inboxA;
    Inbox inboxB;
    auto b = startReplyingPeer(inboxB);
    auto a = OSCUDPSocket::create(std::nullopt, std::string("::ffff:127.0.0.1"), b->localPort(),
                                  OSCTimeTagMode::ignore, false, nullptr, inboxA.handler());
    a->start();
    a->send(OSCMessage("/ask"));
    ASSERT_TRUE(inboxB.waitFor(1));
    EXPECT_EQ(inboxB.messages[0].host, "127.0.0.1");
    EXPECT_EQ(inboxB.messages[0].port, a->localPort());
    ASSERT_TRUE(inboxA.waitFor(1));
    EXPECT_EQ(inboxA.messages[0].address, "/reply");
    EXPECT_EQ(inboxA.messages[0].host, "127.0.0.1");
}

TEST_F(OSCUDPSenders, ClientToServerMessagesAndBundles) {
    Inbox inbox;
    auto server = OSCUDPServer::create(0, OSCTimeTagMode::ignore, nullptr, inbox.handler());
    server->start();
    auto client = OSCUDPClient::create();
    const auto port = server->localPort();
    client->send(OSCMessage("/one", {std::int32_t{1}}), "localhost", port);
    client->send(OSCPacket(OSCMessage("/two")), "loopback", port);
    // A bundle's messages are unpacked one hop later: sent last, they arrive last, in order.
    client->send(OSCBundle(std::nullopt, {OSCMessage("/three"), OSCMessage("/four")}), "127.0.0.1",
                 port);
    ASSERT_TRUE(inbox.waitFor(4));
    EXPECT_EQ(inbox.addresses(), (std::vector<std::string>{"/one", "/two", "/three", "/four"}));
}

TEST_F(OSCUDPSenders, DatagramsHandedOverGoBeforeStopOrRelease) {
    for (int round = 0; round < 1000; ++round) {
        const std::string address = "/round/" + std::to_string(round);
        switch (round % 4) {
            case 0: {
                auto client = OSCUDPClient::create();
                client->send(OSCMessage(address), "localhost", receiver.port());
                break;
            }
            case 1: {
                auto client = OSCUDPClient::create();
                client->start();
                client->send(OSCMessage(address), "127.0.0.1", receiver.port());
                client->stop();
                break;
            }
            case 2: {
                auto peer = OSCUDPSocket::create(std::nullopt, std::string("localhost"),
                                                 receiver.port(), OSCTimeTagMode::ignore);
                peer->start();
                peer->send(OSCMessage(address));
                break;
            }
            default: {
                auto peer = OSCUDPSocket::create(std::nullopt, std::string("127.0.0.1"),
                                                 receiver.port(), OSCTimeTagMode::ignore);
                peer->start();
                peer->send(OSCMessage(address));
                peer->stop();
            }
        }
        ASSERT_EQ(oscAddress(receiver.receive()), address);
    }
}

TEST_F(OSCUDPSenders, PeerDefaultsRepliesAndRestarts) {
    Inbox inboxA;
    Inbox inboxB;
    auto a = OSCUDPSocket::create(std::nullopt, std::string("127.0.0.1"), std::nullopt,
                                  OSCTimeTagMode::ignore, false, nullptr, inboxA.handler());
    a->start();
    EXPECT_EQ(a->remotePort(), a->localPort());
    // No remote port: the datagram goes to this socket's own port on the remote host.
    a->send(OSCMessage("/self"));
    ASSERT_TRUE(inboxA.waitFor(1));

    auto b = startReplyingPeer(inboxB);
    a->setRemotePort(b->localPort());
    EXPECT_EQ(a->remotePort(), b->localPort());
    a->send(OSCMessage("/ask"));
    ASSERT_TRUE(inboxA.waitFor(2));
    EXPECT_EQ(inboxA.addresses(), (std::vector<std::string>{"/self", "/reply"}));
    ASSERT_TRUE(inboxB.waitFor(1));
    EXPECT_EQ(inboxB.messages[0].port, a->localPort());

    a->setRemotePort(0);
    EXPECT_EQ(a->remotePort(), a->localPort());
    a->stop();
    EXPECT_FALSE(a->isStarted());
    a->start();
    a->send(OSCMessage("/restarted"));
    ASSERT_TRUE(inboxA.waitFor(3));
    EXPECT_EQ(inboxA.addresses().back(), "/restarted");
}

}  // namespace
