#include "osc/tcp/DispatchTcpSocket.h"

#include <sys/socket.h>

#include "osc/tcp/DispatchTcpSocketInternal.h"

namespace rozuri {

using namespace tcp_detail;

// ---- State ----

bool DispatchTcpSocket::isDisconnected() const {
    return onSocketQueue([this] { return (flags_ & kStarted) == 0; });
}

bool DispatchTcpSocket::isConnected() const {
    return onSocketQueue([this] { return (flags_ & kConnected) != 0; });
}

bool DispatchTcpSocket::isIPv4() const {
    return onSocketQueue([this] { return socket4FD_ != -1; });
}

bool DispatchTcpSocket::isIPv6() const {
    return onSocketQueue([this] { return socket6FD_ != -1; });
}

bool DispatchTcpSocket::isSecure() const {
    return onSocketQueue([this] { return (flags_ & kSecure) != 0; });
}

// ---- Addresses ----

std::optional<Data> DispatchTcpSocket::peerAddress(int fd) const {
    if (fd == -1) return std::nullopt;
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return std::nullopt;
    return bytesOf(&ss, std::min<std::size_t>(len, sizeof ss));
}

std::optional<Data> DispatchTcpSocket::ownAddress(int fd) const {
    if (fd == -1) return std::nullopt;
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return std::nullopt;
    return bytesOf(&ss, std::min<std::size_t>(len, sizeof ss));
}

namespace {
std::optional<std::string> hostOf(const std::optional<Data>& address) {
    if (!address) return std::nullopt;
    return DispatchTcpSocket::hostFromAddress(*address);
}
std::uint16_t portOf(const std::optional<Data>& address) {
    return address ? DispatchTcpSocket::portFromAddress(*address) : 0;
}
}  // namespace

std::optional<std::string> DispatchTcpSocket::connectedHost() const {
    return onSocketQueue(
        [this] { return hostOf(peerAddress(socket4FD_ != -1 ? socket4FD_ : socket6FD_)); });
}

std::uint16_t DispatchTcpSocket::connectedPort() const {
    return onSocketQueue(
        [this] { return portOf(peerAddress(socket4FD_ != -1 ? socket4FD_ : socket6FD_)); });
}

std::optional<foundation::URL> DispatchTcpSocket::connectedUrl() const {
    return onSocketQueue([this]() -> std::optional<foundation::URL> {
        if (socketUN_ == -1) return std::nullopt;
        sockaddr_un a{};
        socklen_t len = sizeof a;
        if (::getpeername(socketUN_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            return std::nullopt;
        }
        return urlFromSockaddrUN(a, len);
    });
}

std::optional<std::string> DispatchTcpSocket::localHost() const {
    return onSocketQueue(
        [this] { return hostOf(ownAddress(socket4FD_ != -1 ? socket4FD_ : socket6FD_)); });
}

std::uint16_t DispatchTcpSocket::localPort() const {
    return onSocketQueue(
        [this] { return portOf(ownAddress(socket4FD_ != -1 ? socket4FD_ : socket6FD_)); });
}

std::optional<Data> DispatchTcpSocket::connectedAddress() const {
    return onSocketQueue([this] {
        if (auto a = peerAddress(socket4FD_)) return a;
        return peerAddress(socket6FD_);
    });
}

std::optional<Data> DispatchTcpSocket::localAddress() const {
    return onSocketQueue([this] {
        if (auto a = ownAddress(socket4FD_)) return a;
        return ownAddress(socket6FD_);
    });
}

std::optional<std::string> DispatchTcpSocket::connectedHost4() const {
    return onSocketQueue([this] { return hostOf(peerAddress(socket4FD_)); });
}

std::optional<std::string> DispatchTcpSocket::connectedHost6() const {
    return onSocketQueue([this] { return hostOf(peerAddress(socket6FD_)); });
}

std::uint16_t DispatchTcpSocket::connectedPort4() const {
    return onSocketQueue([this] { return portOf(peerAddress(socket4FD_)); });
}

std::uint16_t DispatchTcpSocket::connectedPort6() const {
    return onSocketQueue([this] { return portOf(peerAddress(socket6FD_)); });
}

std::optional<std::string> DispatchTcpSocket::localHost4() const {
    return onSocketQueue([this] { return hostOf(ownAddress(socket4FD_)); });
}

std::optional<std::string> DispatchTcpSocket::localHost6() const {
    return onSocketQueue([this] { return hostOf(ownAddress(socket6FD_)); });
}

std::uint16_t DispatchTcpSocket::localPort4() const {
    return onSocketQueue([this] { return portOf(ownAddress(socket4FD_)); });
}

std::uint16_t DispatchTcpSocket::localPort6() const {
    return onSocketQueue([this] { return portOf(ownAddress(socket6FD_)); });
}

int DispatchTcpSocket::ioFD() const {
    if (socket4FD_ != -1) return socket4FD_;
    if (socket6FD_ != -1) return socket6FD_;
    return socketUN_;
}

}  // namespace rozuri
