#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/DispatchUdpSocketInternal.h"

namespace rozuri {

using namespace udp_detail;

// ---- Multicast ----

namespace {

// The index of the interface that holds this IPv6 address; 0 (any) when none does.
unsigned indexOfInterfaceAddr6(const Data& address) {
    if (net::addressFamily(address) != AF_INET6) return 0;
    sockaddr_in6 wanted{};
    std::memcpy(&wanted, address.data(), sizeof wanted);
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) return 0;
    unsigned index = 0;
    for (ifaddrs* entry = list; entry && !index; entry = entry->ifa_next) {
        if (!entry->ifa_addr || entry->ifa_addr->sa_family != AF_INET6 || !entry->ifa_name) {
            continue;
        }
        const auto* a = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
        if (std::memcmp(&a->sin6_addr, &wanted.sin6_addr, sizeof wanted.sin6_addr) == 0) {
            index = ::if_nametoindex(entry->ifa_name);
        }
    }
    ::freeifaddrs(list);
    return index;
}

}  // namespace

bool DispatchUdpSocket::preJoin(foundation::Error* error) const {
    if (!preOp(error)) return false;
    if (!(flags_ & kSocketBound)) {
        foundation::setError(
            error, badConfigError("Must bind a socket before joining a multicast group."));
        return false;
    }
    if (flags_ & (kConnectPending | kSocketConnected)) {
        foundation::setError(error, badConfigError("Cannot join a multicast group if connected."));
        return false;
    }
    return true;
}

bool DispatchUdpSocket::joinMulticastGroup(const std::string& group, foundation::Error* error) {
    return joinMulticastGroup(group, std::nullopt, error);
}

bool DispatchUdpSocket::joinMulticastGroup(const std::string& group,
                                           const std::optional<std::string>& interface,
                                           foundation::Error* error) {
    return resultOnSocketQueue(
        [&]() -> bool { return performMulticastRequest(true, group, interface, error); });
}

bool DispatchUdpSocket::leaveMulticastGroup(const std::string& group, foundation::Error* error) {
    return leaveMulticastGroup(group, std::nullopt, error);
}

bool DispatchUdpSocket::leaveMulticastGroup(const std::string& group,
                                            const std::optional<std::string>& interface,
                                            foundation::Error* error) {
    return resultOnSocketQueue(
        [&]() -> bool { return performMulticastRequest(false, group, interface, error); });
}

bool DispatchUdpSocket::performMulticastRequest(bool join, const std::string& group,
                                                const std::optional<std::string>& interface,
                                                foundation::Error* error) {
    if (!preJoin(error)) return false;
    // Numeric groups only: a name ("localhost" included) names no group.
    in_addr group4{};
    in6_addr group6{};
    const bool is4 =
        group.find('\0') == std::string::npos && ::inet_pton(AF_INET, group.c_str(), &group4) == 1;
    const bool is6 = !is4 && group.find('\0') == std::string::npos &&
                     ::inet_pton(AF_INET6, group.c_str(), &group6) == 1;
    if (!is4 && !is6) {
        foundation::setError(error,
                             badParamError("Unknown group. Specify valid group IP address."));
        return false;
    }
    std::optional<Data> interface4;
    std::optional<Data> interface6;
    convertInterfaceDescription(interface, 0, &interface4, &interface6);
    if (!interface4 && !interface6) {
        foundation::setError(error, badParamError(kUnknownInterface));
        return false;
    }
    auto failed = [&] {
        const int err = errno;
        foundation::setError(error, errnoError(err, kSetsockoptReason));
        return false;
    };
    if (is4 && interface4 && socket4FD_ != -1) {
        ip_mreq membership{};
        membership.imr_multiaddr = group4;
        sockaddr_in local{};
        std::memcpy(&local, interface4->data(), sizeof local);
        membership.imr_interface = local.sin_addr;
        if (::setsockopt(socket4FD_, IPPROTO_IP, join ? IP_ADD_MEMBERSHIP : IP_DROP_MEMBERSHIP,
                         &membership, sizeof membership) != 0) {
            return failed();
        }
        // Marked too, so that no send picks the family that is gone.
        closeSocket6();
        flags_ |= kIPv6Inactive;
        return true;
    }
    if (is6 && interface6 && socket6FD_ != -1) {
        ipv6_mreq membership{};
        membership.ipv6mr_multiaddr = group6;
        membership.ipv6mr_interface = indexOfInterfaceAddr6(*interface6);
        if (::setsockopt(socket6FD_, IPPROTO_IPV6, join ? IPV6_JOIN_GROUP : IPV6_LEAVE_GROUP,
                         &membership, sizeof membership) != 0) {
            return failed();
        }
        closeSocket4();
        flags_ |= kIPv4Inactive;
        return true;
    }
    foundation::setError(
        error, badParamError("Socket, group, and interface do not have matching IP versions"));
    return false;
}

bool DispatchUdpSocket::sendIPv4MulticastOnInterface(const std::string& interface,
                                                     foundation::Error* error) {
    return resultOnSocketQueue([&]() -> bool {
        if (!preOp(error)) return false;
        if (!(flags_ & kSocketsCreated) && !createSockets(error)) return false;
        std::optional<Data> interface4;
        convertInterfaceDescription(interface, 0, &interface4, nullptr);
        if (!interface4) {
            foundation::setError(
                error, badParamError("Unknown interface. Specify valid interface by IP address."));
            return false;
        }
        if (socket4FD_ == -1) return false;
        sockaddr_in local{};
        std::memcpy(&local, interface4->data(), sizeof local);
        if (::setsockopt(socket4FD_, IPPROTO_IP, IP_MULTICAST_IF, &local.sin_addr,
                         sizeof local.sin_addr) != 0) {
            const int err = errno;
            foundation::setError(error, errnoError(err, kSetsockoptReason));
            return false;
        }
        return true;
    });
}

bool DispatchUdpSocket::sendIPv6MulticastOnInterface(const std::string& interface,
                                                     foundation::Error* error) {
    return resultOnSocketQueue([&]() -> bool {
        if (!preOp(error)) return false;
        if (!(flags_ & kSocketsCreated) && !createSockets(error)) return false;
        std::optional<Data> interface6;
        convertInterfaceDescription(interface, 0, nullptr, &interface6);
        if (!interface6) {
            foundation::setError(error, badParamError("Unknown interface. Specify valid interface "
                                                      "by name (e.g. \"en1\")."));
            return false;
        }
        if (socket6FD_ == -1) return false;
        const int index = static_cast<int>(indexOfInterfaceAddr6(*interface6));
        if (::setsockopt(socket6FD_, IPPROTO_IPV6, IPV6_MULTICAST_IF, &index, sizeof index) != 0) {
            const int err = errno;
            foundation::setError(error, errnoError(err, kSetsockoptReason));
            return false;
        }
        return true;
    });
}

}  // namespace rozuri
