#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

#include "OSCTCPTransportSupport.h"
#include "TcpTestSupport.h"
#include "osc/core/OSCBundle.h"
#include "osc/core/OSCCoreValueTypes.h"
#include "osc/tcp/DispatchTcpSocketError.h"
#include "osc/tcp/OSCTCPClient.h"
#include "osc/tcp/OSCTCPFraming.h"
#include "osc/tcp/OSCTCPServer.h"
#include "osc/udp/DispatchUdpSocketError.h"

// The OSC TCP client and server against raw loopback peers.
namespace rozuri {
namespace {

using namespace osctcptest;
using tcptest::Plain;
using ClientNote = OSCTCPClient::Notification;
using ServerNote = OSCTCPServer::Notification;
constexpr auto kLengthHeader = OSCTCPFramingMode::osc1_0;

Data framed(const OSCPacket& p, OSCTCPFramingMode mode = kLengthHeader) {
    return framedPacket(p.encodedData(), mode);
}

std::shared_ptr<OSCTCPServer> startedServer(Inbox& inbox, OSCTCPFramingMode mode,
                                            Log<ServerNote>* notes = nullptr) {
    auto server = OSCTCPServer::create(std::nullopt, "127.0.0.1", OSCTimeTagMode::ignore, mode,
                                       nullptr, inbox.handler());
    if (notes) server->setNotificationHandler([notes](const ServerNote& n) { notes->add(n); });
    server->start();
    return server;
}

std::shared_ptr<OSCTCPClient> connectedClient(std::uint16_t port, OSCTCPFramingMode mode,
                                              Inbox* inbox = nullptr,
                                              Log<ClientNote>* notes = nullptr) {
    auto client = OSCTCPClient::create("127.0.0.1", port, std::nullopt, OSCTimeTagMode::ignore,
                                       mode, nullptr, inbox ? inbox->handler() : nullptr);
    if (notes) client->setNotificationHandler([notes](const ClientNote& n) { notes->add(n); });
    client->connect(5);
    return client;
}

// A raw peer with Nagle off writes 50 frames one byte per write, every fifth a bundle tagged
// (i + 100) << 32, each holding SLIP's special bytes, and closes: all arrive once, in order,
// with the tag and the peer's address, at the server and at the client.
TEST(OSCTCPTransport, FramesWrittenOneByteAtATimeArriveWhole) {
    for (OSCTCPFramingMode mode : allOSCTCPFramingModes) {
        Data stream;
        for (int i = 0; i < 50; ++i) {
            OSCMessage m("/split", {std::int32_t{i}, Data{0xC0, 0xDB, std::uint8_t(i)}});
            Data f = i % 5 == 4
                         ? framed(OSCBundle(OSCTimeTag(std::uint64_t(i + 100) << 32), {m}), mode)
                         : framed(m, mode);
            stream.insert(stream.end(), f.begin(), f.end());
        }
        for (bool atServer : {true, false}) {
            SCOPED_TRACE(std::to_string(int(mode)) + (atServer ? " server" : " client"));
            Inbox inbox;
            Plain listener = Plain::listener(AF_INET);
            std::shared_ptr<OSCTCPServer> server;
            std::shared_ptr<OSCTCPClient> client;
            Plain peer;
            if (atServer) {
                server = startedServer(inbox, mode);
                peer = Plain::connectTo(AF_INET, server->localPort());
            } else {
                client = connectedClient(listener.port(), mode, &inbox);
                peer = listener.accept();
            }
            ASSERT_TRUE(peer.valid() && noDelay(peer.fd()));
            const std::uint16_t port = atServer ? localPortOf(peer.fd()) : listener.port();
            for (std::uint8_t b : stream) ASSERT_EQ(::send(peer.fd(), &b, 1, MSG_NOSIGNAL), 1);
            peer.reset();  // at once: the last reads are handled after the socket closed
            ASSERT_TRUE(inbox.waitFor(50));
            const auto got = inbox.items();
            for (int i = 0; i < 50; ++i) {
                EXPECT_EQ(got[i].message.values().at(0), AnyOSCValue(std::int32_t{i}));
                EXPECT_EQ(got[i].tag, i % 5 == 4 ? std::uint64_t(i + 100) << 32 : 1u) << i;
                EXPECT_EQ(got[i].host + ":" + std::to_string(got[i].port),
                          "127.0.0.1:" + std::to_string(port));
            }
        }
    }
}

// Half a frame left by one connection does not swallow the start of the next.
TEST(OSCTCPTransport, EachConnectStartsAFreshStream) {
    for (OSCTCPFramingMode mode : allOSCTCPFramingModes) {
        Inbox inbox;
        Log<ClientNote> notes;
        Plain listener = Plain::listener(AF_INET);
        auto client = connectedClient(listener.port(), mode, &inbox, &notes);
        Plain peer = listener.accept();
        const Data whole = framed(OSCMessage("/whole"), mode);
        ASSERT_TRUE(peer.send(Data(whole.begin(), whole.begin() + 5)));
        peer.reset();
        ASSERT_TRUE(notes.waitFor(2));
        client->connect(5);
        peer = listener.accept();
        ASSERT_TRUE(peer.send(whole));
        ASSERT_TRUE(inbox.waitFor(1));
        EXPECT_EQ(inbox.items()[0].message, OSCMessage("/whole")) << int(mode);
    }
}

void expectNotConnected(OSCTCPClient& client) {
    try {
        client.send(OSCMessage("/nowhere"));
        ADD_FAILURE() << "send returned";
    } catch (const OSCSocketError& e) {
        EXPECT_EQ(e.error().domain, DispatchTcpSocketError::domain);
        EXPECT_EQ(e.error().code, 1);
        EXPECT_STREQ(e.what(), "Attempting to send while not connected.");
    }
}

TEST(OSCTCPTransport, ClientSendsOnlyWhileConnectingOrConnected) {
    auto noHost = OSCTCPClient::create("", 9, std::nullopt, OSCTimeTagMode::ignore, kLengthHeader);
    EXPECT_THROW(noHost->connect(1), OSCSocketError);
    expectNotConnected(*noHost);
    Plain listener = Plain::listener(AF_INET);
    auto client = connectedClient(listener.port(), kLengthHeader);
    EXPECT_THROW(client->connect(5), OSCSocketError);  // already connecting
    const OSCMessage early("/early", {std::int32_t{1}});
    client->send(early);  // queued while connecting
    Plain peer = listener.accept();
    EXPECT_EQ(peer.receive(framed(early).size()), framed(early));
    client->close();
    expectNotConnected(*client);
    EXPECT_TRUE(peer.readsEOF());
}

TEST(OSCTCPTransport, ConnectTimeoutsAreClamped) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<double, double>> rows = {
        {std::nan(""), 1.0}, {-inf, 1.0}, {0, 1.0},     {0.2, 1.0}, {5, 5},
        {1e8, 1e8},          {inf, 1e9},  {1e300, 1e9},
    };
    for (auto [given, used] : rows) EXPECT_EQ(clampedConnectTimeout(given), used) << given;
}

// Only a requested close and the peer's orderly close come without an error.
TEST(OSCTCPTransport, DisconnectionsCarryEveryErrorButAnOrderlyClose) {
    enum class End { refused, peerCloses, peerResets, clientCloses };
    for (End end : {End::refused, End::peerCloses, End::peerResets, End::clientCloses}) {
        SCOPED_TRACE(int(end));
        Log<ClientNote> notes;
        Plain listener = Plain::listener(AF_INET);
        const std::uint16_t port = listener.port();
        if (end == End::refused) listener.reset();
        auto client = connectedClient(port, OSCTCPFramingMode::osc1_1, nullptr, &notes);
        Plain peer;
        if (end != End::refused) {
            peer = listener.accept();
            ASSERT_TRUE(notes.waitFor(1));
        }
        if (end == End::peerCloses) peer.reset();
        if (end == End::peerResets) peer.abort();
        if (end == End::clientCloses) client->close();
        const std::size_t count = end == End::refused ? 1 : 2;
        ASSERT_TRUE(notes.waitFor(count));
        const ClientNote last = notes.items()[count - 1];
        EXPECT_EQ(last.kind, ClientNote::Kind::disconnected);
        EXPECT_EQ(last.error.has_value(), end == End::refused || end == End::peerResets);
        if (end == End::refused && last.error) {
            EXPECT_EQ(last.error->domain, foundation::Error::kPOSIXDomain);
            EXPECT_EQ(last.error->code, ECONNREFUSED);
        }
    }
    Inbox inbox;
    Log<ServerNote> notes;
    auto server = startedServer(inbox, kLengthHeader, &notes);
    Plain peer = Plain::connectTo(AF_INET, server->localPort());
    ASSERT_TRUE(notes.waitFor(1));
    peer.abort();
    ASSERT_TRUE(notes.waitFor(2));
    EXPECT_TRUE(notes.items()[1].error.has_value());
}

std::string reasonOf(const OSCSocketError& e) {
    auto it = e.error().userInfo.find("Reason");
    return it == e.error().userInfo.end() ? "" : it->second;
}

TEST(OSCTCPTransport, ServerClientTable) {
    Inbox inbox;
    Log<ServerNote> notes;
    auto server = startedServer(inbox, kLengthHeader, &notes);
    ASSERT_NE(server->localPort(), 0);
    Plain a = Plain::connectTo(AF_INET, server->localPort());
    ASSERT_TRUE(notes.waitFor(1));
    Plain b = Plain::connectTo(AF_INET, server->localPort());
    ASSERT_TRUE(notes.waitFor(2));
    const ServerNote noteA = notes.items()[0];
    const ServerNote noteB = notes.items()[1];
    const std::int64_t idA = noteA.clientID;
    const std::int64_t idB = noteB.clientID;
    EXPECT_EQ(noteA, (ServerNote{ServerNote::Kind::connected, "127.0.0.1", localPortOf(a.fd()), idA,
                                 std::nullopt}));
    EXPECT_TRUE(idA >= 1 && idB >= 1 && idA != idB);
    EXPECT_EQ(server->clients(), (std::map<std::int64_t, OSCTCPServer::ClientInfo>{
                                     {idA, {"127.0.0.1", localPortOf(a.fd())}},
                                     {idB, {"127.0.0.1", localPortOf(b.fd())}}}));

    // Each message comes with its own client's address.
    ASSERT_TRUE(b.send(framed(OSCMessage("/from/b"))) && a.send(framed(OSCMessage("/from/a"))));
    ASSERT_TRUE(inbox.waitFor(2));
    for (const Received& r : inbox.items()) {
        const Plain& from = r.message == OSCMessage("/from/a") ? a : b;
        EXPECT_EQ(r.port, localPortOf(from.fd()));
    }

    // An ID not in the table stops the loop after the clients before it were written to.
    const OSCMessage hello("/hello");
    const std::int64_t unknown = idA == 42 ? 43 : 42;
    for (std::int64_t bad : {unknown, std::int64_t{0}, std::int64_t{-7}}) {
        try {
            server->send(hello, {idA, bad, idB});
            ADD_FAILURE() << "no throw for " << bad;
        } catch (const DispatchUdpSocketError& e) {
            EXPECT_EQ(e.code(), DispatchUdpSocketError::Code::badParam);
            EXPECT_EQ(reasonOf(e), "OSC TCP client socket with ID " + std::to_string(bad) +
                                       " not found (not connected).");
        }
    }
    EXPECT_EQ(a.receive(3 * framed(hello).size()).size(), 3 * (4 + hello.encodedData().size()));
    const OSCMessage second("/second");
    server->send(second, {idB, idB});
    const Data once = framed(second);
    Data twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(b.receive(twice.size()), twice);  // and nothing before

    server->disconnectClient(unknown);
    EXPECT_EQ(server->clients().size(), 2u);
    server->disconnectClient(idA);
    EXPECT_EQ(server->clients().count(idA), 0u);
    EXPECT_TRUE(a.readsEOF());

    b.reset();
    ASSERT_TRUE(notes.waitFor(3));
    EXPECT_EQ(notes.items()[2], (ServerNote{ServerNote::Kind::disconnected, "127.0.0.1",
                                            noteB.remotePort, idB, std::nullopt}));
    EXPECT_TRUE(server->clients().empty());

    Plain c = Plain::connectTo(AF_INET, server->localPort());
    ASSERT_TRUE(notes.waitFor(4));
    server->stop();
    EXPECT_TRUE(server->clients().empty());
    EXPECT_EQ(server->localPort(), 0);
    EXPECT_TRUE(c.readsEOF());
}

// An echo handler sends from the server's queue while another thread uses the table, and
// clients come and go.
TEST(OSCTCPTransport, TableOperationsRunOnTheServerQueue) {
    Inbox unused;
    auto server = startedServer(unused, kLengthHeader);
    std::weak_ptr<OSCTCPServer> weak = server;
    server->setReceiveHandler(
        [weak](const OSCMessage& m, const OSCTimeTag&, const std::string&, std::uint16_t) {
            if (auto s = weak.lock()) s->send(m);
        });
    std::thread other([&] {
        for (int i = 0; i < 500; ++i) {
            if (!server->clients().empty()) server->disconnectClient(-1);
            server->send(OSCMessage("/noise"));
        }
    });
    std::vector<Plain> peers;
    for (int i = 0; i < 8; ++i) {
        peers.push_back(Plain::connectTo(AF_INET, server->localPort()));
        ASSERT_TRUE(peers.back().send(framed(OSCMessage("/echo", {std::int32_t{i}}))));
        if (i % 2) peers[i - 1].reset();
    }
    OSCTCPStreamDeframer deframer(kLengthHeader);
    const Data echo = OSCMessage("/echo", {std::int32_t{7}}).encodedData();
    bool echoed = false;
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!echoed && std::chrono::steady_clock::now() < deadline) {
        Data got = peers.back().receive(1, 100ms);
        for (const Data& f : deframer.feed(got)) echoed |= f == echo;
    }
    other.join();
    EXPECT_TRUE(echoed);
}

}  // namespace
}  // namespace rozuri
