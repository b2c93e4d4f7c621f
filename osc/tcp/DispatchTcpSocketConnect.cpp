#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "osc/tcp/DispatchTcpGracefulClose.h"
#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/DispatchTcpSocketInternal.h"

namespace rozuri {

using namespace tcp_detail;

// Connecting never blocks a thread: each attempt is a non-blocking connect() on the socket
// queue, completed by write readiness and SO_ERROR. Every result carries the state index of
// its attempt and the descriptor it was about, and is dropped when either is no longer current.

// ---- Public forms ----

bool DispatchTcpSocket::connectToHost(const std::string& host, std::uint16_t port,
                                      foundation::Error* error) {
    return connectToHost(host, port, std::nullopt, -1.0, error);
}

bool DispatchTcpSocket::connectToHost(const std::string& host, std::uint16_t port, double timeout,
                                      foundation::Error* error) {
    return connectToHost(host, port, std::nullopt, timeout, error);
}

bool DispatchTcpSocket::connectToHost(const std::string& host, std::uint16_t port,
                                      const std::optional<std::string>& interface, double timeout,
                                      foundation::Error* error) {
    return onSocketQueue([&]() -> bool {
        if (host.empty() || host.find('\0') != std::string::npos) {
            foundation::setError(error, badParamError(kInvalidHost));
            return false;
        }
        if (!preConnectWithInterface(interface, error)) return false;
        flags_ |= kStarted;
        const std::int64_t index = stateIndex_;
        dispatch::Queue::global()->async([weak = weak_from_this(), host, port, index] {
            foundation::Error lookupError;
            auto addresses = lookupHost(host, port, &lookupError);
            auto self = weak.lock();
            if (!self) return;
            std::optional<Data> address4;
            std::optional<Data> address6;
            if (addresses) {
                for (const auto& a : *addresses) {
                    if (!address4 && isIPv4Address(a)) address4 = a;
                    if (!address6 && isIPv6Address(a)) address6 = a;
                }
            }
            self->socketQueue_.queue()->async([weak, index, address4, address6, lookupError] {
                auto self = weak.lock();
                if (!self) return;
                if (address4 || address6) {
                    self->lookupDidSucceed(index, address4, address6);
                } else {
                    self->lookupDidFail(index, lookupError);
                }
            });
        });
        startConnectTimeout(timeout);
        return true;
    });
}

bool DispatchTcpSocket::connectToAddress(const Data& address, foundation::Error* error) {
    return connectToAddress(address, std::nullopt, -1.0, error);
}

bool DispatchTcpSocket::connectToAddress(const Data& address, double timeout,
                                         foundation::Error* error) {
    return connectToAddress(address, std::nullopt, timeout, error);
}

bool DispatchTcpSocket::connectToAddress(const Data& address,
                                         const std::optional<std::string>& interface,
                                         double timeout, foundation::Error* error) {
    return onSocketQueue([&]() -> bool {
        const bool is6 = isIPv6Address(address) && address.size() == sizeof(sockaddr_in6);
        const bool is4 = isIPv4Address(address) && address.size() == sizeof(sockaddr_in);
        if (!is4 && !is6) {
            foundation::setError(error,
                                 badParamError("A valid IPv4 or IPv6 address was not given"));
            return false;
        }
        if (is4 && (config_ & kIPv4Disabled)) {
            foundation::setError(
                error, badParamError("IPv4 has been disabled and an IPv4 address was passed."));
            return false;
        }
        if (is6 && (config_ & kIPv6Disabled)) {
            foundation::setError(
                error, badParamError("IPv6 has been disabled and an IPv6 address was passed."));
            return false;
        }
        if (!preConnectWithInterface(interface, error)) return false;
        if (!connectWithAddress4(is4 ? std::optional<Data>(address) : std::nullopt,
                                 is6 ? std::optional<Data>(address) : std::nullopt, error)) {
            return false;
        }
        flags_ |= kStarted;
        startConnectTimeout(timeout);
        return true;
    });
}

bool DispatchTcpSocket::connectToUrl(const foundation::URL& url, double timeout,
                                     foundation::Error* error) {
    return onSocketQueue([&]() -> bool {
        // A path the address cannot hold would be cut and name another file.
        if (!getInterfaceAddressFromUrl(url)) {
            foundation::setError(error, badParamError("Invalid unix domain socket url."));
            return false;
        }
        if (!preConnectWithUrl(url, error)) return false;
        flags_ |= kStarted;
        foundation::Error connectError;
        if (!connectWithAddressUN(*connectInterfaceUN_, &connectError)) {
            closeWithError(connectError);
            foundation::setError(error, std::move(connectError));
            return false;
        }
        startConnectTimeout(timeout);
        return true;
    });
}

bool DispatchTcpSocket::connectToNetService(const std::vector<Data>& addresses,
                                            foundation::Error* error) {
    for (const auto& address : addresses) {
        if (connectToAddress(address, error)) return true;
    }
    return false;
}

// ---- Checks ----

bool DispatchTcpSocket::preConnectWithInterface(const std::optional<std::string>& interface,
                                                foundation::Error* error) {
    assertOnSocketQueue(__LINE__);
    if (!checkDelegateFor("connect", error)) return false;
    if (flags_ & kStarted) {
        foundation::setError(error, badConfigError(kBusy));
        return false;
    }
    const bool ipv4Disabled = (config_ & kIPv4Disabled) != 0;
    const bool ipv6Disabled = (config_ & kIPv6Disabled) != 0;
    if (ipv4Disabled && ipv6Disabled) {
        foundation::setError(error, badConfigError(kBothDisabled));
        return false;
    }
    if (interface) {
        std::optional<Data> address4;
        std::optional<Data> address6;
        getInterfaceAddress(&address4, &address6, interface, 0);
        if (!address4 && !address6) {
            foundation::setError(error, badParamError(kUnknownInterface));
            return false;
        }
        if (ipv4Disabled && !address6) {
            foundation::setError(error, badParamError(kIPv4DisabledNoIPv6));
            return false;
        }
        if (ipv6Disabled && !address4) {
            foundation::setError(error, badParamError(kIPv6DisabledNoIPv4));
            return false;
        }
        connectInterface4_ = std::move(address4);
        connectInterface6_ = std::move(address6);
    }
    readQueue_.clear();
    writeQueue_.clear();
    return true;
}

bool DispatchTcpSocket::preConnectWithUrl(const foundation::URL& url, foundation::Error* error) {
    assertOnSocketQueue(__LINE__);
    if (!checkDelegateFor("connect", error)) return false;
    if (flags_ & kStarted) {
        foundation::setError(error, badConfigError(kBusy));
        return false;
    }
    auto address = getInterfaceAddressFromUrl(url);
    if (!address) {
        foundation::setError(error, badParamError(kUnknownInterface));
        return false;
    }
    connectInterfaceUN_ = std::move(address);
    readQueue_.clear();
    writeQueue_.clear();
    return true;
}

// ---- Lookup results ----

void DispatchTcpSocket::lookupDidSucceed(std::int64_t index, std::optional<Data> address4,
                                         std::optional<Data> address6) {
    assertOnSocketQueue(__LINE__);
    if (!address4 && !address6) assertionFailure("Expected at least one valid address", __LINE__);
    if (index != stateIndex_) return;
    const bool ipv4Disabled = (config_ & kIPv4Disabled) != 0;
    const bool ipv6Disabled = (config_ & kIPv6Disabled) != 0;
    if (ipv4Disabled && !address6) {
        closeWithError(otherError("IPv4 has been disabled and DNS lookup found no IPv6 address."));
        return;
    }
    if (ipv6Disabled && !address4) {
        closeWithError(otherError("IPv6 has been disabled and DNS lookup found no IPv4 address."));
        return;
    }
    if (ipv4Disabled) address4.reset();
    if (ipv6Disabled) address6.reset();
    foundation::Error error;
    if (!connectWithAddress4(address4, address6, &error)) closeWithError(error);
}

void DispatchTcpSocket::lookupDidFail(std::int64_t index, const foundation::Error& error) {
    assertOnSocketQueue(__LINE__);
    if (index != stateIndex_) return;
    endConnectTimeout();
    closeWithError(error);
}

// ---- Attempts ----

int DispatchTcpSocket::createConnectSocket(int family, const std::optional<Data>& interface,
                                           foundation::Error* error) {
    const int fd = createStreamSocket(family, error);
    if (fd == -1 || !interface) return fd;
    // A fixed local port must be reusable right after our own earlier connection from it.
    std::uint16_t localPort = 0;
    if (net::readAddress(*interface, nullptr, &localPort, nullptr) && localPort != 0) {
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(interface->data()),
               static_cast<socklen_t>(interface->size())) != 0) {
        const int err = errno;
        ::close(fd);
        foundation::setError(error, errnoError(err, "Error in bind() function"));
        return -1;
    }
    return fd;
}

bool DispatchTcpSocket::connectWithAddress4(const std::optional<Data>& address4,
                                            const std::optional<Data>& address6,
                                            foundation::Error* error) {
    assertOnSocketQueue(__LINE__);
    foundation::Error lastError;
    if (address4) {
        socket4FD_ = createConnectSocket(AF_INET, connectInterface4_, &lastError);
        connectAddress4_ = address4;
    }
    if (address6) {
        socket6FD_ = createConnectSocket(AF_INET6, connectInterface6_, &lastError);
        connectAddress6_ = address6;
    }
    if (socket4FD_ == -1 && socket6FD_ == -1) {
        foundation::setError(error, std::move(lastError));
        return false;
    }
    const bool primaryIs6 = socket4FD_ == -1 || ((config_ & kPreferIPv6) && socket6FD_ != -1);
    const int primary = primaryIs6 ? AF_INET6 : AF_INET;
    const int alternate = primaryIs6 ? AF_INET : AF_INET6;
    const std::int64_t index = stateIndex_;
    auto start = [weak = weak_from_this(), index](int family) {
        return [weak, index, family] {
            auto self = weak.lock();
            if (self && index == self->stateIndex_) self->connectSocket(family, index);
        };
    };
    // Started from the queue, so that a connect that fails at once reports after the caller
    // has seen the attempt start.
    socketQueue_.queue()->async(start(primary));
    if ((alternate == AF_INET ? socket4FD_ : socket6FD_) != -1) {
        const double delay = alternateAddressDelay_ > 0 ? alternateAddressDelay_ : 0.0;
        if (auto wait = timeoutDuration(delay)) {
            socketQueue_.queue()->asyncAfter(*wait, start(alternate));
        } else {
            // Never tried: kept open, it would hide the primary's failure for ever.
            closeSocket(alternate);
        }
    }
    return true;
}

void DispatchTcpSocket::connectSocket(int family, std::int64_t index) {
    int& fd = family == AF_INET ? socket4FD_ : family == AF_INET6 ? socket6FD_ : socketUN_;
    if (fd == -1) return;
    if (flags_ & kConnected) {
        closeSocket(family);  // the other family won
        return;
    }
    const auto& address = family == AF_INET    ? connectAddress4_
                          : family == AF_INET6 ? connectAddress6_
                                               : connectInterfaceUN_;
    if (!address) return;
    const int attemptFD = fd;
    if (::connect(attemptFD, reinterpret_cast<const sockaddr*>(address->data()),
                  static_cast<socklen_t>(address->size())) == 0) {
        connectAttemptFinished(family, attemptFD, index, 0);
        return;
    }
    const int err = errno;
    if (family == AF_UNIX && err == EAGAIN) {
        // The listener's backlog is full. A blocking connect would wait for room: try again
        // until the time-out or a close moves the index on.
        const auto wait = unixConnectRetryDelay_;
        unixConnectRetryDelay_ = std::min(unixConnectRetryDelay_ * 2, kUnixConnectRetryMax);
        socketQueue_.queue()->asyncAfter(wait, [weak = weak_from_this(), index, attemptFD] {
            auto self = weak.lock();
            if (self && index == self->stateIndex_ && self->socketUN_ == attemptFD)
                self->connectSocket(AF_UNIX, index);
        });
        return;
    }
    if (err != EINPROGRESS && err != EINTR) {
        connectAttemptFinished(family, attemptFD, index, err);
        return;
    }
    auto source = dispatch::Source::createWrite(attemptFD, socketQueue_.queue());
    source->setEventHandler([weak = weak_from_this(), family, attemptFD, index] {
        auto self = weak.lock();
        if (!self) return;
        int soError = 0;
        socklen_t len = sizeof soError;
        if (::getsockopt(attemptFD, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
        self->connectAttemptFinished(family, attemptFD, index, soError);
    });
    source->resume();
    (family == AF_INET    ? connect4Source_
     : family == AF_INET6 ? connect6Source_
                          : connectUNSource_) = std::move(source);
}

void DispatchTcpSocket::connectAttemptFinished(int family, int fd, std::int64_t index, int err) {
    const int current = family == AF_INET    ? socket4FD_
                        : family == AF_INET6 ? socket6FD_
                                             : socketUN_;
    // A result of an abandoned attempt: its descriptor is closed, or the number is reused.
    if (index != stateIndex_ || current != fd) return;
    auto& source = family == AF_INET    ? connect4Source_
                   : family == AF_INET6 ? connect6Source_
                                        : connectUNSource_;
    if (source) {
        source->cancel();
        source.reset();
    }
    if (family == AF_UNIX) {
        if (err == 0) {
            didConnect(index);
        } else {
            std::fprintf(stderr, "connect: %s\n", std::strerror(err));
            didNotConnect(index, errnoError(err, "Error in connect() function"));
        }
        return;
    }
    if (flags_ & kConnected) {
        closeSocket(family);
        return;
    }
    if (err != 0) {
        closeSocket(family);
        // While the other family's attempt is still open, this failure is not the last word.
        if (socket4FD_ == -1 && socket6FD_ == -1) {
            didNotConnect(index, errnoError(err, "Error in connect() function"));
        }
        return;
    }
    closeSocket(family == AF_INET ? AF_INET6 : AF_INET);
    didConnect(index);
}

void DispatchTcpSocket::closeSocket(int family) {
    auto& source = family == AF_INET ? connect4Source_ : connect6Source_;
    if (source) {
        source->cancel();
        source.reset();
    }
    int& fd = family == AF_INET ? socket4FD_ : socket6FD_;
    if (fd != -1) {
        ::close(fd);
        fd = -1;
    }
}

bool DispatchTcpSocket::connectWithAddressUN(const Data& address, foundation::Error* error) {
    assertOnSocketQueue(__LINE__);
    (void)address;
    socketUN_ = createStreamSocket(AF_UNIX, error);
    if (socketUN_ == -1) return false;
    unixConnectRetryDelay_ = kUnixConnectRetryFirst;
    const std::int64_t index = stateIndex_;
    socketQueue_.queue()->async([weak = weak_from_this(), index] {
        auto self = weak.lock();
        if (self && index == self->stateIndex_) self->connectSocket(AF_UNIX, index);
    });
    return true;
}

// ---- Completion ----

void DispatchTcpSocket::didConnect(std::int64_t index) {
    assertOnSocketQueue(__LINE__);
    if (index != stateIndex_) return;
    flags_ |= kConnected;
    endConnectTimeout();
    const auto host = connectedHost();
    const auto port = connectedPort();
    const auto url = host ? std::nullopt : connectedUrl();
    if (host) {
        notify(Delegate::didConnectToHost, [host = *host, port](Delegate& d, const auto& socket) {
            d.socketDidConnectToHost(socket, host, port);
        });
    } else if (url) {
        notify(Delegate::didConnectToUrl, [url = *url](Delegate& d, const auto& socket) {
            d.socketDidConnectToUrl(socket, url);
        });
    }
    const int fd = ioFD();
    const int fl = ::fcntl(fd, F_GETFL);
    if (fl == -1 || ::fcntl(fd, F_SETFL, fl | O_NONBLOCK) == -1) {
        closeWithError(otherError(kNonBlockingReason));
        return;
    }
    setupReadAndWriteSourcesForNewlyConnectedSocket(fd);
    maybeDequeueRead();
    maybeDequeueWrite();
}

void DispatchTcpSocket::didNotConnect(std::int64_t index, const foundation::Error& error) {
    assertOnSocketQueue(__LINE__);
    if (index != stateIndex_) return;
    closeWithError(error);
}

// ---- Time-out ----

void DispatchTcpSocket::startConnectTimeout(double timeout) {
    const auto wait = timeoutDuration(timeout);
    if (!wait) return;
    connectTimer_ = dispatch::Source::createTimer(socketQueue_.queue());
    connectTimer_->setEventHandler([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->doConnectTimeout();
    });
    connectTimer_->scheduleAfter(*wait);
    connectTimer_->resume();
}

void DispatchTcpSocket::endConnectTimeout() {
    if (connectTimer_) {
        connectTimer_->cancel();
        connectTimer_.reset();
    }
    ++stateIndex_;
    connectInterface4_.reset();
    connectInterface6_.reset();
}

void DispatchTcpSocket::doConnectTimeout() {
    endConnectTimeout();
    closeWithError(connectTimeoutError());
}

}  // namespace rozuri
