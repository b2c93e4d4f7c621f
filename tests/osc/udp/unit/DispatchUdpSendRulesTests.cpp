#include <gtest/gtest.h>
#include <netinet/in.h>

#include <cmath>
#include <limits>

#include "osc/udp/DispatchUdpSendPacket.h"
#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/SocketAddress.h"
#include "tests/support/LoopbackNet.h"

namespace {

using rozuri::Data;
using rozuri::DispatchUdpSocket;
using Rules = DispatchUdpSocket::DestinationRules;
using mstest::address4;
using mstest::address6;

TEST(DispatchUdpDestination, ChoosesAUsableFamily) {
    const Data v4 = address4("10.0.0.1", 9);
    const Data v6 = address6("fe80::1", 9);
    const Data mapped = address6("::ffff:10.0.0.1", 9);
    Data longer4 = v4;
    longer4.resize(40, 7);
    const std::string disabled4 =
        "IPv4 has been disabled and DNS lookup found no IPv6 address(es).";
    const std::string disabled6 =
        "IPv6 has been disabled and DNS lookup found no IPv4 address(es).";
    const std::string inactive4 =
        "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 address(es).";
    const std::string inactive6 =
        "IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 address(es).";
    struct Case {
        const char* name;
        std::vector<Data> addresses;
        Rules rules;
        int family;  // 0: refused with `text`
        std::string text;
    };
    const Case cases[] = {
        {"first family wins", {v6, v4}, {}, AF_INET6, ""},
        {"first family wins (IPv4)", {v4, v6}, {}, AF_INET, ""},
        {"preferred IPv4", {v6, v4}, {.preferIPv4 = true}, AF_INET, ""},
        {"preferred IPv6", {v4, v6}, {.preferIPv6 = true}, AF_INET6, ""},
        {"preference without that family", {v4}, {.preferIPv6 = true}, AF_INET, ""},
        {"IPv6 first but no IPv6 socket", {v6, v4}, {.ipv6Unusable = true}, AF_INET, ""},
        {"IPv6 preferred but inactive",
         {v4, v6},
         {.ipv6Unusable = true, .preferIPv6 = true},
         AF_INET,
         ""},
        {"IPv4 disabled, IPv6 kept", {v4, v6}, {.ipv4Disabled = true}, AF_INET6, ""},
        {"only IPv4, disabled", {v4}, {.ipv4Disabled = true}, 0, disabled4},
        {"only IPv6, disabled", {v6}, {.ipv6Disabled = true}, 0, disabled6},
        {"only IPv4, no socket", {v4}, {.ipv4Unusable = true}, 0, inactive4},
        {"only IPv6, no socket", {v6}, {.ipv6Unusable = true}, 0, inactive6},
        {"only IPv6, disabled IPv4 irrelevant",
         {v6},
         {.ipv4Disabled = true, .ipv6Unusable = true},
         0,
         inactive6},
        {"no valid address",
         {Data(), Data(16, 0)},
         {},
         0,
         "A valid IPv4 or IPv6 address was not given"},
        {"invalid ones skipped", {Data(3, 1), v4}, {}, AF_INET, ""},
        {"trailing bytes cut", {longer4}, {}, AF_INET, ""},
        {"mapped is IPv4", {mapped, v6}, {}, AF_INET, ""},
        {"mapped on an IPv4-only socket", {mapped}, {.ipv6Unusable = true}, AF_INET, ""},
        {"mapped with IPv4 disabled", {mapped}, {.ipv4Disabled = true}, 0, disabled4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Data chosen;
        foundation::Error error;
        const int family =
            DispatchUdpSocket::chooseDestination(c.addresses, c.rules, &chosen, &error);
        EXPECT_EQ(family, c.family);
        if (family) {
            EXPECT_EQ(chosen, family == AF_INET ? v4 : v6);
        } else {
            EXPECT_EQ(error.localizedDescription(), c.text);
        }
    }
}

TEST(DispatchUdpDestination, SendTimeouts) {
    const double inf = std::numeric_limits<double>::infinity();
    const auto capped = std::numeric_limits<std::int64_t>::max() / 2;
    struct Case {
        double seconds;
        std::optional<std::int64_t> nanos;
    };
    const Case cases[] = {
        {1.0, 1'000'000'000},
        {0.0, 0},
        {0.25e-6, 250},
        {-1.0, std::nullopt},
        {-0.0, 0},
        {inf, std::nullopt},
        {-inf, std::nullopt},
        {std::nan(""), std::nullopt},
        {1e300, capped},
        {1e10, capped},
        {1e9, 1'000'000'000'000'000'000LL},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(rozuri::sendTimeoutNanoseconds(c.seconds), c.nanos);
    }
}

TEST(DispatchUdpDestination, HostTextsThatNeedNoResolver) {
    struct Case {
        std::string host;
        bool plausible;
        std::vector<Data> numeric;  // empty: a lookup would be needed (or the text is refused)
    };
    const Case cases[] = {
        {"localhost", true, {address4("127.0.0.1", 7), address6("::1", 7)}},
        {"127.0.0.1", true, {address4("127.0.0.1", 7)}},
        {"::1", true, {address6("::1", 7)}},
        {"example.org", true, {}},
        {"", false, {}},
        {"[::1]", false, {}},
        {"a b", false, {}},
        {std::string(253, 'a'), true, {}},
        {std::string(254, 'a'), false, {}},
        {"Localhost.", true, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host.substr(0, 20));
        EXPECT_EQ(rozuri::net::isPlausibleHostName(c.host), c.plausible);
        const auto numeric = rozuri::net::numericHostAddresses(c.host, 7);
        EXPECT_EQ(numeric.value_or(std::vector<Data>{}), c.numeric);
    }
}

// The destination a send takes without a lookup (numeric hosts, the loopback names, mapped
// addresses as IPv4), and the family its text is held to for size.
TEST(DispatchUdpDestination, NumericDestinationsHeldInPlace) {
    const std::vector<Data> loopback{address4("127.0.0.1", 7), address6("::1", 7)};
    struct Case {
        std::string host;
        std::vector<Data> candidates;  // IPv4 first, then IPv6; none: a lookup is needed
        int family;                    // the first candidate's, and the one held to for size
    };
    const Case cases[] = {
        {"localhost", loopback, AF_INET},
        {"loopback", loopback, AF_INET},
        {"10.1.2.3", {address4("10.1.2.3", 7)}, AF_INET},
        {"::ffff:10.1.2.3", {address4("10.1.2.3", 7)}, AF_INET},
        {"fe80::2", {address6("fe80::2", 7)}, AF_INET6},
        {"fe80::2%lo", {}, 0},
        {"example.org", {}, 0},
        {std::string("10.1.2.3\0x", 10), {}, 0},
        {"", {}, 0},
    };
    const auto held = [](const rozuri::SendDestination& d) {
        std::vector<Data> got;
        if (d.has4) got.push_back(rozuri::net::bytesOf(&d.address4, sizeof d.address4));
        if (d.has6) got.push_back(rozuri::net::bytesOf(&d.address6, sizeof d.address6));
        return got;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        rozuri::SendDestination d;
        EXPECT_EQ(d.setNumericHost(c.host, 7), !c.candidates.empty());
        EXPECT_EQ(held(d), c.candidates);
        EXPECT_EQ(d.firstFamily, c.family);
        EXPECT_EQ(rozuri::net::numericHostFamily(c.host), c.family);
    }
    // A given mapped address is held as IPv4 too; one that is no address as nothing.
    rozuri::SendDestination mapped, none;
    mapped.setAddress(address6("::ffff:10.1.2.3", 9));
    EXPECT_EQ(held(mapped), std::vector<Data>{address4("10.1.2.3", 9)});
    none.setAddress(Data(16, 0));
    EXPECT_TRUE(held(none).empty());
}

// The bytes, time-out, tag and address share one allocation: none may clobber another.
TEST(DispatchUdpSendPacketLayout, BytesAndDestinationTravelTogether) {
    for (const std::size_t size : {1u, 32u, 65507u}) {
        SCOPED_TRACE(size);
        Data bytes(size);
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
        Data given = bytes;
        auto packet = rozuri::DispatchUdpSendPacket::create(given, 1.5, -3);
        given.assign(size, 0);  // the packet holds its own copy
        packet->setAddress(address6("::1", 5));
        EXPECT_EQ(packet->addressBytes(), address6("::1", 5));
        packet->setAddress(address4("10.0.0.1", 5));
        EXPECT_EQ(packet->addressBytes(), address4("10.0.0.1", 5));
        EXPECT_EQ(packet->addressLength(), sizeof(sockaddr_in));
        EXPECT_EQ(packet->bytes(), bytes);
        EXPECT_TRUE(packet->tag == -3 && packet->timeout == 1.5);
    }
}

}  // namespace
