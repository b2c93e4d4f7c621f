#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cerrno>
#include <cstring>

#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/DispatchUdpSocketError.h"
#include "tests/support/LoopbackNet.h"

namespace {

using rozuri::Data;
using rozuri::DispatchUdpSocket;

using mstest::address4;
using mstest::address6;

TEST(DispatchUdpSocketAddress, ReadsHostPortAndFamily) {
    struct Case {
        const char* name;
        Data address;
        bool valid;
        std::string host;
        std::uint16_t port;
        int family;
    };
    Data v6Short = address6("::1", 80);
    v6Short.resize(16);
    Data unknownFamily = address4("1.2.3.4", 1);
    unknownFamily[0] = 99;
    unknownFamily[1] = 0;
    const Case cases[] = {
        {"ipv4", address4("10.0.0.2", 9000), true, "10.0.0.2", 9000, AF_INET},
        {"ipv6", address6("fe80::1:2", 5000), true, "fe80::1:2", 5000, AF_INET6},
        {"ipv6 loopback", address6("::1", 65535), true, "::1", 65535, AF_INET6},
        {"8 bytes", Data(8), false, "", 0, 0},
        {"empty", Data(), false, "", 0, 0},
        {"ipv6 family in 16 bytes", v6Short, false, "", 0, 0},
        {"unknown family", unknownFamily, false, "", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string host = "stale";
        std::uint16_t port = 1;
        int family = 1;
        EXPECT_EQ(DispatchUdpSocket::getHost(&host, &port, &family, c.address), c.valid);
        EXPECT_EQ(host, c.host);
        EXPECT_EQ(port, c.port);
        EXPECT_EQ(family, c.family);
        EXPECT_EQ(DispatchUdpSocket::hostFromAddress(c.address).has_value(), c.valid);
        EXPECT_EQ(DispatchUdpSocket::portFromAddress(c.address), c.port);
        EXPECT_EQ(DispatchUdpSocket::familyFromAddress(c.address), c.family);
        EXPECT_EQ(DispatchUdpSocket::isIPv4Address(c.address), c.family == AF_INET);
        EXPECT_EQ(DispatchUdpSocket::isIPv6Address(c.address), c.family == AF_INET6);
    }
}

TEST(DispatchUdpSocketErrors, DomainsCodesAndTexts) {
    struct Case {
        foundation::Error error;
        std::string domain;
        std::int64_t code;
        std::string description;
    };
    const std::string domain = rozuri::DispatchUdpSocketError::domain;
    const Case cases[] = {
        {DispatchUdpSocket::badConfigError("cfg"), domain, 1, "cfg"},
        {DispatchUdpSocket::badParamError("param"), domain, 2, "param"},
        {DispatchUdpSocket::sendTimeoutError(), domain, 3, "Send operation timed out"},
        {DispatchUdpSocket::socketClosedError(), domain, 4, "Socket closed"},
        {DispatchUdpSocket::otherError("other"), domain, 5, "other"},
        {DispatchUdpSocket::errnoError(EADDRINUSE, "Error in bind() function"),
         foundation::Error::kPOSIXDomain, EADDRINUSE, std::strerror(EADDRINUSE)},
        {DispatchUdpSocket::gaiError(EAI_NONAME), "kCFStreamErrorDomainNetDB", EAI_NONAME,
         gai_strerror(EAI_NONAME)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.description);
        EXPECT_EQ(c.error.domain, c.domain);
        EXPECT_EQ(c.error.code, c.code);
        EXPECT_EQ(c.error.localizedDescription(), c.description);
    }
    EXPECT_EQ(cases[5].error.localizedFailureReason(), "Error in bind() function");
    EXPECT_FALSE(DispatchUdpSocket::errnoError(EINVAL).localizedFailureReason().has_value());
}

TEST(DispatchUdpSocketErrors, ThrowableErrorTypeCarriesTheError) {
    try {
        throw rozuri::DispatchUdpSocketError(rozuri::DispatchUdpSocketError::Code::badParam,
                                             {{foundation::Error::kReasonKey, "No such client"}});
    } catch (const rozuri::OSCSocketError& e) {
        EXPECT_EQ(e.error().domain, "DispatchUdpSocketErrorDomain");
        EXPECT_EQ(e.error().code, 2);
        EXPECT_EQ(e.error().userInfo.at("Reason"), "No such client");
        EXPECT_EQ(std::string(e.what()),
                  "The operation couldn’t be completed. (DispatchUdpSocketErrorDomain error 2.)");
    }
}

TEST(DispatchUdpSocketConfig, SettersAndGetters) {
    auto s = DispatchUdpSocket::create();
    EXPECT_TRUE(s->isIPVersionNeutral());
    s->setPreferIPv4();
    s->setPreferIPv6();
    EXPECT_FALSE(s->isIPv4Preferred());
    EXPECT_TRUE(s->isIPv6Preferred());
    EXPECT_FALSE(s->isIPVersionNeutral());
    s->setIPVersionNeutral();
    EXPECT_TRUE(s->isIPVersionNeutral());
    EXPECT_EQ(s->maxReceiveIPv4BufferSize(), 65535);
    EXPECT_EQ(s->maxReceiveIPv6BufferSize(), 65535u);
    EXPECT_EQ(s->maxSendBufferSize(), 65535);
    s->setMaxReceiveIPv6BufferSize(9000);
    EXPECT_EQ(s->maxReceiveIPv6BufferSize(), 9000u);
    auto data = std::make_shared<int>(3);
    s->setUserData(data);
    EXPECT_EQ(s->userData(), data);
    EXPECT_EQ(s->socketFD(), -1);  // off the socket queue
    int onQueue = 0;
    s->performBlock([&] { onQueue = s->socketFD(); });
    EXPECT_EQ(onQueue, -1);  // nothing open
    EXPECT_TRUE(s->isClosed());
    EXPECT_FALSE(s->delegate());
}

}  // namespace
