#include <sys/socket.h>

#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/DispatchUdpSocketInternal.h"

namespace rozuri {

using namespace udp_detail;

// ---- Destination choice ----

namespace {

constexpr const char* kIPv4DisabledText =
    "IPv4 has been disabled and DNS lookup found no IPv6 address(es).";
constexpr const char* kIPv6DisabledText =
    "IPv6 has been disabled and DNS lookup found no IPv4 address(es).";
constexpr const char* kIPv4InactiveText =
    "IPv4 has been deactivated due to bind/connect, and DNS lookup found no IPv6 address(es).";
constexpr const char* kIPv6InactiveText =
    "IPv6 has been deactivated due to bind/connect, and DNS lookup found no IPv4 address(es).";

}  // namespace

int DispatchUdpSocket::chooseDestination(const std::vector<Data>& addresses,
                                         const DestinationRules& rules, Data* address,
                                         foundation::Error* error) {
    const Data* first4 = nullptr;
    const Data* first6 = nullptr;
    // A mapped IPv4 address goes over the IPv4 socket: the IPv6 one is IPv6 only.
    Data mapped4;
    int firstFamily = 0;
    for (const auto& a : addresses) {
        int family = familyFromAddress(a);
        if (family == AF_INET6 && net::isIPv4MappedAddress(a)) {
            family = AF_INET;
            if (!first4) {
                mapped4 = net::unmappedAddress(a);
                first4 = &mapped4;
            }
        }
        if (family == AF_INET && !first4) first4 = &a;
        if (family == AF_INET6 && !first6) first6 = &a;
        if (!firstFamily) firstFamily = family;
    }
    const int family =
        chooseFamily(first4 != nullptr, first6 != nullptr, firstFamily, rules, error);
    if (!family) return 0;
    const Data& chosen = family == AF_INET ? *first4 : *first6;
    const std::size_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (address) *address = Data(chosen.begin(), chosen.begin() + length);
    return family;
}

int DispatchUdpSocket::chooseFamily(bool has4, bool has6, int firstFamily,
                                    const DestinationRules& rules, foundation::Error* error) {
    if (!has4 && !has6) {
        foundation::setError(error, badParamError(kInvalidAddress));
        return 0;
    }
    const bool ok4 = has4 && !rules.ipv4Disabled && !rules.ipv4Unusable;
    const bool ok6 = has6 && !rules.ipv6Disabled && !rules.ipv6Unusable;
    if (!ok4 && !ok6) {
        // The lookup offered only families this socket cannot send on.
        const char* text = nullptr;
        if (has4 && rules.ipv4Disabled) {
            text = kIPv4DisabledText;
        } else if (has6 && rules.ipv6Disabled) {
            text = kIPv6DisabledText;
        } else if (has4) {
            text = kIPv4InactiveText;
        } else {
            text = kIPv6InactiveText;
        }
        foundation::setError(error, otherError(text));
        return 0;
    }
    if (rules.preferIPv4 && ok4) return AF_INET;
    if (rules.preferIPv6 && ok6) return AF_INET6;
    if (!ok6) return AF_INET;
    if (!ok4) return AF_INET6;
    return firstFamily;
}

}  // namespace rozuri
