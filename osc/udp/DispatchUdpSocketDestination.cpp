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
    int firstFamily = 0;
    for (const auto& a : addresses) {
        const int family = familyFromAddress(a);
        if (family == AF_INET && !first4) first4 = &a;
        if (family == AF_INET6 && !first6) first6 = &a;
        if (!firstFamily) firstFamily = family;
    }
    if (!first4 && !first6) {
        foundation::setError(error, badParamError(kInvalidAddress));
        return 0;
    }
    const bool ok4 = first4 && !rules.ipv4Disabled && !rules.ipv4Unusable;
    const bool ok6 = first6 && !rules.ipv6Disabled && !rules.ipv6Unusable;
    if (!ok4 && !ok6) {
        // The lookup offered only families this socket cannot send on.
        const char* text = nullptr;
        if (first4 && rules.ipv4Disabled) {
            text = kIPv4DisabledText;
        } else if (first6 && rules.ipv6Disabled) {
            text = kIPv6DisabledText;
        } else if (first4) {
            text = kIPv4InactiveText;
        } else {
            text = kIPv6InactiveText;
        }
        foundation::setError(error, otherError(text));
        return 0;
    }
    int family = 0;
    if (rules.preferIPv4 && ok4) {
        family = AF_INET;
    } else if (rules.preferIPv6 && ok6) {
        family = AF_INET6;
    } else if (!ok6) {
        family = AF_INET;
    } else if (!ok4) {
        family = AF_INET6;
    } else {
        family = firstFamily;
    }
    const Data& chosen = family == AF_INET ? *first4 : *first6;
    const std::size_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    if (address) *address = Data(chosen.begin(), chosen.begin() + length);
    return family;
}

}  // namespace rozuri
