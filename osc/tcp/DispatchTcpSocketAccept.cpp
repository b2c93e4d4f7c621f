#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "osc/tcp/DispatchTcpGracefulClose.h"
#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/DispatchTcpSocketInternal.h"

namespace rozuri {

using namespace tcp_detail;

namespace {
// Connections taken per firing of a listening source before other work gets the queue.
constexpr int kAcceptsPerFiring = 64;
}  // namespace

// ---- Listening ----

bool DispatchTcpSocket::acceptOnPort(std::uint16_t port, foundation::Error* error) {
    return acceptOnInterface(std::nullopt, port, error);
}

bool DispatchTcpSocket::acceptOnInterface(const std::optional<std::string>& interface,
                                          std::uint16_t port, foundation::Error* error) {
    return onSocketQueue([&]() -> bool {
        if (!checkDelegateFor("accept", error)) return false;
        const bool ipv4Disabled = (config_ & kIPv4Disabled) != 0;
        const bool ipv6Disabled = (config_ & kIPv6Disabled) != 0;
        if (ipv4Disabled && ipv6Disabled) {
            foundation::setError(error, badConfigError(kBothDisabled));
            return false;
        }
        if (flags_ & kStarted) {
            foundation::setError(error, badConfigError(kAcceptBusy));
            return false;
        }
        readQueue_.clear();
        writeQueue_.clear();

        std::optional<Data> address4;
        std::optional<Data> address6;
        getInterfaceAddress(&address4, &address6, interface, port);
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
        if (ipv4Disabled) address4.reset();
        if (ipv6Disabled) address6.reset();
        if (!listenOnAddresses(address4, address6, address4.has_value(), error)) return false;
        flags_ |= kStarted;
        return true;
    });
}

bool DispatchTcpSocket::acceptOnUrl(const foundation::URL& url, foundation::Error* error) {
    return onSocketQueue([&]() -> bool {
        if (!checkDelegateFor("accept", error)) return false;
        if (flags_ & kStarted) {
            foundation::setError(error, badConfigError(kAcceptBusy));
            return false;
        }
        readQueue_.clear();
        writeQueue_.clear();

        // Checked before anything at the path is touched: a cut path would name another file.
        const auto address = getInterfaceAddressFromUrl(url);
        if (!address) {
            foundation::setError(error, badParamError(kInvalidUnixUrl));
            return false;
        }
        // Only an earlier socket is replaced; a user's file at the path is never removed.
        const std::string path = url.path();
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 &&
            (!S_ISSOCK(st.st_mode) || ::unlink(path.c_str()) != 0)) {
            foundation::setError(
                error, otherError("Could not remove previous unix domain socket at given url."));
            return false;
        }
        const int fd = createListenSocket(AF_UNIX, *address, error);
        if (fd == -1) return false;
        socketUN_ = fd;
        socketUrl_ = url;
        acceptUNSource_ = makeAcceptSource(fd);
        flags_ |= kStarted;
        return true;
    });
}

int DispatchTcpSocket::createListenSocket(int family, const Data& address,
                                          foundation::Error* error) {
    const int fd = createStreamSocket(family, error);
    if (fd == -1) return -1;
    auto fail = [&](const char* reason) {
        const int err = errno;
        ::close(fd);
        foundation::setError(error, errnoError(err, reason));
        return -1;
    };
    const int one = 1;
    if (family != AF_UNIX && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) != 0) {
        return fail("Error enabling address reuse (setsockopt)");
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(address.data()),
               static_cast<socklen_t>(address.size())) != 0) {
        return fail("Error in bind() function");
    }
    if (::listen(fd, kListenBacklog) != 0) return fail("Error in listen() function");
    return fd;
}

bool DispatchTcpSocket::listenOnAddresses(const std::optional<Data>& address4,
                                          const std::optional<Data>& address6, bool ipv6Optional,
                                          foundation::Error* error) {
    const std::uint16_t requestedPort =
        address4 ? portFromAddress(*address4) : portFromAddress(*address6);
    int fd4 = -1;
    int fd6 = -1;
    for (int attempt = 0;; ++attempt) {
        if (address4) {
            fd4 = createListenSocket(AF_INET, *address4, error);
            if (fd4 == -1) return false;
        }
        if (!address6) break;
        Data a6 = *address6;
        // Both families listen on the one port the system picked for IPv4.
        if (fd4 != -1 && requestedPort == 0) setPort(a6, net::boundPort(fd4));
        foundation::Error error6;
        fd6 = createListenSocket(AF_INET6, a6, &error6);
        if (fd6 != -1) break;
        if (fd4 != -1 && ipv6Optional && net::isFamilyUnavailable(error6)) break;  // no IPv6 here
        if (fd4 != -1) ::close(fd4);
        fd4 = -1;
        const bool portTaken =
            error6.domain == foundation::Error::kPOSIXDomain && error6.code == EADDRINUSE;
        if (address4 && requestedPort == 0 && portTaken && attempt + 1 < kSharedPortAttempts) {
            continue;
        }
        foundation::setError(error, std::move(error6));
        return false;
    }
    socket4FD_ = fd4;
    socket6FD_ = fd6;
    if (fd4 != -1) accept4Source_ = makeAcceptSource(fd4);
    if (fd6 != -1) accept6Source_ = makeAcceptSource(fd6);
    return true;
}

std::shared_ptr<dispatch::Source> DispatchTcpSocket::makeAcceptSource(int fd) {
    auto source = dispatch::Source::createRead(fd, socketQueue_.queue());
    std::weak_ptr<dispatch::Source> weakSource = source;
    source->setEventHandler([weak = weak_from_this(), weakSource, fd] {
        auto self = weak.lock();
        auto src = weakSource.lock();
        if (!self || !src) return;
        // Linux does not count pending connections: take them until none is left.
        for (int i = 0; i < kAcceptsPerFiring; ++i) {
            if (!self->doAccept(fd, src)) break;
        }
    });
    source->resume();
    return source;
}

// ---- Accepting one connection ----

bool DispatchTcpSocket::doAccept(int listenFD, const std::shared_ptr<dispatch::Source>& source) {
    // A delegate slower than the connections coming in would otherwise take every descriptor
    // of the process for connections waiting to be handed over: at most half the limit waits
    // (twice what may linger), so that a quarter stays for the rest of the process.
    if (acceptsInFlight_.load(std::memory_order_relaxed) >= 2 * lingerBound()) {
        pauseAccepting(source, kAcceptCatchUp);
        return false;
    }
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    const int fd =
        ::accept4(listenFD, reinterpret_cast<sockaddr*>(&ss), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        // Descriptors held by closed connections waiting for their peers come back first.
        if (outOfDescriptors(err) && closeLingeringNow() > 0) return true;
        // Out of descriptors or memory: the connection stays pending and the level-triggered
        // source would fire at once again, so stop listening for a moment.
        if (outOfDescriptors(err) || err == ENOBUFS || err == ENOMEM) {
            pauseAccepting(source, kAcceptPause);
        }
        return false;
    }
    Data address = bytesOf(&ss, std::min<std::size_t>(len, sizeof ss));
    auto delegateQueue = delegateQueue_;
    if (!delegateQueue) {
        ::close(fd);  // nobody to hand it to
        return true;
    }
    const int family = listenFD == socket4FD_   ? AF_INET
                       : listenFD == socket6FD_ ? AF_INET6
                                                : AF_UNIX;
    acceptsInFlight_.fetch_add(1, std::memory_order_relaxed);
    delegateQueue->async([self = shared_from_this(), delegate = delegate_.lock(), delegateQueue, fd,
                          family, address = std::move(address)] {
        self->acceptsInFlight_.fetch_sub(1, std::memory_order_relaxed);
        std::shared_ptr<dispatch::Queue> queue;
        if (delegate && delegate->respondsTo(Delegate::newSocketQueueForConnection)) {
            queue = delegate->newSocketQueueForConnectionFromAddress(address, self);
        }
        auto accepted = create(delegate, delegateQueue, std::move(queue));
        accepted->performBlock([&] {
            (family == AF_INET    ? accepted->socket4FD_
             : family == AF_INET6 ? accepted->socket6FD_
                                  : accepted->socketUN_) = fd;
            accepted->flags_ = kStarted | kConnected;
            // Sources first: a connected socket without them would leave a write or read that
            // arrives before the next block on its queue waiting for good.
            accepted->setupReadAndWriteSourcesForNewlyConnectedSocket(fd);
        });
        accepted->socketQueue_.queue()->async([weak = std::weak_ptr(accepted)] {
            if (auto socket = weak.lock()) {
                socket->maybeDequeueRead();
                socket->maybeDequeueWrite();
            }
        });
        if (delegate && delegate->respondsTo(Delegate::didAcceptNewSocket)) {
            delegate->socketDidAcceptNewSocket(self, accepted);
        }
    });
    return true;
}

void DispatchTcpSocket::pauseAccepting(const std::shared_ptr<dispatch::Source>& source,
                                       std::chrono::milliseconds pause) {
    source->suspend();
    socketQueue_.queue()->asyncAfter(
        pause, [weak = weak_from_this(), weakSource = std::weak_ptr(source)] {
            auto self = weak.lock();
            auto src = weakSource.lock();
            if (!self || !src) return;
            // Resumed only while it is still one of this socket's listening sources.
            if (src == self->accept4Source_ || src == self->accept6Source_ ||
                src == self->acceptUNSource_) {
                src->resume();
            }
        });
}

}  // namespace rozuri
