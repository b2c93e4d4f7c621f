#include <gtest/gtest.h>
#include <sys/un.h>

#include <cmath>
#include <cstring>

#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/DispatchTcpSocketError.h"
#include "osc/udp/SocketAddress.h"
#include "platform/foundation/Assert.h"

namespace {

using rozuri::Data;
using rozuri::DispatchTcpSocket;
using Code = rozuri::DispatchTcpSocketError::Code;

TEST(DispatchTcpSocketErrors, CodesAndTexts) {
    struct Case {
        foundation::Error error;
        Code code;
        const char* text;
    };
    const Case cases[] = {
        {DispatchTcpSocket::badConfigError("c"), Code::badConfig, "c"},
        {DispatchTcpSocket::badParamError("p"), Code::badParam, "p"},
        {DispatchTcpSocket::connectTimeoutError(), Code::connectTimeout,
         "Attempt to connect to host timed out"},
        {DispatchTcpSocket::readTimeoutError(), Code::readTimeout, "Read operation timed out"},
        {DispatchTcpSocket::writeTimeoutError(), Code::writeTimeout, "Write operation timed out"},
        {DispatchTcpSocket::readMaxedOutError(), Code::readMaxedOut,
         "Read operation reached set maximum length"},
        {DispatchTcpSocket::connectionClosedError(), Code::closed, "Socket closed by remote peer"},
        {DispatchTcpSocket::otherError("o"), Code::other, "o"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.error.domain, "DispatchTcpSocketErrorDomain");
        EXPECT_EQ(c.error.code, static_cast<int>(c.code));
        EXPECT_EQ(c.error.localizedDescription(), c.text);
    }
    const auto posix = DispatchTcpSocket::errnoError(ECONNREFUSED, "Error in connect() function");
    EXPECT_EQ(posix.domain, foundation::Error::kPOSIXDomain);
    EXPECT_EQ(posix.localizedFailureReason(), "Error in connect() function");
}

// Interface descriptions, with IPv6 literals naming their address and ":port" read only
// when the port argument is 0.
TEST(DispatchTcpSocketHelpers, InterfaceDescriptions) {
    const bool six = [] {
        std::optional<Data> a6;
        rozuri::net::interfaceAddresses(std::string("lo"), 0, nullptr, &a6);
        return a6.has_value();
    }();
    const std::optional<std::string> none;
    struct Case {
        std::optional<std::string> description;
        std::uint16_t port;
        std::optional<std::string> host4;
        std::optional<std::string> host6;
        std::uint16_t expectedPort;
    };
    const Case cases[] = {
        {std::nullopt, 7, "0.0.0.0", "::", 7},
        {std::string(""), 7, "0.0.0.0", "::", 7},
        {std::string(":"), 7, "0.0.0.0", "::", 7},
        {std::string(":8000"), 0, "0.0.0.0", "::", 8000},
        {std::string("localhost:8080"), 0, "127.0.0.1", "::1", 8080},
        {std::string("localhost:8080"), 9000, "127.0.0.1", "::1", 9000},
        {std::string("loopback"), 5, "127.0.0.1", "::1", 5},
        {std::string("127.0.0.1:8000"), 0, "127.0.0.1", none, 8000},
        {std::string("::"), 5, none, "::", 5},
        {std::string("::1"), 5, none, six ? std::optional<std::string>("::1") : none, 5},
        {std::string("0:0::1"), 5, none, six ? std::optional<std::string>("::1") : none, 5},
        {std::string("[::1]:8000"), 0, none, six ? std::optional<std::string>("::1") : none, 8000},
        {std::string("[::1]"), 4, none, six ? std::optional<std::string>("::1") : none, 4},
        {std::string("lo:0"), 0, "127.0.0.1", six ? std::optional<std::string>("::1") : none, 0},
        {std::string("lo:70000"), 0, "127.0.0.1", six ? std::optional<std::string>("::1") : none,
         0},
        {std::string("Localhost"), 5, none, none, 0},
        {std::string("no-such-if0"), 5, none, none, 0},
        {std::string("x\0y", 3), 5, none, none, 0},
        {std::string("lo\0", 3), 5, none, none, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description.value_or("<none>"));
        std::optional<Data> a4, a6;
        DispatchTcpSocket::getInterfaceAddress(&a4, &a6, c.description, c.port);
        ASSERT_EQ(a4.has_value(), c.host4.has_value());
        ASSERT_EQ(a6.has_value(), c.host6.has_value());
        if (a4) {
            EXPECT_EQ(DispatchTcpSocket::hostFromAddress(*a4), c.host4);
            EXPECT_EQ(DispatchTcpSocket::portFromAddress(*a4), c.expectedPort);
        }
        if (a6) {
            EXPECT_EQ(DispatchTcpSocket::hostFromAddress(*a6), c.host6);
            EXPECT_EQ(DispatchTcpSocket::portFromAddress(*a6), c.expectedPort);
        }
    }
}

TEST(DispatchTcpSocketHelpers, AddressBuffers) {
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(9);
    v6.sin6_addr = in6addr_loopback;
    const Data six = rozuri::net::bytesOf(&v6, sizeof v6);
    const Data sixShort(six.begin(), six.begin() + 16);
    in_addr lo{};
    lo.s_addr = htonl(INADDR_LOOPBACK);
    const Data four = rozuri::net::makeAddress4(lo, 7);
    struct Case {
        Data address;
        bool is4, is6, readable;
        const char* host;
        std::uint16_t port;
    };
    const Case cases[] = {
        {{}, false, false, false, "", 0},
        {Data(10, 0), false, false, false, "", 0},
        {four, true, false, true, "127.0.0.1", 7},
        {sixShort, false, true, false, "", 0},  // IPv6 by family, too short to read
        {six, false, true, true, "::1", 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address.size());
        EXPECT_EQ(DispatchTcpSocket::isIPv4Address(c.address), c.is4);
        EXPECT_EQ(DispatchTcpSocket::isIPv6Address(c.address), c.is6);
        std::string host = "untouched";
        std::uint16_t port = 1;
        EXPECT_EQ(DispatchTcpSocket::getHost(&host, &port, c.address), c.readable);
        EXPECT_EQ(host, c.readable ? c.host : "untouched");
        EXPECT_EQ(port, c.readable ? c.port : 1);
        EXPECT_EQ(DispatchTcpSocket::portFromAddress(c.address), c.port);
    }
    EXPECT_EQ(DispatchTcpSocket::CRLFData(), (Data{0x0D, 0x0A}));
    EXPECT_EQ(DispatchTcpSocket::CRData(), Data{0x0D});
    EXPECT_EQ(DispatchTcpSocket::LFData(), Data{0x0A});
    EXPECT_EQ(DispatchTcpSocket::ZeroData(), Data{0x00});
}

TEST(DispatchTcpSocketHelpers, LookupOfLocalhostNeedsNoResolver) {
    foundation::Error error;
    auto addresses = DispatchTcpSocket::lookupHost("localhost", 80, &error);
    ASSERT_TRUE(addresses);
    ASSERT_EQ(addresses->size(), 2u);
    EXPECT_EQ(DispatchTcpSocket::hostFromAddress((*addresses)[0]), "127.0.0.1");
    EXPECT_EQ(DispatchTcpSocket::hostFromAddress((*addresses)[1]), "::1");
    EXPECT_EQ(DispatchTcpSocket::portFromAddress((*addresses)[1]), 80);
    EXPECT_FALSE(DispatchTcpSocket::lookupHost(std::string("localhost\0.x", 12), 1, &error));
    EXPECT_EQ(error.domain, "kCFStreamErrorDomainNetDB");
}

// Unix paths: the address holds 107 bytes and a NUL; longer ones are refused, not cut.
TEST(DispatchTcpSocketHelpers, UnixAddressesFitOrAreRefused) {
    struct Case {
        std::size_t length;
        bool accepted;
    };
    for (const auto& c : {Case{1, true}, Case{107, true}, Case{108, false}, Case{300, false}}) {
        const std::string path = "/" + std::string(c.length - 1, 'a');
        const auto address =
            DispatchTcpSocket::getInterfaceAddressFromUrl(foundation::URL::fileURL(path));
        ASSERT_EQ(address.has_value(), c.accepted) << c.length;
        if (!address) continue;
        sockaddr_un un{};
        std::memcpy(&un, address->data(), address->size());
        EXPECT_EQ(std::string(un.sun_path), path);
        EXPECT_EQ(DispatchTcpSocket::urlFromSockaddrUN(un, static_cast<socklen_t>(address->size())),
                  foundation::URL::fileURL(path));
    }
    sockaddr_un unnamed{};
    unnamed.sun_family = AF_UNIX;
    EXPECT_FALSE(DispatchTcpSocket::urlFromSockaddrUN(unnamed, sizeof(sa_family_t)));
}

TEST(DispatchTcpSocketHelpers, ConcurrentSocketQueueIsRefused) {
    std::string reported;
    foundation::setAssertionHandler(
        [&](const std::string& text, const char*, int) { reported = text; });
    auto s = DispatchTcpSocket::create({}, nullptr, dispatch::Queue::global());
    foundation::setAssertionHandler({});
    EXPECT_EQ(reported, "The given socketQueue parameter must not be a concurrent queue.");
}

TEST(DispatchTcpSocketHelpers, NewSocketDefaults) {
    auto s = DispatchTcpSocket::create();
    EXPECT_TRUE(s->isIPv4Enabled());
    EXPECT_TRUE(s->isIPv6Enabled());
    EXPECT_TRUE(s->isIPv4PreferredOverIPv6());
    EXPECT_DOUBLE_EQ(s->alternateAddressDelay(), 0.3);
    EXPECT_TRUE(s->autoDisconnectOnClosedReadStream());
    EXPECT_TRUE(s->isDisconnected());
    EXPECT_FALSE(s->isConnected());
    EXPECT_EQ(s->socketFD(), -1);
    EXPECT_TRUE(std::isnan(s->progressOfRead(nullptr, nullptr, nullptr)));
    s->setIPv4Enabled(false);
    s->setAutoDisconnectOnClosedReadStream(false);
    EXPECT_FALSE(s->isIPv4Enabled());
    EXPECT_FALSE(s->autoDisconnectOnClosedReadStream());
    auto held = std::make_shared<int>(1);
    s->setUserData(held);
    EXPECT_EQ(s->userData(), held);
}

}  // namespace
