#include "osc/udp/DispatchUdpSocket.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "osc/udp/DispatchUdpSocketError.h"
#include "osc/udp/DispatchUdpSocketInternal.h"

namespace rozuri {

using namespace udp_detail;

// ---- Checks, interfaces, socket creation ----

bool DispatchUdpSocket::preOp(foundation::Error* error) const {
    if (!isOnSocketQueue()) assertionFailure("Must be dispatched on socketQueue", __LINE__);
    if (delegate_.expired()) {
        foundation::setError(
            error,
            badConfigError("Attempting to use socket without a delegate. Set a delegate first."));
        return false;
    }
    if (!delegateQueue_) {
        foundation::setError(error, badConfigError("Attempting to use socket without a delegate "
                                                   "queue. Set a delegate queue first."));
        return false;
    }
    return true;
}

bool DispatchUdpSocket::preBind(foundation::Error* error) const {
    if (!preOp(error)) return false;
    if (flags_ & kSocketBound) {
        foundation::setError(error, badConfigError("Cannot bind a socket more than once."));
        return false;
    }
    if (flags_ & (kConnectPending | kSocketConnected)) {
        foundation::setError(error, badConfigError("Cannot bind after connecting. If needed, bind "
                                                   "first, then connect."));
        return false;
    }
    if ((config_ & kIPv4Disabled) && (config_ & kIPv6Disabled)) {
        foundation::setError(error, badConfigError("Both IPv4 and IPv6 have been disabled. Must "
                                                   "enable at least one protocol first."));
        return false;
    }
    return true;
}

void DispatchUdpSocket::convertInterfaceDescription(const std::optional<std::string>& interface,
                                                    std::uint16_t port,
                                                    std::optional<Data>* address4,
                                                    std::optional<Data>* address6) {
    net::interfaceAddresses(interface, port, address4, address6);
}

int DispatchUdpSocket::createSocket(int family, foundation::Error* error) {
    const int fd = net::createSocket(family, SOCK_DGRAM, error);
    if (fd < 0) return -1;
    auto fail = [&](const char* reason) {
        const int err = errno;
        ::close(fd);
        foundation::setError(error, errnoError(err, reason));
        return -1;
    };
    // No SO_REUSEADDR: on Linux it would let another socket take a UDP port in use, so a busy
    // port would never be reported.
    // Linux delivers to a socket on port P the groups that any other socket joined on P, unless
    // this is off: only this socket's own joins count.
    const int off = 0;
    if (family == AF_INET &&
        ::setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off) != 0) {
        return fail(kSetsockoptReason);
    }
    if (family == AF_INET6 &&
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_MULTICAST_ALL, &off, sizeof off) != 0 &&
        errno != ENOPROTOOPT) {
        return fail(kSetsockoptReason);
    }
    const std::int32_t bufferSize = maxSendSize_;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize) != 0) {
        return fail("Error setting send buffer size (setsockopt)");
    }
    // The receive buffer is only ever raised, as far as the system allows (the kernel caps the
    // request at net.core.rmem_max): bursts wait there while the socket queue is busy.
    const std::int32_t wantedReceive = std::max<std::int32_t>(bufferSize, kPreferredReceiveBuffer);
    std::int32_t currentReceive = 0;
    socklen_t currentLength = sizeof currentReceive;
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &currentReceive, &currentLength) != 0 ||
        currentReceive / 2 < wantedReceive) {
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &wantedReceive, sizeof wantedReceive) != 0) {
            return fail("Error setting receive buffer size (setsockopt)");
        }
    }
    return fd;
}

bool DispatchUdpSocket::createSockets(foundation::Error* error) {
    const bool use4 = (config_ & kIPv4Disabled) == 0;
    const bool use6 = (config_ & kIPv6Disabled) == 0;
    return createSocket4(use4, use6, use4, error);
}

bool DispatchUdpSocket::createSocket4(bool useIPv4, bool useIPv6, bool ipv6Optional,
                                      foundation::Error* error) {
    if (!isOnSocketQueue()) assertionFailure("Must be dispatched on socketQueue", __LINE__);
    if (flags_ & kSocketsCreated) assertionFailure("Sockets have already been created", __LINE__);
    ipv6Unavailable_ = false;
    if (useIPv4) {
        socket4FD_ = createSocket(AF_INET, error);
        if (socket4FD_ < 0) {
            socket4FD_ = -1;
            return false;
        }
    }
    if (useIPv6) {
        foundation::Error error6;
        socket6FD_ = createSocket(AF_INET6, &error6);
        if (socket6FD_ < 0) {
            socket6FD_ = -1;
            const bool ipv6Off = net::isFamilyUnavailable(error6);
            // A host without IPv6 still serves IPv4 when no particular interface was asked.
            if (!(ipv6Optional && ipv6Off)) {
                if (socket4FD_ != -1) {
                    ::close(socket4FD_);
                    socket4FD_ = -1;
                }
                foundation::setError(error, std::move(error6));
                return false;
            }
            ipv6Unavailable_ = true;
        }
    }
    if (socket4FD_ != -1) {
        setupReceiveSource4();
        setupSendSource4();
    }
    if (socket6FD_ != -1) {
        setupReceiveSource6();
        setupSendSource6();
    }
    flags_ |= kSocketsCreated;
    return true;
}

void DispatchUdpSocket::setupReceiveSource4() {
    receive4Source_ = dispatch::Source::createRead(socket4FD_, socketQueue_.queue());
    // The handler runs on the socket queue, where close cancels the source; no handler starts
    // after that, so `this` is alive whenever it runs.
    receive4Source_->setEventHandler([this] {
        // FIONREAD gives 0 for an empty datagram, which is still a datagram to read and drop:
        // UDP has no end of file.
        socket4FDBytesAvailable_ = std::max<std::uint64_t>(receive4Source_->data(), 1);
        doReceive();
    });
    socket4FDBytesAvailable_ = 0;
    flags_ |= kReceive4SourceSuspended | kSocket4Writable;
}

void DispatchUdpSocket::setupReceiveSource6() {
    receive6Source_ = dispatch::Source::createRead(socket6FD_, socketQueue_.queue());
    receive6Source_->setEventHandler([this] {
        socket6FDBytesAvailable_ = std::max<std::uint64_t>(receive6Source_->data(), 1);
        doReceive();
    });
    socket6FDBytesAvailable_ = 0;
    flags_ |= kReceive6SourceSuspended | kSocket6Writable;
}

// ---- Binding and options ----

bool DispatchUdpSocket::bindToPort(std::uint16_t port, foundation::Error* error) {
    return bindToPort(port, std::nullopt, error);
}

bool DispatchUdpSocket::bindToPort(std::uint16_t port, const std::optional<std::string>& interface,
                                   foundation::Error* error) {
    return resultOnSocketQueue([&]() -> bool {
        if (!preBind(error)) return false;
        std::optional<Data> address4;
        std::optional<Data> address6;
        convertInterfaceDescription(interface, port, &address4, &address6);
        if (!address4 && !address6) {
            foundation::setError(error, badParamError(kUnknownInterface));
            return false;
        }
        if ((config_ & kIPv4Disabled) && !address6) {
            foundation::setError(error, badParamError("IPv4 has been disabled and specified "
                                                      "interface doesn't support IPv6."));
            return false;
        }
        if ((config_ & kIPv6Disabled) && !address4) {
            foundation::setError(error, badParamError("IPv6 has been disabled and specified "
                                                      "interface doesn't support IPv4."));
            return false;
        }
        if (config_ & kIPv4Disabled) address4.reset();
        if (config_ & kIPv6Disabled) address6.reset();
        // The generic descriptions still serve IPv4 on a host without IPv6.
        const bool anyOrLoopback =
            !interface || *interface == "localhost" || *interface == "loopback";
        return bindAddresses(address4, address6, anyOrLoopback && address4.has_value(),
                             (flags_ & kSocketsCreated) == 0, error);
    });
}

bool DispatchUdpSocket::bindAddresses(const std::optional<Data>& address4,
                                      const std::optional<Data>& address6, bool ipv6Optional,
                                      bool createHere, foundation::Error* error) {
    const bool sharedPort = address4 && address6 && portFromAddress(*address4) == 0;
    const int attempts = sharedPort && createHere ? kSharedPortAttempts : 1;
    for (int attempt = 1;; ++attempt) {
        if (createHere &&
            !createSocket4(address4.has_value(), address6.has_value(), ipv6Optional, error)) {
            return false;
        }
        bool use6 = address6.has_value();
        // IPv6 could not be created on a host without it (here or by an earlier option call):
        // IPv4 only.
        if (use6 && socket6FD_ == -1 && ipv6Unavailable_) use6 = false;

        auto fail = [&](int err) {
            closeSockets();
            foundation::setError(error, errnoError(err, kBindReason));
            return false;
        };
        if (address4) {
            if (::bind(socket4FD_, reinterpret_cast<const sockaddr*>(address4->data()),
                       static_cast<socklen_t>(address4->size())) != 0) {
                return fail(errno);
            }
        }
        if (use6) {
            Data a6 = *address6;
            // The port the system gave IPv4 is the port of both families.
            if (sharedPort) setPort(a6, boundPort(socket4FD_));
            if (::bind(socket6FD_, reinterpret_cast<const sockaddr*>(a6.data()),
                       static_cast<socklen_t>(a6.size())) != 0) {
                const int err = errno;
                if (ipv6Optional && (err == EADDRNOTAVAIL || err == EAFNOSUPPORT)) {
                    closeSocket6();
                    use6 = false;
                } else if (err == EADDRINUSE && attempt < attempts) {
                    closeSockets();
                    continue;
                } else {
                    return fail(err);
                }
            }
        }
        flags_ |= kSocketBound;
        // A socket of the family left out (made earlier by an option call) would send from a
        // port nobody bound: it goes.
        if (!address4) {
            closeSocket4();
            flags_ |= kIPv4Inactive;
        }
        if (!use6) {
            closeSocket6();
            flags_ |= kIPv6Inactive;
        }
        return true;
    }
}

bool DispatchUdpSocket::bindToAddress(const Data& address, foundation::Error* error) {
    return resultOnSocketQueue([&]() -> bool {
        if (!preBind(error)) return false;
        const int family = familyFromAddress(address);
        if (family != AF_INET && family != AF_INET6) {
            foundation::setError(error,
                                 badParamError("A valid IPv4 or IPv6 address was not given"));
            return false;
        }
        if (family == AF_INET && (config_ & kIPv4Disabled)) {
            foundation::setError(error, badParamError("IPv4 has been disabled and an IPv4 address "
                                                      "was passed."));
            return false;
        }
        if (family == AF_INET6 && (config_ & kIPv6Disabled)) {
            foundation::setError(error, badParamError("IPv6 has been disabled and an IPv6 address "
                                                      "was passed."));
            return false;
        }
        const std::size_t length = family == AF_INET ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        std::optional<Data> a4;
        std::optional<Data> a6;
        (family == AF_INET ? a4 : a6) = Data(address.begin(), address.begin() + length);
        return bindAddresses(a4, a6, false, (flags_ & kSocketsCreated) == 0, error);
    });
}

bool DispatchUdpSocket::enableReusePort(bool enable, foundation::Error* error) {
    return resultOnSocketQueue([&]() -> bool {
        if (!preOp(error)) return false;
        if (!(flags_ & kSocketsCreated) && !createSockets(error)) return false;
        const int value = enable ? 1 : 0;
        bool ok = false;
        if (socket4FD_ != -1) {
            if (::setsockopt(socket4FD_, SOL_SOCKET, SO_REUSEPORT, &value, sizeof value) != 0) {
                const int err = errno;
                foundation::setError(error, errnoError(err, kSetsockoptReason));
                return false;
            }
            ok = true;
        }
        if (socket6FD_ != -1) {
            if (::setsockopt(socket6FD_, SOL_SOCKET, SO_REUSEPORT, &value, sizeof value) != 0) {
                const int err = errno;
                foundation::setError(error, errnoError(err, kSetsockoptReason));
            } else {
                ok = true;
            }
        }
        return ok;
    });
}

bool DispatchUdpSocket::enableBroadcast(bool enable, foundation::Error* error) {
    return resultOnSocketQueue([&]() -> bool {
        if (!preOp(error)) return false;
        if (!(flags_ & kSocketsCreated) && !createSockets(error)) return false;
        if (socket4FD_ == -1) return false;
        const int value = enable ? 1 : 0;
        if (::setsockopt(socket4FD_, SOL_SOCKET, SO_BROADCAST, &value, sizeof value) != 0) {
            const int err = errno;
            foundation::setError(error, errnoError(err, kSetsockoptReason));
            return false;
        }
        return true;
    });
}

}  // namespace rozuri
