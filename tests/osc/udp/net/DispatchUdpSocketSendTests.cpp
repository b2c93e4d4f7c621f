#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <numeric>
#include <random>
#include <sstream>
#include <thread>

#include "NetTestSupport.h"
#include "SendSeam.h"
#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/DispatchUdpSocketError.h"

namespace {

using namespace udptest;
using rozuri::DispatchUdpSocket;
using Code = rozuri::DispatchUdpSocketError::Code;

Data bytes(const std::string& text) {
    return Data(text.begin(), text.end());
}

std::string text(const Data& data) {
    return std::string(data.begin(), data.end());
}

struct DispatchUdpSocketSend : ::testing::Test {
    std::shared_ptr<dispatch::Queue> delegateQueue = dispatch::Queue::createSerial("test.delegate");
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<DispatchUdpSocket> socket = DispatchUdpSocket::create(delegate, delegateQueue);
    PlainSocket receiver{AF_INET};

    void SetUp() override { ASSERT_TRUE(receiver.bindLoopback()); }
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
    // Sends `tag` to the receiver and expects it there.
    void expectDelivered(std::int64_t tag) {
        const auto before = delegate->eventLog().size();
        socket->sendData(bytes("ok"), "127.0.0.1", receiver.port(), 1.0, tag);
        EXPECT_EQ(text(receiver.receive()), "ok");
        ASSERT_TRUE(delegate->waitForEvents(before + 1));
        EXPECT_EQ(delegate->eventLog().back(), "sent " + std::to_string(tag));
    }
};

TEST_F(DispatchUdpSocketSend, DeliversInOrderOnEveryLoopbackName) {
    const bool six = hasIPv6Loopback();
    PlainSocket receiver6(AF_INET6);
    if (six) {
        ASSERT_TRUE(receiver6.bindLoopback(receiver.port()));
    }
    struct Case {
        const char* host;
        int preference;  // 0 none, 4, 6
        int family;
    };
    const Case cases[] = {
        {"127.0.0.1", 0, AF_INET}, {"localhost", 0, AF_INET},  {"loopback", 0, AF_INET},
        {"localhost", 4, AF_INET}, {"localhost", 6, AF_INET6}, {"::1", 0, AF_INET6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " prefer " + std::to_string(c.preference));
        if (c.family == AF_INET6 && !six) continue;
        auto d = std::make_shared<RecordingDelegate>();
        auto s = DispatchUdpSocket::create(d, delegateQueue);
        if (c.preference == 4) s->setPreferIPv4();
        if (c.preference == 6) s->setPreferIPv6();
        for (int tag = 1; tag <= 3; ++tag) {
            s->sendData(bytes("m" + std::to_string(tag)), c.host, receiver.port(), 1.0, tag);
        }
        ASSERT_TRUE(d->waitForEvents(3));
        EXPECT_EQ(d->eventLog(), (std::vector<std::string>{"sent 1", "sent 2", "sent 3"}));
        const PlainSocket& r = c.family == AF_INET ? receiver : receiver6;
        for (int tag = 1; tag <= 3; ++tag) EXPECT_EQ(text(r.receive()), "m" + std::to_string(tag));
        // The first send bound the socket.
        EXPECT_TRUE(s->beginReceiving());
    }
}

TEST_F(DispatchUdpSocketSend, AFailedDatagramLeavesTheSocketOpen) {
    ASSERT_TRUE(socket->bindToPort(0, "127.0.0.1"));
    const auto port = socket->localPort();
    struct Case {
        const char* name;
        int armed;  // errno given by the seam, or 0 for the system's own answer
        std::function<void(std::int64_t)> send;
        int expected;
    };
    const auto to = [&](const char* host, std::uint16_t p, std::size_t size = 8) {
        return
            [=, this](std::int64_t tag) { socket->sendData(Data(size, 'x'), host, p, 1.0, tag); };
    };
    const auto live = to("127.0.0.1", receiver.port());
    const Case cases[] = {
        {"too large for IPv4", 0, to("127.0.0.1", receiver.port(), 65508), EMSGSIZE},
        {"port 0", 0, to("127.0.0.1", 0), EINVAL},
        {"broadcast not enabled", 0, to("255.255.255.255", 9), EACCES},
        {"refused", ECONNREFUSED, live, ECONNREFUSED},
        {"no buffers", ENOBUFS, live, ENOBUFS},
        {"no memory", ENOMEM, live, ENOMEM},
        {"not permitted", EPERM, live, EPERM},
        {"host unreachable", EHOSTUNREACH, live, EHOSTUNREACH},
        {"net unreachable", ENETUNREACH, live, ENETUNREACH},
        {"address not available", EADDRNOTAVAIL, live, EADDRNOTAVAIL},
        {"family not supported", EAFNOSUPPORT, live, EAFNOSUPPORT},
    };
    std::int64_t tag = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.armed) armSendFailure(fd4(), c.armed);
        const auto before = delegate->eventLog().size();
        c.send(++tag);
        ASSERT_TRUE(delegate->waitForEvents(before + 1));
        const auto e = delegate->lastError();
        EXPECT_EQ(e.domain, foundation::Error::kPOSIXDomain);
        EXPECT_EQ(e.code, c.expected);
        EXPECT_EQ(e.localizedFailureReason(), "Error in send() function.");
        expectDelivered(++tag);
        EXPECT_EQ(socket->localPort(), port);
    }
    EXPECT_EQ(delegate->closeCount(), 0u);
}

TEST_F(DispatchUdpSocketSend, ADescriptorThatIsNoSocketCloses) {
    for (const int err : {EBADF, ENOTSOCK}) {
        SCOPED_TRACE(err);
        auto d = std::make_shared<RecordingDelegate>();
        socket = DispatchUdpSocket::create(d, delegateQueue);
        ASSERT_TRUE(socket->bindToPort(0, "127.0.0.1"));
        armSendFailure(fd4(), err);
        socket->sendData(bytes("x"), "127.0.0.1", receiver.port(), 1.0, 1);
        ASSERT_TRUE(d->waitForEvents(2));
        EXPECT_EQ(d->eventLog(), (std::vector<std::string>{"failed 1: Socket closed", "closed"}));
        EXPECT_EQ(d->closes.back()->code, err);
        EXPECT_TRUE(socket->isClosed());
    }
}

TEST_F(DispatchUdpSocketSend, WouldBlockIsRetriedWhenTheSocketDrains) {
    ASSERT_TRUE(socket->bindToPort(0, "127.0.0.1"));
    const double timeouts[] = {-1.0,
                               1.0,
                               std::numeric_limits<double>::quiet_NaN(),
                               std::numeric_limits<double>::infinity(),
                               1e300,
                               -std::numeric_limits<double>::infinity()};
    std::int64_t tag = 0;
    for (const double timeout : timeouts) {
        SCOPED_TRACE(timeout);
        armSendFailure(fd4(), EAGAIN, 3);
        socket->sendData(bytes("later"), "127.0.0.1", receiver.port(), timeout, ++tag);
        EXPECT_EQ(text(receiver.receive()), "later");
        ASSERT_TRUE(delegate->waitForEvents(static_cast<std::size_t>(tag)));
        EXPECT_EQ(delegate->eventLog().back(), "sent " + std::to_string(tag));
    }
    // A socket that stays full times the datagram out, and the next one goes.
    armSendFailure(fd4(), EAGAIN, std::numeric_limits<int>::max());
    socket->sendData(bytes("never"), "127.0.0.1", receiver.port(), 0.05, ++tag);
    ASSERT_TRUE(delegate->waitForEvents(static_cast<std::size_t>(tag)));
    EXPECT_EQ(delegate->eventLog().back(), "failed 7: Send operation timed out");
    EXPECT_EQ(delegate->lastError().code, static_cast<int>(Code::sendTimeout));
    disarmSendFailures();
    expectDelivered(++tag);
}

TEST_F(DispatchUdpSocketSend, DestinationsWithoutAUsableFamilyFailAlone) {
    const bool six = hasIPv6Loopback();
    const std::string deactivated6 =
        "IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 address(es).";
    struct Case {
        const char* name;
        std::function<void(DispatchUdpSocket&)> setUp;
        std::function<void(DispatchUdpSocket&)> send;
        std::string expected;  // "" when the datagram must reach the receiver
    };
    const auto bind4 = [](DispatchUdpSocket& s) { ASSERT_TRUE(s.bindToPort(0, "127.0.0.1")); };
    const auto port = receiver.port();
    const Case cases[] = {
        {"IPv6 host on an IPv4 socket", bind4,
         [](DispatchUdpSocket& s) { s.sendData(bytes("x"), "::1", 9, 1.0, 1); }, deactivated6},
        {"IPv6 preferred on an IPv4 socket",
         [&](DispatchUdpSocket& s) {
             s.setPreferIPv6();
             bind4(s);
         },
         [&](DispatchUdpSocket& s) { s.sendData(bytes("x"), "localhost", port, 1.0, 1); }, ""},
        {"option call before an IPv4 bind",
         [&](DispatchUdpSocket& s) {
             ASSERT_TRUE(s.enableReusePort(true));
             bind4(s);
             EXPECT_FALSE(s.isIPv6());
         },
         [](DispatchUdpSocket& s) { s.sendData(bytes("x"), "::1", 9, 1.0, 1); }, deactivated6},
        {"address of a disabled family", [](DispatchUdpSocket& s) { s.setIPv6Enabled(false); },
         [](DispatchUdpSocket& s) {
             s.sendData(bytes("x"), mstest::loopbackAddress(AF_INET6, 9), 1.0, 1);
         },
         "IPv6 has been disabled and DNS lookup found no IPv4 address(es)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (!six && c.expected.empty()) continue;
        auto d = std::make_shared<RecordingDelegate>();
        auto s = DispatchUdpSocket::create(d, delegateQueue);
        c.setUp(*s);
        c.send(*s);
        ASSERT_TRUE(d->waitForEvents(1));
        if (c.expected.empty()) {
            EXPECT_EQ(d->eventLog().front(), "sent 1");
            EXPECT_EQ(text(receiver.receive()), "x");
        } else {
            EXPECT_EQ(d->eventLog().front(), "failed 1: " + c.expected);
            EXPECT_EQ(d->lastError().code, static_cast<int>(Code::other));
        }
        EXPECT_FALSE(s->isClosed());
    }
}

TEST_F(DispatchUdpSocketSend, IPv4MappedDestinationsGoOverIPv4) {
    // The IPv6 socket is IPv6 only: a mapped address is sent as its IPv4 address.
    const Data mapped = mstest::address6("::ffff:127.0.0.1", receiver.port());
    struct Case {
        const char* name;
        bool bind4;  // bound to 127.0.0.1 first (IPv6 inactive)
        bool byAddress;
        bool connect;
    };
    const Case cases[] = {
        {"host", false, false, false},    {"host, bound to IPv4", true, false, false},
        {"address", false, true, false},  {"address, bound to IPv4", true, true, false},
        {"connected", false, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto d = std::make_shared<RecordingDelegate>();
        auto s = DispatchUdpSocket::create(d, delegateQueue);
        if (c.bind4) {
            ASSERT_TRUE(s->bindToPort(0, "127.0.0.1"));
        }
        if (c.connect) {
            ASSERT_TRUE(s->connectToAddress(mapped));
        }
        if (c.byAddress) {
            s->sendData(bytes("m"), mapped, 1.0, 1);
        } else {
            s->sendData(bytes("m"), "::ffff:127.0.0.1", receiver.port(), 1.0, 1);
        }
        EXPECT_EQ(text(receiver.receive()), "m");
        ASSERT_TRUE(d->waitForEvents(c.connect ? 2 : 1));  // a connect is reported first
        EXPECT_EQ(d->eventLog().back(), "sent 1");
        // The reply comes from the IPv4 address and is reported as such.
        ASSERT_TRUE(s->beginReceiving());
        ASSERT_TRUE(receiver.sendTo(s->localPort_IPv4(), "r"));
        ASSERT_TRUE(d->waitForDatagrams(1));
        std::string host;
        int family = 0;
        DispatchUdpSocket::getHost(&host, nullptr, &family, d->datagrams[0].address);
        EXPECT_EQ(host, "127.0.0.1");
        EXPECT_EQ(family, AF_INET);
    }
}

TEST_F(DispatchUdpSocketSend, BadDestinationsAreReportedAndTheSocketStaysOpen) {
    const std::string nameless = "Name or service not known";
    const std::string withNul("127.0.0.1\0evil", 14);
    struct Case {
        std::string host;
        Data address;  // used when the host is "-"
        std::string expected;
    };
    const Case cases[] = {
        {"", {}, "The host param is nil. Should be domain name or IP address string."},
        {withNul, {}, nameless},
        {"[::1]", {}, nameless},
        {"h:5000", {}, nameless},
        {std::string(300, 'a'), {}, nameless},
        {"-", {}, "A valid IPv4 or IPv6 address was not given"},
        {"-", Data(8, 0), "A valid IPv4 or IPv6 address was not given"},
        {"-", Data(16, 0), "A valid IPv4 or IPv6 address was not given"},
    };
    ASSERT_TRUE(socket->bindToPort(0, "127.0.0.1"));
    std::int64_t tag = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host.size() > 20 ? "long name" : c.host);
        if (c.host == "-") {
            socket->sendData(bytes("x"), c.address, 1.0, ++tag);
        } else {
            socket->sendData(bytes("x"), c.host, 9, 1.0, ++tag);
        }
        ASSERT_TRUE(delegate->waitForEvents(static_cast<std::size_t>(tag)));
        EXPECT_EQ(delegate->eventLog().back(), "failed " + std::to_string(tag) + ": " + c.expected);
    }
    socket->sendData(bytes("x"), ++tag);
    ASSERT_TRUE(delegate->waitForEvents(static_cast<std::size_t>(tag)));
    EXPECT_EQ(delegate->eventLog().back(),
              "failed " + std::to_string(tag) +
                  ": You must specify destination of packet for a non-connected socket");
    // Empty data is ignored without an answer.
    socket->sendData(Data(), "127.0.0.1", receiver.port(), 1.0, 99);
    expectDelivered(++tag);
    EXPECT_EQ(delegate->closeCount(), 0u);
}

TEST_F(DispatchUdpSocketSend, SendFiltersDropWithoutSending) {
    for (const bool async : {false, true}) {
        SCOPED_TRACE(async ? "async" : "sync");
        auto d = std::make_shared<RecordingDelegate>();
        auto s = DispatchUdpSocket::create(d, delegateQueue);
        std::vector<std::uint16_t> ports;  // filter queue only
        s->setSendFilter(
            [&ports](const Data&, const Data& address, std::int64_t tag) {
                ports.push_back(DispatchUdpSocket::portFromAddress(address));
                return tag != 2;
            },
            dispatch::Queue::createSerial("test.filter"), async);
        for (int tag = 1; tag <= 3; ++tag) {
            s->sendData(bytes("f" + std::to_string(tag)), "127.0.0.1", receiver.port(), 1.0, tag);
        }
        ASSERT_TRUE(d->waitForEvents(3));
        EXPECT_EQ(d->eventLog(), (std::vector<std::string>{"sent 1", "sent 2", "sent 3"}));
        EXPECT_EQ(text(receiver.receive()), "f1");
        EXPECT_EQ(text(receiver.receive()), "f3");
        EXPECT_EQ(ports, std::vector<std::uint16_t>(3, receiver.port()));
    }
}

TEST_F(DispatchUdpSocketSend, ClosingAnswersEveryWaitingDatagram) {
    ASSERT_TRUE(socket->bindToPort(0, "127.0.0.1"));
    // Drained: everything handed over goes, then the close.
    for (int tag = 1; tag <= 3; ++tag) {
        socket->sendData(bytes("d"), "127.0.0.1", receiver.port(), 1.0, tag);
    }
    socket->closeAfterSending();
    ASSERT_TRUE(delegate->waitForEvents(4));
    EXPECT_EQ(delegate->eventLog(),
              (std::vector<std::string>{"sent 1", "sent 2", "sent 3", "closed"}));

    // Closed at once while the socket would block: each datagram is answered, in order.
    auto d = std::make_shared<RecordingDelegate>();
    socket = DispatchUdpSocket::create(d, delegateQueue);
    ASSERT_TRUE(socket->bindToPort(0, "127.0.0.1"));
    armSendFailure(fd4(), EAGAIN, std::numeric_limits<int>::max());
    for (int tag = 1; tag <= 3; ++tag) {
        socket->sendData(bytes("d"), "127.0.0.1", receiver.port(), -1.0, tag);
    }
    // A close while draining (as a restart does) ends the drain at once.
    socket->closeAfterSending();
    socket->close();
    ASSERT_TRUE(d->waitForEvents(4));
    EXPECT_EQ(d->eventLog(),
              (std::vector<std::string>{"failed 1: Socket closed", "failed 2: Socket closed",
                                        "failed 3: Socket closed", "closed"}));
    EXPECT_EQ(d->lastError().code, static_cast<int>(Code::closed));
    disarmSendFailures();
    EXPECT_TRUE(socket->bindToPort(0, "127.0.0.1"));
}

TEST_F(DispatchUdpSocketSend, ConnectedSockets) {
    const bool six = hasIPv6Loopback();
    struct Case {
        const char* host;
        int family;
    };
    for (const Case c : {Case{"127.0.0.1", AF_INET}, Case{"::1", AF_INET6}}) {
        SCOPED_TRACE(c.host);
        if (c.family == AF_INET6 && !six) continue;
        PlainSocket peer(c.family);
        ASSERT_TRUE(peer.bindLoopback());
        auto d = std::make_shared<RecordingDelegate>();
        auto s = DispatchUdpSocket::create(d, delegateQueue);
        ASSERT_TRUE(s->connectToHost(c.host, peer.port()));
        foundation::Error error;
        EXPECT_FALSE(s->connectToHost(c.host, peer.port(), &error));
        EXPECT_EQ(error.localizedDescription(), "Cannot connect a socket more than once.");
        ASSERT_TRUE(d->waitForEvents(1));
        EXPECT_EQ(d->eventLog().front(),
                  "connected " + std::string(c.host) + " " + std::to_string(peer.port()));
        EXPECT_TRUE(s->isConnected());
        EXPECT_EQ(s->isIPv4(), c.family == AF_INET);
        EXPECT_EQ(s->isIPv6(), c.family == AF_INET6);
        EXPECT_FALSE(s->bindToPort(0, &error));
        EXPECT_FALSE(s->joinMulticastGroup("239.1.2.3", &error));

        s->sendData(bytes("to peer"), 1);
        s->sendData(bytes("named"), peer.loopback(peer.port()), 1.0, 2);
        s->sendData(bytes("elsewhere"), peer.loopback(9), 1.0, 3);
        s->sendData(bytes("host"), c.host, peer.port(), 1.0, 4);
        ASSERT_TRUE(d->waitForEvents(5));
        const std::string refused = "Cannot specify destination of packet for connected socket";
        EXPECT_EQ(d->eventLog(),
                  (std::vector<std::string>{d->eventLog().front(), "sent 1", "sent 2",
                                            "failed 3: " + refused, "failed 4: " + refused}));
        EXPECT_EQ(text(peer.receive()), "to peer");
        EXPECT_EQ(text(peer.receive()), "named");
    }
}

TEST_F(DispatchUdpSocketSend, ConnectedToNobodyFailsDatagramsNotTheSocket) {
    const auto dead = freeUdpPort();
    ASSERT_TRUE(socket->connectToAddress(mstest::loopbackAddress(AF_INET, dead)));
    socket->sendData(bytes("1"), 1);
    ASSERT_TRUE(delegate->waitForEvents(2));
    // The port-unreachable report of the first datagram fails the next one.
    socket->sendData(bytes("2"), 2);
    ASSERT_TRUE(delegate->waitForEvents(3));
    EXPECT_EQ(delegate->eventLog()[2], "failed 2: Connection refused");
    EXPECT_FALSE(socket->isClosed());
}

TEST_F(DispatchUdpSocketSend, ConnectRefusals) {
    struct Case {
        const char* name;
        std::function<bool(foundation::Error*)> connect;
        std::string expected;
    };
    const Case cases[] = {
        {"nil host", [&](foundation::Error* e) { return socket->connectToHost("", 9, e); },
         "The host param is nil. Should be domain name or IP address string."},
        {"nil address", [&](foundation::Error* e) { return socket->connectToAddress(Data(), e); },
         "The address param is nil. Should be a valid address."},
        {"short address",
         [&](foundation::Error* e) { return socket->connectToAddress(Data(8, 2), e); },
         "A valid IPv4 or IPv6 address was not given"},
        {"family 0", [&](foundation::Error* e) { return socket->connectToAddress(Data(16, 0), e); },
         "A valid IPv4 or IPv6 address was not given"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        foundation::Error error;
        EXPECT_FALSE(c.connect(&error));
        EXPECT_EQ(error.localizedDescription(), c.expected);
    }
    // A name that cannot be looked up is answered later.
    ASSERT_TRUE(socket->connectToHost("[::1]", 9));
    ASSERT_TRUE(delegate->waitForEvents(1));
    EXPECT_EQ(delegate->eventLog().front(), "not connected: Name or service not known");
    EXPECT_FALSE(socket->isConnected());
}

// The groups /proc lists for loopback, as the kernel prints them.
std::string procFile(const char* path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(DispatchUdpSocketSend, MulticastOnLoopback) {
    if (procFile("/proc/net/igmp").empty()) GTEST_SKIP() << "no IPv4 multicast";
    std::mt19937 random(std::random_device{}());
    const int a = 1 + random() % 250;
    const int b = 1 + random() % 250;
    const std::string group = "239.255." + std::to_string(a) + "." + std::to_string(b);
    char igmpEntry[16];
    std::snprintf(igmpEntry, sizeof igmpEntry, "%02X%02XFFEF", b, a);

    auto d1 = std::make_shared<RecordingDelegate>();
    auto d2 = std::make_shared<RecordingDelegate>();
    auto joined = DispatchUdpSocket::create(d1, delegateQueue);
    auto other = DispatchUdpSocket::create(d2, delegateQueue);
    foundation::Error error;
    EXPECT_FALSE(joined->joinMulticastGroup(group, &error));
    EXPECT_EQ(error.localizedDescription(), "Must bind a socket before joining a multicast group.");
    ASSERT_TRUE(joined->enableReusePort(true));
    ASSERT_TRUE(other->enableReusePort(true));
    ASSERT_TRUE(joined->bindToPort(0, &error)) << error.localizedDescription();
    const auto port = joined->localPort();
    ASSERT_TRUE(other->bindToPort(port, &error)) << error.localizedDescription();
    ASSERT_TRUE(joined->beginReceiving());
    ASSERT_TRUE(other->beginReceiving());

    EXPECT_FALSE(joined->joinMulticastGroup("localhost", &error));
    EXPECT_EQ(error.localizedDescription(), "Unknown group. Specify valid group IP address.");
    ASSERT_TRUE(joined->joinMulticastGroup(group, std::string("127.0.0.1"), &error))
        << error.localizedDescription();
    EXPECT_NE(procFile("/proc/net/igmp").find(igmpEntry), std::string::npos);
    EXPECT_FALSE(joined->isIPv6());

    ASSERT_TRUE(socket->sendIPv4MulticastOnInterface("127.0.0.1", &error))
        << error.localizedDescription();
    socket->sendData(bytes("group"), group, port, 1.0, 1);
    ASSERT_TRUE(d1->waitForDatagrams(1));
    EXPECT_EQ(text(d1->datagrams[0].data), "group");
    // Loopback queues a multicast datagram for every member within the send: `other` holds it
    // by now, unread or handed to its delegate, if it was given one.
    bool waiting = true;
    other->performBlock([&] {
        char b;
        waiting = ::recv(other->socket4FD(), &b, 1, MSG_PEEK | MSG_DONTWAIT) >= 0;
    });
    barrier(delegateQueue);
    EXPECT_FALSE(waiting);
    EXPECT_EQ(d2->datagramCount(), 0u);

    // The IPv6 socket the join closed is no destination any more, not a fault.
    joined->setPreferIPv6();
    joined->sendData(bytes("after join"), "localhost", receiver.port(), 1.0, 7);
    EXPECT_EQ(text(receiver.receive()), "after join");
    ASSERT_TRUE(d1->waitForEvents(1));
    EXPECT_EQ(d1->eventLog().front(), "sent 7");

    ASSERT_TRUE(joined->leaveMulticastGroup(group, std::string("127.0.0.1"), &error));
    EXPECT_EQ(procFile("/proc/net/igmp").find(igmpEntry), std::string::npos);
}

TEST_F(DispatchUdpSocketSend, IPv6MulticastMembershipOnLoopback) {
    if (!hasIPv6Loopback() || procFile("/proc/net/igmp6").empty()) {
        GTEST_SKIP() << "no IPv6 multicast";
    }
    std::mt19937 random(std::random_device{}());
    char group[40];
    char hex[40];
    const unsigned id = 0x1000 + random() % 0xE000;
    std::snprintf(group, sizeof group, "ff02::%x", id);
    std::snprintf(hex, sizeof hex, "ff02000000000000000000000000%04x", id);
    foundation::Error error;
    ASSERT_TRUE(socket->bindToPort(0, &error));
    EXPECT_FALSE(socket->joinMulticastGroup(group, std::string("127.0.0.1"), &error));
    EXPECT_EQ(error.localizedDescription(),
              "Socket, group, and interface do not have matching IP versions");
    ASSERT_TRUE(socket->joinMulticastGroup(group, std::string("lo"), &error))
        << error.localizedDescription();
    EXPECT_NE(procFile("/proc/net/igmp6").find(hex), std::string::npos);
    EXPECT_FALSE(socket->isIPv4());
    ASSERT_TRUE(socket->leaveMulticastGroup(group, std::string("lo"), &error));
    EXPECT_EQ(procFile("/proc/net/igmp6").find(hex), std::string::npos);
    EXPECT_TRUE(socket->sendIPv6MulticastOnInterface("lo", &error)) << error.localizedDescription();
}

// Sends from the caller's thread keep every promise of the socket queue's way: order, one
// answer per datagram, configuration handed over before them, no send on a closed descriptor.
TEST_F(DispatchUdpSocketSend, DirectSendsNeverOvertakeWhatWaitsOnTheQueue) {
    ASSERT_TRUE(socket->bindToPort(0, "127.0.0.1"));
    std::int64_t tag = 0;
    for (const bool filter : {false, true}) {
        SCOPED_TRACE(filter ? "send filter" : "would block");
        // Either makes the first datagram wait on the queue.
        if (filter) {
            socket->setSendFilter([](const Data&, const Data&, std::int64_t) { return true; },
                                  dispatch::Queue::createSerial("test.filter"));
        } else {
            armSendFailure(fd4(), EAGAIN, 2);
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

TEST_F(DispatchUdpSocketSend, DirectSendsApplyConfigurationHandedOverFirst) {
    if (!hasIPv6Loopback()) GTEST_SKIP() << "no IPv6 loopback";
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
    ASSERT_TRUE(delegate->waitForEvents(3));
    EXPECT_EQ(delegate->eventLog(),
              (std::vector<std::string>{
                  "sent 1", "sent 2",
                  "failed 3: IPv6 has been disabled and DNS lookup found no IPv4 address(es)."}));
}

// Several threads send while another closes and binds again: every datagram is answered once,
// each thread's in its order.
TEST_F(DispatchUdpSocketSend, ConcurrentDirectSendsAndClosesAnswerEachDatagramOnceInOrder) {
    ASSERT_TRUE(socket->bindToPort(0, "127.0.0.1"));
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
