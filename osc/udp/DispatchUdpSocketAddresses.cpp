#include "osc/udp/DispatchUdpSocket.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

#include "osc/udp/DispatchUdpSocketError.h"
#include "osc/udp/DispatchUdpSocketInternal.h"
#include "platform/foundation/Localization.h"

namespace rozuri {

using namespace udp_detail;

// ---- Queries ----

void DispatchUdpSocket::maybeUpdateCachedLocalAddress4Info() const {
    if (cachedLocalAddress4_ || !(flags_ & kSocketBound) || socket4FD_ == -1) return;
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(socket4FD_, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
        a.sin_family != AF_INET) {
        return;
    }
    cachedLocalAddress4_ = bytesOf(&a, std::min<std::size_t>(len, sizeof a));
    cachedLocalHost4_ = hostFromSockaddr4(a);
    cachedLocalPort4_ = portFromSockaddr4(a);
}

void DispatchUdpSocket::maybeUpdateCachedLocalAddress6Info() const {
    if (cachedLocalAddress6_ || !(flags_ & kSocketBound) || socket6FD_ == -1) return;
    sockaddr_in6 a{};
    socklen_t len = sizeof a;
    if (::getsockname(socket6FD_, reinterpret_cast<sockaddr*>(&a), &len) != 0 ||
        a.sin6_family != AF_INET6) {
        return;
    }
    cachedLocalAddress6_ = bytesOf(&a, std::min<std::size_t>(len, sizeof a));
    cachedLocalHost6_ = hostFromSockaddr6(a);
    cachedLocalPort6_ = portFromSockaddr6(a);
}

void DispatchUdpSocket::maybeUpdateCachedConnectedAddressInfo() const {
    if (cachedConnectedAddress_ || !(flags_ & kSocketConnected)) return;
    const int fd = socket4FD_ != -1 ? socket4FD_ : socket6FD_;
    if (fd == -1) return;
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return;
    Data address = bytesOf(&ss, std::min<std::size_t>(len, sizeof ss));
    std::string host;
    std::uint16_t port = 0;
    int family = 0;
    if (!getHost(&host, &port, &family, address)) return;
    cachedConnectedAddress_ = std::move(address);
    cachedConnectedHost_ = std::move(host);
    cachedConnectedPort_ = port;
    cachedConnectedFamily_ = family;
}

std::optional<Data> DispatchUdpSocket::localAddress() const {
    return resultOnSocketQueue([this] {
        maybeUpdateCachedLocalAddress4Info();
        maybeUpdateCachedLocalAddress6Info();
        return socket4FD_ != -1 ? cachedLocalAddress4_ : cachedLocalAddress6_;
    });
}

std::optional<std::string> DispatchUdpSocket::localHost() const {
    return resultOnSocketQueue([this] {
        maybeUpdateCachedLocalAddress4Info();
        maybeUpdateCachedLocalAddress6Info();
        return socket4FD_ != -1 ? cachedLocalHost4_ : cachedLocalHost6_;
    });
}

std::uint16_t DispatchUdpSocket::localPort() const {
    return resultOnSocketQueue([this] {
        maybeUpdateCachedLocalAddress4Info();
        maybeUpdateCachedLocalAddress6Info();
        return socket4FD_ != -1 ? cachedLocalPort4_ : cachedLocalPort6_;
    });
}

std::optional<Data> DispatchUdpSocket::localAddress_IPv4() const {
    return resultOnSocketQueue([this] {
        maybeUpdateCachedLocalAddress4Info();
        return cachedLocalAddress4_;
    });
}

std::optional<std::string> DispatchUdpSocket::localHost_IPv4() const {
    return resultOnSocketQueue([this] {
        maybeUpdateCachedLocalAddress4Info();
        return cachedLocalHost4_;
    });
}

std::uint16_t DispatchUdpSocket::localPort_IPv4() const {
    return resultOnSocketQueue([this] {
        maybeUpdateCachedLocalAddress4Info();
        return cachedLocalPort4_;
    });
}

std::optional<Data> DispatchUdpSocket::localAddress_IPv6() const {
    return resultOnSocketQueue([this] {
        maybeUpdateCachedLocalAddress6Info();
        return cachedLocalAddress6_;
    });
}

std::optional<std::string> DispatchUdpSocket::localHost_IPv6() const {
    return resultOnSocketQueue([this] {
        maybeUpdateCachedLocalAddress6Info();
        return cachedLocalHost6_;
    });
}

std::uint16_t DispatchUdpSocket::localPort_IPv6() const {
    return resultOnSocketQueue([this] {
        maybeUpdateCachedLocalAddress6Info();
        return cachedLocalPort6_;
    });
}

std::optional<Data> DispatchUdpSocket::connectedAddress() const {
    return resultOnSocketQueue([this] {
        maybeUpdateCachedConnectedAddressInfo();
        return cachedConnectedAddress_;
    });
}

std::optional<std::string> DispatchUdpSocket::connectedHost() const {
    return resultOnSocketQueue([this] {
        maybeUpdateCachedConnectedAddressInfo();
        return cachedConnectedHost_;
    });
}

std::uint16_t DispatchUdpSocket::connectedPort() const {
    return resultOnSocketQueue([this] {
        maybeUpdateCachedConnectedAddressInfo();
        return cachedConnectedPort_;
    });
}

bool DispatchUdpSocket::isConnected() const {
    return resultOnSocketQueue([this] { return (flags_ & kSocketConnected) != 0; });
}

bool DispatchUdpSocket::isClosed() const {
    return resultOnSocketQueue([this] { return (flags_ & kSocketsCreated) == 0; });
}

bool DispatchUdpSocket::isIPv4() const {
    return resultOnSocketQueue([this] {
        if (flags_ & kSocketsCreated) return socket4FD_ != -1;
        return (config_ & kIPv4Disabled) == 0;
    });
}

bool DispatchUdpSocket::isIPv6() const {
    return resultOnSocketQueue([this] {
        if (flags_ & kSocketsCreated) return socket6FD_ != -1;
        return (config_ & kIPv6Disabled) == 0;
    });
}

// ---- Errors ----

foundation::Error DispatchUdpSocket::badConfigError(const std::string& text) {
    return DispatchUdpSocketError::make(DispatchUdpSocketError::Code::badConfig,
                                        {{foundation::Error::kLocalizedDescriptionKey, text}});
}

foundation::Error DispatchUdpSocket::badParamError(const std::string& text) {
    return DispatchUdpSocketError::make(DispatchUdpSocketError::Code::badParam,
                                        {{foundation::Error::kLocalizedDescriptionKey, text}});
}

foundation::Error DispatchUdpSocket::sendTimeoutError() {
    return DispatchUdpSocketError::make(
        DispatchUdpSocketError::Code::sendTimeout,
        {{foundation::Error::kLocalizedDescriptionKey,
          foundation::localizedString("DispatchUdpSocket", "DispatchUdpSocketSendTimeoutError",
                                      "Send operation timed out")}});
}

foundation::Error DispatchUdpSocket::socketClosedError() {
    return DispatchUdpSocketError::make(
        DispatchUdpSocketError::Code::closed,
        {{foundation::Error::kLocalizedDescriptionKey,
          foundation::localizedString("DispatchUdpSocket", "DispatchUdpSocketClosedError",
                                      "Socket closed")}});
}

foundation::Error DispatchUdpSocket::otherError(const std::string& text) {
    return DispatchUdpSocketError::make(DispatchUdpSocketError::Code::other,
                                        {{foundation::Error::kLocalizedDescriptionKey, text}});
}

foundation::Error DispatchUdpSocket::gaiError(int code) {
    return foundation::Error(
        "kCFStreamErrorDomainNetDB", code,
        {{foundation::Error::kLocalizedDescriptionKey, foundation::Error::gaiDescription(code)}});
}

foundation::Error DispatchUdpSocket::errnoError(int err, const std::string& reason) {
    return foundation::Error::posix(err, reason);
}

// ---- Address helpers ----

std::string DispatchUdpSocket::hostFromSockaddr4(const sockaddr_in& address) {
    return net::hostFromSockaddr4(address);
}

std::string DispatchUdpSocket::hostFromSockaddr6(const sockaddr_in6& address) {
    return net::hostFromSockaddr6(address);
}

std::uint16_t DispatchUdpSocket::portFromSockaddr4(const sockaddr_in& address) {
    return net::portFromSockaddr4(address);
}

std::uint16_t DispatchUdpSocket::portFromSockaddr6(const sockaddr_in6& address) {
    return net::portFromSockaddr6(address);
}

bool DispatchUdpSocket::getHost(std::string* host, std::uint16_t* port, int* family,
                                const Data& address) {
    if (net::readAddress(address, host, port, family)) return true;
    if (host) host->clear();
    if (port) *port = 0;
    if (family) *family = 0;
    return false;
}

bool DispatchUdpSocket::getHost(std::string* host, std::uint16_t* port, const Data& address) {
    return getHost(host, port, nullptr, address);
}

std::optional<std::string> DispatchUdpSocket::hostFromAddress(const Data& address) {
    std::string host;
    if (!getHost(&host, nullptr, nullptr, address)) return std::nullopt;
    return host;
}

std::uint16_t DispatchUdpSocket::portFromAddress(const Data& address) {
    std::uint16_t port = 0;
    getHost(nullptr, &port, nullptr, address);
    return port;
}

int DispatchUdpSocket::familyFromAddress(const Data& address) {
    return net::addressFamily(address);
}

bool DispatchUdpSocket::isIPv4Address(const Data& address) {
    return familyFromAddress(address) == AF_INET;
}

bool DispatchUdpSocket::isIPv6Address(const Data& address) {
    return familyFromAddress(address) == AF_INET6;
}

}  // namespace rozuri
