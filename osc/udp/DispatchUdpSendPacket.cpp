#include "osc/udp/DispatchUdpSendPacket.h"

#include <arpa/inet.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "osc/udp/SocketAddress.h"

namespace rozuri {

namespace {

// Allocates room for `extra` bytes right behind what allocate_shared asks for (the shared
// state with the packet in it), and says where they start.
template <class T>
struct TrailingBytesAllocator {
    using value_type = T;

    TrailingBytesAllocator(std::size_t extra, std::uint8_t** trailing)
        : extra(extra), trailing(trailing) {}
    template <class U>
    TrailingBytesAllocator(const TrailingBytesAllocator<U>& other)
        : extra(other.extra), trailing(other.trailing) {}

    T* allocate(std::size_t n) {
        auto* block = static_cast<std::uint8_t*>(::operator new(n * sizeof(T) + extra));
        *trailing = block + n * sizeof(T);
        return reinterpret_cast<T*>(block);
    }
    void deallocate(T* p, std::size_t) { ::operator delete(p); }

    template <class U>
    bool operator==(const TrailingBytesAllocator<U>& other) const {
        return extra == other.extra && trailing == other.trailing;
    }

    std::size_t extra;
    std::uint8_t** trailing;
};

}  // namespace

std::shared_ptr<DispatchUdpSendPacket> DispatchUdpSendPacket::create(
    std::span<const std::uint8_t> bytes, double timeout, std::int64_t tag) {
    std::uint8_t* trailing = nullptr;
    auto packet = std::allocate_shared<DispatchUdpSendPacket>(
        TrailingBytesAllocator<DispatchUdpSendPacket>(bytes.size(), &trailing), PrivateTag(),
        timeout, tag);
    if (!bytes.empty()) std::memcpy(trailing, bytes.data(), bytes.size());
    packet->bytes_ = trailing;
    packet->size_ = bytes.size();
    return packet;
}

socklen_t DispatchUdpSendPacket::addressLength() const {
    return addressFamily == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
}

Data DispatchUdpSendPacket::addressBytes() const {
    if (!hasAddress()) return {};
    return net::bytesOf(&address_, addressLength());
}

void DispatchUdpSendPacket::setAddress(const Data& address) {
    addressFamily = net::addressFamily(address);
    address_ = {};
    if (addressFamily) std::memcpy(&address_, address.data(), addressLength());
}

void DispatchUdpSendPacket::setAddress(const SendDestination& destination, int family) {
    address_ = {};
    addressFamily = family;
    if (family == AF_INET) {
        std::memcpy(&address_, &destination.address4, sizeof destination.address4);
    } else {
        address_ = destination.address6;
    }
}

void SendDestination::setIPv4(const in_addr& host, std::uint16_t port) {
    address4 = {};
    address4.sin_family = AF_INET;
    address4.sin_port = htons(port);
    address4.sin_addr = host;
    has4 = true;
    if (!firstFamily) firstFamily = AF_INET;
}

void SendDestination::setIPv6(const sockaddr_in6& address) {
    if (IN6_IS_ADDR_V4MAPPED(&address.sin6_addr)) {
        in_addr a4{};
        std::memcpy(&a4, &address.sin6_addr.s6_addr[12], sizeof a4);
        setIPv4(a4, ntohs(address.sin6_port));
        return;
    }
    address6 = address;
    has6 = true;
    if (!firstFamily) firstFamily = AF_INET6;
}

bool SendDestination::setNumericHost(const std::string& host, std::uint16_t port) {
    sockaddr_in6 a6{};
    a6.sin6_family = AF_INET6;
    a6.sin6_port = htons(port);
    if (host == "localhost" || host == "loopback") {
        in_addr lo4{};
        lo4.s_addr = htonl(INADDR_LOOPBACK);
        setIPv4(lo4, port);
        a6.sin6_addr = in6addr_loopback;
        setIPv6(a6);
        return true;
    }
    // Longer texts and embedded NULs are no numeric address (c_str() would cut at a NUL).
    if (host.empty() || host.size() >= INET6_ADDRSTRLEN || host.find('\0') != std::string::npos) {
        return false;
    }
    in_addr a4{};
    if (::inet_pton(AF_INET, host.c_str(), &a4) == 1) {
        setIPv4(a4, port);
        return true;
    }
    if (::inet_pton(AF_INET6, host.c_str(), &a6.sin6_addr) == 1) {
        setIPv6(a6);
        return true;
    }
    return false;
}

void SendDestination::setAddress(const Data& address) {
    switch (net::addressFamily(address)) {
        case AF_INET: {
            sockaddr_in a{};
            std::memcpy(&a, address.data(), sizeof a);
            setIPv4(a.sin_addr, ntohs(a.sin_port));
            break;
        }
        case AF_INET6: {
            sockaddr_in6 a{};
            std::memcpy(&a, address.data(), sizeof a);
            setIPv6(a);
            break;
        }
        default:
            break;
    }
}

std::optional<std::int64_t> sendTimeoutNanoseconds(double seconds) {
    if (!(seconds >= 0) || std::isinf(seconds)) return std::nullopt;
    // The same cap as far receive deadlines: half the clock's range, about 146 years.
    constexpr std::int64_t kLongest = std::numeric_limits<std::int64_t>::max() / 2;
    const double nanos = seconds * 1e9;
    if (nanos >= static_cast<double>(kLongest)) return kLongest;
    return static_cast<std::int64_t>(nanos);
}

}  // namespace rozuri
