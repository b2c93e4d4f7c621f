#include <gtest/gtest.h>
#include <netdb.h>

#include <cmath>
#include <limits>
#include <set>
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

constexpr int kFrames = 50;

std::int32_t intOf(const OSCMessage& m) {
    const auto* v = m.values().at(0).get_if<std::int32_t>();
    return v ? *v : -1;
}

// 50 frames, every fifth a bundle tagged (i + 100) << 32; each carries SLIP's special bytes.
Data fiftyFrames(OSCTCPFramingMode mode) {
    Data stream;
    for (int i = 0; i < kFrames; ++i) {
        OSCMessage m("/split", {std::int32_t{i}, Data{0xC0, 0xDB, std::uint8_t(i)}});
        OSCPacket p =
            i % 5 == 4
                ? OSCPacket(OSCBundle(OSCTimeTag(std::uint64_t(i + 100) << 32), {OSCPacket(m)}))
                : OSCPacket(m);
        Data framed = framedPacket(p.encodedData(), mode);
        stream.insert(stream.end(), framed.begin(), framed.end());
    }
    return stream;
}

bool writeByteByByte(const Plain& peer, const Data& stream) {
    for (std::uint8_t b : stream) {
        if (::send(peer.fd(), &b, 1, MSG_NOSIGNAL) != 1) return false;
    }
    return true;
}

void expectFiftyInOrder(Inbox& inbox, std::uint16_t port) {
    ASSERT_TRUE(inbox.waitFor(kFrames));
    auto got = inbox.items();
    ASSERT_EQ(got.size(), std::size_t(kFrames));
    for (int i = 0; i < kFrames; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(intOf(got[i].message), i);
        EXPECT_EQ(got[i].tag, i % 5 == 4 ? std::uint64_t(i + 100) << 32 : 1u);
        EXPECT_EQ(got[i].host, "127.0.0.1");
        EXPECT_EQ(got[i].port, port);
    }
}

std::shared_ptr<OSCTCPServer> startedServer(Inbox& inbox, OSCTCPFramingMode mode,
                                            Log<ServerNote>* notes = nullptr) {
    auto server = OSCTCPServer::create(std::nullopt, "127.0.0.1", OSCTimeTagMode::ignore, mode,
                                       nullptr, inbox.handler());
    if (notes) server->setNotificationHandler([notes](const ServerNote& n) { notes->add(n); });
    server->start();
    return server;
}

TEST(OSCTCPTransport, ServerGathersFramesWrittenOneByteAtATime) {
    for (OSCTCPFramingMode mode : allOSCTCPFramingModes) {
        SCOPED_TRACE(int(mode));
        Inbox inbox;
        auto server = startedServer(inbox, mode);
        Plain peer = Plain::connectTo(AF_INET, server->localPort());
        ASSERT_TRUE(peer.valid() && noDelay(peer.fd()));
        ASSERT_TRUE(writeByteByByte(peer, fiftyFrames(mode)));
        expectFiftyInOrder(inbox, localPortOf(peer.fd()));
    }
}

TEST(OSCTCPTransport, ClientGathersFramesWrittenOneByteAtATime) {
    for (OSCTCPFramingMode mode : allOSCTCPFramingModes) {
        SCOPED_TRACE(int(mode));
        Inbox inbox;
        Plain listener = Plain::listener(AF_INET);
        auto client = OSCTCPClient::create("127.0.0.1", listener.port(), std::nullopt,
                                           OSCTimeTagMode::ignore, mode, nullptr, inbox.handler());
        client->connect(5);
        Plain peer = listener.accept();
        ASSERT_TRUE(peer.valid() && noDelay(peer.fd()));
        ASSERT_TRUE(writeByteByByte(peer, fiftyFrames(mode)));
        expectFiftyInOrder(inbox, listener.port());
    }
}

// A peer that writes and closes at once still has its messages delivered with its own host and
// port, on both ends.
TEST(OSCTCPTransport, PeerAddressIsTakenWhenTheConnectionIsMade) {
    const Data frames = [] {
        Data s;
        for (int i = 0; i < 3; ++i) {
            Data f = framedPacket(OSCMessage("/bye", {std::int32_t{i}}).encodedData(),
                                  OSCTCPFramingMode::osc1_0);
            s.insert(s.end(), f.begin(), f.end());
        }
        return s;
    }();
    for (int round = 0; round < 5; ++round) {
        Inbox atServer;
        auto server = startedServer(atServer, OSCTCPFramingMode::osc1_0);
        Plain peer = Plain::connectTo(AF_INET, server->localPort());
        const std::uint16_t peerPort = localPortOf(peer.fd());
        ASSERT_TRUE(peer.send(frames));
        peer.reset();
        ASSERT_TRUE(atServer.waitFor(3));
        for (const auto& r : atServer.items())
            EXPECT_EQ(r.host + ":" + std::to_string(r.port),
                      "127.0.0.1:" + std::to_string(peerPort));

        Inbox atClient;
        Plain listener = Plain::listener(AF_INET);
        auto client =
            OSCTCPClient::create("127.0.0.1", listener.port(), std::nullopt, OSCTimeTagMode::ignore,
                                 OSCTCPFramingMode::osc1_0, nullptr, atClient.handler());
        client->connect(5);
        Plain accepted = listener.accept();
        ASSERT_TRUE(accepted.send(frames));
        accepted.reset();
        ASSERT_TRUE(atClient.waitFor(3));
        for (const auto& r : atClient.items()) EXPECT_EQ(r.port, listener.port());
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
    Plain listener = Plain::listener(AF_INET);
    auto client = OSCTCPClient::create("127.0.0.1", listener.port(), std::nullopt,
                                       OSCTimeTagMode::ignore, OSCTCPFramingMode::osc1_0);
    expectNotConnected(*client);
    client->connect(5);
    const OSCMessage early("/early", {std::int32_t{1}});
    client->send(early);  // queued while connecting
    Plain peer = listener.accept();
    const Data expected = framedPacket(early.encodedData(), OSCTCPFramingMode::osc1_0);
    EXPECT_EQ(peer.receive(expected.size()), expected);
    client->close();
    expectNotConnected(*client);
    EXPECT_TRUE(peer.readsEOF());
}

TEST(OSCTCPTransport, ConnectTimeoutsAreClamped) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::vector<std::pair<double, double>> rows = {
        {std::nan(""), 1.0}, {-5, 1.0},    {0, 1.0},    {0.2, 1.0}, {1.0, 1.0}, {5, 5},
        {inf, 1e9},          {1e300, 1e9}, {-inf, 1.0},
    };
    for (auto [given, used] : rows) EXPECT_EQ(clampedConnectTimeout(given), used) << given;
    // None of them times out at once.
    for (double given : {std::nan(""), inf, 1e300}) {
        Plain listener = Plain::listener(AF_INET);
        auto client = OSCTCPClient::create("127.0.0.1", listener.port(), std::nullopt,
                                           OSCTimeTagMode::ignore, OSCTCPFramingMode::osc1_0);
        Log<ClientNote> notes;
        client->setNotificationHandler([&](const ClientNote& n) { notes.add(n); });
        client->connect(given);
        ASSERT_TRUE(notes.waitFor(1)) << given;
        EXPECT_EQ(notes.items()[0], ClientNote::connected()) << given;
        client->setNotificationHandler({});
    }
}

TEST(OSCTCPTransport, OnlyRequestedAndOrderlyClosesDropTheError) {
    using Code = DispatchTcpSocketError::Code;
    const foundation::Error closed = DispatchTcpSocketError::make(Code::closed);
    const foundation::Error timeout = DispatchTcpSocketError::make(Code::connectTimeout);
    const foundation::Error refused = foundation::Error::posix(ECONNREFUSED);
    const foundation::Error unresolved = foundation::Error::gai(EAI_NONAME);
    const foundation::Error udpClosed(DispatchUdpSocketError::domain, 7);
    EXPECT_EQ(reportedDisconnectionError(std::nullopt), std::nullopt);
    EXPECT_EQ(reportedDisconnectionError(closed), std::nullopt);
    for (const auto& kept : {timeout, refused, unresolved, udpClosed}) {
        EXPECT_EQ(reportedDisconnectionError(kept), kept) << kept.domain;
    }

    enum class End { refused, peerCloses, peerResets, clientCloses };
    for (End end : {End::refused, End::peerCloses, End::peerResets, End::clientCloses}) {
        SCOPED_TRACE(int(end));
        Plain listener = Plain::listener(AF_INET);
        const std::uint16_t port = listener.port();
        if (end == End::refused) listener.reset();
        auto client = OSCTCPClient::create("127.0.0.1", port, std::nullopt, OSCTimeTagMode::ignore,
                                           OSCTCPFramingMode::osc1_1);
        Log<ClientNote> notes;
        client->setNotificationHandler([&](const ClientNote& n) { notes.add(n); });
        client->connect(5);
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
        const bool hasError = end == End::refused || end == End::peerResets;
        EXPECT_EQ(last.error.has_value(), hasError);
        if (end == End::refused && last.error) {
            EXPECT_EQ(last.error->code, ECONNREFUSED);
        }
        client->setNotificationHandler({});
    }
}

std::string reasonOf(const OSCSocketError& e) {
    auto it = e.error().userInfo.find("Reason");
    return it == e.error().userInfo.end() ? "" : it->second;
}

TEST(OSCTCPTransport, ServerClientTable) {
    Inbox inbox;
    Log<ServerNote> notes;
    auto server = startedServer(inbox, OSCTCPFramingMode::osc1_0, &notes);
    ASSERT_NE(server->localPort(), 0);
    Plain a = Plain::connectTo(AF_INET, server->localPort());
    ASSERT_TRUE(notes.waitFor(1));
    Plain b = Plain::connectTo(AF_INET, server->localPort());
    ASSERT_TRUE(notes.waitFor(2));
    const auto connected = notes.items();
    const std::int64_t idA = connected[0].clientID;
    const std::int64_t idB = connected[1].clientID;
    EXPECT_EQ(connected[0], (ServerNote{ServerNote::Kind::connected, "127.0.0.1",
                                        localPortOf(a.fd()), idA, std::nullopt}));
    EXPECT_EQ(connected[1].remotePort, localPortOf(b.fd()));
    EXPECT_GE(std::min(idA, idB), 1);
    EXPECT_NE(idA, idB);
    EXPECT_EQ(server->clients(), (std::map<std::int64_t, OSCTCPServer::ClientInfo>{
                                     {idA, {"127.0.0.1", localPortOf(a.fd())}},
                                     {idB, {"127.0.0.1", localPortOf(b.fd())}}}));

    // Unknown, zero and negative IDs stop the loop; the clients before them were written to.
    const OSCMessage hello("/hello", {std::int32_t{1}});
    const Data framed = framedPacket(hello.encodedData(), OSCTCPFramingMode::osc1_0);
    ASSERT_EQ(framed.size(), hello.encodedData().size() + 4);
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
    const OSCMessage second("/second");
    server->send(second, {idB, idB});  // repeated IDs are written to twice
    EXPECT_EQ(a.receive(3 * framed.size()), Data([&] {
                  Data three;
                  for (int i = 0; i < 3; ++i)
                      three.insert(three.end(), framed.begin(), framed.end());
                  return three;
              }()));
    const Data secondFramed = framedPacket(second.encodedData(), OSCTCPFramingMode::osc1_0);
    Data twice = secondFramed;
    twice.insert(twice.end(), secondFramed.begin(), secondFramed.end());
    EXPECT_EQ(b.receive(twice.size()), twice);  // b got nothing before

    // An unknown ID changes nothing; a known one leaves the table at once.
    server->disconnectClient(unknown);
    EXPECT_EQ(server->clients().size(), 2u);
    server->disconnectClient(idA);
    EXPECT_EQ(server->clients().count(idA), 0u);
    EXPECT_TRUE(a.readsEOF());

    b.reset();
    ASSERT_TRUE(notes.waitFor(3));
    EXPECT_EQ(notes.items()[2], (ServerNote{ServerNote::Kind::disconnected, "127.0.0.1",
                                            connected[1].remotePort, idB, std::nullopt}));
    EXPECT_TRUE(server->clients().empty());

    Plain c = Plain::connectTo(AF_INET, server->localPort());
    ASSERT_TRUE(notes.waitFor(4));
    server->stop();
    EXPECT_TRUE(server->clients().empty());
    EXPECT_TRUE(c.readsEOF());
    server->setNotificationHandler({});
}

TEST(OSCTCPTransport, ServerReportsAResetClientWithItsError) {
    Inbox inbox;
    Log<ServerNote> notes;
    auto server = startedServer(inbox, OSCTCPFramingMode::osc1_1, &notes);
    Plain peer = Plain::connectTo(AF_INET, server->localPort());
    ASSERT_TRUE(notes.waitFor(1));
    peer.abort();
    ASSERT_TRUE(notes.waitFor(2));
    EXPECT_EQ(notes.items()[1].kind, ServerNote::Kind::disconnected);
    EXPECT_TRUE(notes.items()[1].error.has_value());
    server->setNotificationHandler({});
}

// An echo handler sends from the server's queue while other threads use the table.
TEST(OSCTCPTransport, TableOperationsRunOnTheServerQueue) {
    Inbox inbox;
    auto server = startedServer(inbox, OSCTCPFramingMode::osc1_0);
    std::weak_ptr<OSCTCPServer> weak = server;
    server->setReceiveHandler(
        [weak](const OSCMessage& m, const OSCTimeTag&, const std::string&, std::uint16_t) {
            if (auto s = weak.lock()) s->send(m);
        });
    std::thread other([&] {
        for (int i = 0; i < 500; ++i) {
            auto table = server->clients();
            server->send(OSCMessage("/noise"));
            if (!table.empty()) server->disconnectClient(-1);
        }
    });
    std::vector<Plain> peers;
    for (int i = 0; i < 8; ++i) {
        peers.push_back(Plain::connectTo(AF_INET, server->localPort()));
        ASSERT_TRUE(peers.back().send(framedPacket(
            OSCMessage("/echo", {std::int32_t{i}}).encodedData(), OSCTCPFramingMode::osc1_0)));
        if (i % 2) peers[i - 1].reset();
    }
    // The last peer gets its echo among the noise.
    OSCTCPStreamDeframer deframer(OSCTCPFramingMode::osc1_0);
    const Data echo = OSCMessage("/echo", {std::int32_t{7}}).encodedData();
    bool echoed = false;
    std::uint8_t buffer[65536];
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!echoed && std::chrono::steady_clock::now() < deadline) {
        pollfd p{peers.back().fd(), POLLIN, 0};
        if (::poll(&p, 1, 100) != 1) continue;
        const ssize_t n = ::recv(p.fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        for (const Data& f : deframer.feed(DataView(buffer, std::size_t(n)))) echoed |= f == echo;
    }
    other.join();
    EXPECT_TRUE(echoed);
    server->stop();
    EXPECT_TRUE(server->clients().empty());
}

TEST(OSCTCPTransport, OverLimitFramesAreSkippedAndTheConnectionStays) {
    Inbox inbox;
    Log<ServerNote> notes;
    auto server = startedServer(inbox, OSCTCPFramingMode::osc1_0, &notes);
    server->setFrameLimit(64);
    Plain peer = Plain::connectTo(AF_INET, server->localPort());
    ASSERT_TRUE(notes.waitFor(1));
    const OSCMessage big("/big", {std::string(100, 'x')});
    const OSCMessage small("/small", {std::int32_t{5}});
    Data stream = framedPacket(big.encodedData(), OSCTCPFramingMode::osc1_0);
    Data tail = framedPacket(small.encodedData(), OSCTCPFramingMode::osc1_0);
    stream.insert(stream.end(), tail.begin(), tail.end());
    ASSERT_TRUE(peer.send(stream));
    ASSERT_TRUE(inbox.waitFor(1));
    EXPECT_EQ(inbox.items()[0].message, small);
    EXPECT_EQ(server->clients().size(), 1u);
    EXPECT_EQ(notes.size(), 1u);
    server->setNotificationHandler({});
}

TEST(OSCTCPTransport, ConnectRefusalsAreThrown) {
    auto empty = OSCTCPClient::create("", 9, std::nullopt, OSCTimeTagMode::ignore,
                                      OSCTCPFramingMode::osc1_0);
    EXPECT_THROW(empty->connect(1), OSCSocketError);
    Plain listener = Plain::listener(AF_INET);
    auto client = OSCTCPClient::create("127.0.0.1", listener.port(), std::nullopt,
                                       OSCTimeTagMode::ignore, OSCTCPFramingMode::osc1_0);
    client->connect(5);
    EXPECT_THROW(client->connect(5), OSCSocketError);  // already connecting
    Inbox inbox;
    auto server = startedServer(inbox, OSCTCPFramingMode::osc1_0);
    EXPECT_THROW(server->start(), OSCSocketError);  // already listening
}

}  // namespace
}  // namespace rozuri
