#include "osc/udp/DispatchUdpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include "osc/udp/DispatchUdpSocketError.h"
#include "platform/foundation/Assert.h"
#include "platform/foundation/Localization.h"

namespace rozuri {

namespace {

// flags_
constexpr std::uint32_t kSocketsCreated = 0x1;
constexpr std::uint32_t kSocketBound = 0x2;
constexpr std::uint32_t kConnectPending = 0x4;
constexpr std::uint32_t kSocketConnected = 0x8;
constexpr std::uint32_t kReceivingOnce = 0x10;
constexpr std::uint32_t kReceivingContinuously = 0x20;
constexpr std::uint32_t kIPv4Inactive = 0x40;
constexpr std::uint32_t kIPv6Inactive = 0x80;
constexpr std::uint32_t kReceive4SourceSuspended = 0x400;
constexpr std::uint32_t kReceive6SourceSuspended = 0x800;
constexpr std::uint32_t kSocket4Writable = 0x1000;
constexpr std::uint32_t kSocket6Writable = 0x2000;
constexpr std::uint32_t kIPv4Turn = 0x10000;

// config_
constexpr std::uint16_t kIPv4Disabled = 0x1;
constexpr std::uint16_t kIPv6Disabled = 0x2;
constexpr std::uint16_t kPreferIPv4 = 0x4;
constexpr std::uint16_t kPreferIPv6 = 0x8;

// Datagrams read in one go before the loop yields the socket queue to other work (close,
// pause), so a flood cannot hold it.
constexpr int kReadsPerTurn = 256;
// No UDP datagram is larger without IPv6 jumbograms.
constexpr std::uint32_t kLargestDatagram = 65535;
// Attempts at one shared ephemeral port for both families.
constexpr int kSharedPortAttempts = 8;

const char* const kUnknownInterface =
    "Unknown interface. Specify valid interface by name (e.g. \"en1\") or IP address.";
const char* const kBindReason = "Error in bind() function";
const char* const kSetsockoptReason = "Error in setsockopt() function";

void assertionFailure(const char* text, int line) {
    foundation::assertionFailure(text, "DispatchUdpSocket", line);
}

Data bytesOf(const void* address, std::size_t length) {
    const auto* p = static_cast<const std::uint8_t*>(address);
    return Data(p, p + length);
}

Data makeAddress4(in_addr host, std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr = host;
    return bytesOf(&a, sizeof a);
}

Data makeAddress6(const in6_addr& host, std::uint16_t port) {
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = host;
    return bytesOf(&a, sizeof a);
}

void setPort(Data& address, std::uint16_t port) {
    const std::uint16_t net = htons(port);
    // sin_port and sin6_port sit at the same offset.
    static_assert(offsetof(sockaddr_in, sin_port) == offsetof(sockaddr_in6, sin6_port));
    std::memcpy(address.data() + offsetof(sockaddr_in, sin_port), &net, sizeof net);
}

std::uint16_t boundPort(int fd) {
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
    if (ss.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    if (ss.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    return 0;
}

}  // namespace

// ---- Construction ----

std::shared_ptr<DispatchUdpSocket> DispatchUdpSocket::create() {
    return create({}, nullptr);
}

std::shared_ptr<DispatchUdpSocket> DispatchUdpSocket::create(
    std::shared_ptr<dispatch::Queue> socketQueue) {
    return create({}, nullptr, std::move(socketQueue));
}

std::shared_ptr<DispatchUdpSocket> DispatchUdpSocket::create(
    std::weak_ptr<DispatchUdpSocketDelegate> delegate,
    std::shared_ptr<dispatch::Queue> delegateQueue, std::shared_ptr<dispatch::Queue> socketQueue) {
    return std::shared_ptr<DispatchUdpSocket>(new DispatchUdpSocket(
        std::move(delegate), std::move(delegateQueue), std::move(socketQueue)));
}

DispatchUdpSocket::DispatchUdpSocket(std::weak_ptr<DispatchUdpSocketDelegate> delegate,
                                     std::shared_ptr<dispatch::Queue> delegateQueue,
                                     std::shared_ptr<dispatch::Queue> socketQueue)
    : delegate_(std::move(delegate)), delegateQueue_(std::move(delegateQueue)) {
    if (socketQueue && socketQueue->isConcurrent()) {
        assertionFailure("The given socketQueue parameter must not be a concurrent queue.",
                         __LINE__);
        socketQueue = nullptr;
    }
    socketQueue_ =
        socketQueue ? std::move(socketQueue) : dispatch::Queue::createSerial("DispatchUdpSocket");
    // The value only marks the queue; it does not own the socket.
    socketQueue_->setSpecific(&isOnSocketQueueOrTargetQueueKey_,
                              std::shared_ptr<void>(static_cast<void*>(this), [](void*) {}));
}

DispatchUdpSocket::~DispatchUdpSocket() {
    runOnSocketQueue([this] { closeWithError(std::nullopt); });
    socketQueue_->setSpecific(&isOnSocketQueueOrTargetQueueKey_, nullptr);
}

// ---- Reaching the socket queue ----

bool DispatchUdpSocket::isOnSocketQueue() const {
    return dispatch::Queue::getSpecific(&isOnSocketQueueOrTargetQueueKey_) != nullptr;
}

void DispatchUdpSocket::runOnSocketQueue(const std::function<void()>& work) const {
    if (isOnSocketQueue()) {
        work();
    } else {
        socketQueue_->sync(work);
    }
}

void DispatchUdpSocket::asyncOnSocketQueue(std::function<void()> work) {
    if (isOnSocketQueue()) {
        work();
    } else {
        socketQueue_->async(std::move(work));
    }
}

template <class F>
auto DispatchUdpSocket::resultOnSocketQueue(F&& f) const -> decltype(f()) {
    if (isOnSocketQueue()) return f();
    return socketQueue_->syncResult(std::forward<F>(f));
}

// ---- Configuration ----

std::shared_ptr<DispatchUdpSocketDelegate> DispatchUdpSocket::delegate() const {
    return resultOnSocketQueue([this] { return delegate_.lock(); });
}

std::shared_ptr<dispatch::Queue> DispatchUdpSocket::delegateQueue() const {
    return resultOnSocketQueue([this] { return delegateQueue_; });
}

void DispatchUdpSocket::getDelegate(std::shared_ptr<DispatchUdpSocketDelegate>* delegate,
                                    std::shared_ptr<dispatch::Queue>* delegateQueue) const {
    runOnSocketQueue([&] {
        if (delegate) *delegate = delegate_.lock();
        if (delegateQueue) *delegateQueue = delegateQueue_;
    });
}

void DispatchUdpSocket::setDelegate(std::weak_ptr<DispatchUdpSocketDelegate> delegate) {
    asyncOnSocketQueue([this, delegate = std::move(delegate)] { delegate_ = delegate; });
}

void DispatchUdpSocket::synchronouslySetDelegate(
    std::weak_ptr<DispatchUdpSocketDelegate> delegate) {
    runOnSocketQueue([&] { delegate_ = delegate; });
}

void DispatchUdpSocket::setDelegateQueue(std::shared_ptr<dispatch::Queue> delegateQueue) {
    asyncOnSocketQueue([this, q = std::move(delegateQueue)] { delegateQueue_ = q; });
}

void DispatchUdpSocket::synchronouslySetDelegateQueue(
    std::shared_ptr<dispatch::Queue> delegateQueue) {
    runOnSocketQueue([&] { delegateQueue_ = delegateQueue; });
}

void DispatchUdpSocket::setDelegate(std::weak_ptr<DispatchUdpSocketDelegate> delegate,
                                    std::shared_ptr<dispatch::Queue> delegateQueue) {
    asyncOnSocketQueue([this, d = std::move(delegate), q = std::move(delegateQueue)] {
        delegate_ = d;
        delegateQueue_ = q;
    });
}

void DispatchUdpSocket::synchronouslySetDelegate(std::weak_ptr<DispatchUdpSocketDelegate> delegate,
                                                 std::shared_ptr<dispatch::Queue> delegateQueue) {
    runOnSocketQueue([&] {
        delegate_ = delegate;
        delegateQueue_ = delegateQueue;
    });
}

bool DispatchUdpSocket::isIPv4Enabled() const {
    return resultOnSocketQueue([this] { return (config_ & kIPv4Disabled) == 0; });
}

void DispatchUdpSocket::setIPv4Enabled(bool enabled) {
    asyncOnSocketQueue([this, enabled] {
        if (enabled) {
            config_ &= ~kIPv4Disabled;
        } else {
            config_ |= kIPv4Disabled;
        }
    });
}

bool DispatchUdpSocket::isIPv6Enabled() const {
    return resultOnSocketQueue([this] { return (config_ & kIPv6Disabled) == 0; });
}

void DispatchUdpSocket::setIPv6Enabled(bool enabled) {
    asyncOnSocketQueue([this, enabled] {
        if (enabled) {
            config_ &= ~kIPv6Disabled;
        } else {
            config_ |= kIPv6Disabled;
        }
    });
}

bool DispatchUdpSocket::isIPv4Preferred() const {
    return resultOnSocketQueue([this] { return (config_ & kPreferIPv4) != 0; });
}

bool DispatchUdpSocket::isIPv6Preferred() const {
    return resultOnSocketQueue([this] { return (config_ & kPreferIPv6) != 0; });
}

bool DispatchUdpSocket::isIPVersionNeutral() const {
    return resultOnSocketQueue([this] { return (config_ & (kPreferIPv4 | kPreferIPv6)) == 0; });
}

void DispatchUdpSocket::setPreferIPv4() {
    asyncOnSocketQueue([this] {
        config_ |= kPreferIPv4;
        config_ &= ~kPreferIPv6;
    });
}

void DispatchUdpSocket::setPreferIPv6() {
    asyncOnSocketQueue([this] {
        config_ &= ~kPreferIPv4;
        config_ |= kPreferIPv6;
    });
}

void DispatchUdpSocket::setIPVersionNeutral() {
    asyncOnSocketQueue([this] { config_ &= ~(kPreferIPv4 | kPreferIPv6); });
}

std::uint16_t DispatchUdpSocket::maxReceiveIPv4BufferSize() const {
    return resultOnSocketQueue([this] { return max4ReceiveSize_; });
}

void DispatchUdpSocket::setMaxReceiveIPv4BufferSize(std::uint16_t size) {
    asyncOnSocketQueue([this, size] { max4ReceiveSize_ = size; });
}

std::uint32_t DispatchUdpSocket::maxReceiveIPv6BufferSize() const {
    return resultOnSocketQueue([this] { return max6ReceiveSize_; });
}

void DispatchUdpSocket::setMaxReceiveIPv6BufferSize(std::uint32_t size) {
    asyncOnSocketQueue([this, size] { max6ReceiveSize_ = size; });
}

std::uint16_t DispatchUdpSocket::maxSendBufferSize() const {
    return resultOnSocketQueue([this] { return maxSendSize_; });
}

void DispatchUdpSocket::setMaxSendBufferSize(std::uint16_t size) {
    asyncOnSocketQueue([this, size] { maxSendSize_ = size; });
}

std::shared_ptr<void> DispatchUdpSocket::userData() const {
    return resultOnSocketQueue([this] { return userData_; });
}

void DispatchUdpSocket::setUserData(std::shared_ptr<void> userData) {
    asyncOnSocketQueue([this, userData = std::move(userData)] {
        if (userData_ != userData) userData_ = userData;
    });
}

void DispatchUdpSocket::performBlock(const std::function<void()>& block) {
    runOnSocketQueue(block);
}

void DispatchUdpSocket::markSocketQueueTargetQueue(dispatch::Queue& queue) {
    queue.setSpecific(&isOnSocketQueueOrTargetQueueKey_,
                      std::shared_ptr<void>(static_cast<void*>(this), [](void*) {}));
}

void DispatchUdpSocket::unmarkSocketQueueTargetQueue(dispatch::Queue& queue) {
    queue.setSpecific(&isOnSocketQueueOrTargetQueueKey_, nullptr);
}

int DispatchUdpSocket::socketFD() const {
    if (!isOnSocketQueue()) return -1;
    return socket4FD_ != -1 ? socket4FD_ : socket6FD_;
}

int DispatchUdpSocket::socket4FD() const {
    return isOnSocketQueue() ? socket4FD_ : -1;
}

int DispatchUdpSocket::socket6FD() const {
    return isOnSocketQueue() ? socket6FD_ : -1;
}

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
    std::optional<Data> a4;
    std::optional<Data> a6;
    if (!interface) {
        in_addr any4{};
        any4.s_addr = htonl(INADDR_ANY);
        a4 = makeAddress4(any4, port);
        a6 = makeAddress6(in6addr_any, port);
    } else if (*interface == "localhost" || *interface == "loopback") {
        in_addr lo4{};
        lo4.s_addr = htonl(INADDR_LOOPBACK);
        a4 = makeAddress4(lo4, port);
        a6 = makeAddress6(in6addr_loopback, port);
    } else if (!interface->empty()) {
        ifaddrs* list = nullptr;
        if (::getifaddrs(&list) == 0) {
            for (ifaddrs* entry = list; entry; entry = entry->ifa_next) {
                // Some entries (e.g. interfaces that are down) carry no address.
                if (!entry->ifa_addr) continue;
                const bool nameMatches = entry->ifa_name && *interface == entry->ifa_name;
                if (entry->ifa_addr->sa_family == AF_INET && !a4) {
                    const auto* sin = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
                    if (nameMatches || hostFromSockaddr4(*sin) == *interface) {
                        a4 = bytesOf(sin, sizeof(sockaddr_in));
                        setPort(*a4, port);
                    }
                } else if (entry->ifa_addr->sa_family == AF_INET6 && !a6) {
                    const auto* sin6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
                    if (nameMatches || hostFromSockaddr6(*sin6) == *interface) {
                        a6 = bytesOf(sin6, sizeof(sockaddr_in6));
                        setPort(*a6, port);
                    }
                }
            }
            ::freeifaddrs(list);
        }
    }
    if (address4) *address4 = std::move(a4);
    if (address6) *address6 = std::move(a6);
}

int DispatchUdpSocket::createSocket(int family, foundation::Error* error) {
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        const int err = errno;
        foundation::setError(error, errnoError(err, "Error in socket() function"));
        return -1;
    }
    auto fail = [&](const char* reason) {
        const int err = errno;
        ::close(fd);
        foundation::setError(error, errnoError(err, reason));
        return -1;
    };
    if (::fcntl(fd, F_SETFL, O_NONBLOCK) != 0) {
        return fail("Error enabling non-blocking IO on socket (fcntl)");
    }
    // Without it the IPv6 socket would also claim the IPv4 port and the IPv4 bind would fail.
    const int one = 1;
    if (family == AF_INET6 && ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0) {
        return fail("Error enabling IPv6 only (setsockopt)");
    }
    // No SO_REUSEADDR: on Linux it would let another socket take a UDP port in use, so a busy
    // port would never be reported.
    const std::int32_t bufferSize = maxSendSize_;
    if (::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize) != 0) {
        return fail("Error setting send buffer size (setsockopt)");
    }
    // The receive buffer is only ever raised: the system's default (Linux reports twice the
    // size asked for) already holds more than 64 KiB, and a smaller one loses bursts.
    std::int32_t currentReceive = 0;
    socklen_t currentLength = sizeof currentReceive;
    if (::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &currentReceive, &currentLength) != 0 ||
        currentReceive / 2 < bufferSize) {
        if (::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &bufferSize, sizeof bufferSize) != 0) {
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
            const bool ipv6Off = error6.domain == foundation::Error::kPOSIXDomain &&
                                 (error6.code == EAFNOSUPPORT || error6.code == EPROTONOSUPPORT);
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
    if (socket4FD_ != -1) setupReceiveSource4();
    if (socket6FD_ != -1) setupReceiveSource6();
    flags_ |= kSocketsCreated;
    return true;
}

void DispatchUdpSocket::setupReceiveSource4() {
    receive4Source_ = dispatch::Source::createRead(socket4FD_, socketQueue_);
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
    receive6Source_ = dispatch::Source::createRead(socket6FD_, socketQueue_);
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
        if (!address4) flags_ |= kIPv4Inactive;
        if (!use6) flags_ |= kIPv6Inactive;
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

// ---- Receiving ----

bool DispatchUdpSocket::receiveOnce(foundation::Error* error) {
    return resultOnSocketQueue([&]() -> bool {
        if (flags_ & kReceivingOnce) return true;
        if (!(flags_ & kSocketsCreated)) {
            foundation::setError(
                error, badConfigError("Must bind socket before you can receive data. You can do "
                                      "this explicitly via bind, or implicitly via connect or by "
                                      "sending data."));
            return false;
        }
        flags_ |= kReceivingOnce;
        flags_ &= ~kReceivingContinuously;
        scheduleReceive();
        return true;
    });
}

bool DispatchUdpSocket::beginReceiving(foundation::Error* error) {
    return resultOnSocketQueue([&]() -> bool {
        if (flags_ & kReceivingContinuously) return true;
        if (!(flags_ & kSocketsCreated)) {
            foundation::setError(
                error, badConfigError("Must bind socket before you can receive data. You can do "
                                      "this explicitly via bind, or implicitly via connect or by "
                                      "sending data."));
            return false;
        }
        flags_ |= kReceivingContinuously;
        flags_ &= ~kReceivingOnce;
        scheduleReceive();
        return true;
    });
}

void DispatchUdpSocket::pauseReceiving() {
    asyncOnSocketQueue([this] {
        flags_ &= ~(kReceivingOnce | kReceivingContinuously);
        if (socket4FDBytesAvailable_ > 0) suspendReceive4Source();
        if (socket6FDBytesAvailable_ > 0) suspendReceive6Source();
    });
}

void DispatchUdpSocket::setReceiveFilter(ReceiveFilter filter,
                                         std::shared_ptr<dispatch::Queue> filterQueue,
                                         bool isAsynchronous) {
    if (filter && !filterQueue) {
        assertionFailure("Must provide a dispatch_queue in which to run the filter block.",
                         __LINE__);
        return;
    }
    if (!filter) filterQueue = nullptr;
    asyncOnSocketQueue(
        [this, filter = std::move(filter), filterQueue = std::move(filterQueue), isAsynchronous] {
            receiveFilterBlock_ = filter;
            receiveFilterQueue_ = filterQueue;
            receiveFilterAsync_ = isAsynchronous;
        });
}

void DispatchUdpSocket::scheduleReceive() {
    if (receiveScheduled_) return;
    receiveScheduled_ = true;
    socketQueue_->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->receiveScheduled_ = false;
            self->doReceive();
        }
    });
}

void DispatchUdpSocket::suspendReceive4Source() {
    if (receive4Source_ && !(flags_ & kReceive4SourceSuspended)) {
        receive4Source_->suspend();
        flags_ |= kReceive4SourceSuspended;
    }
}

void DispatchUdpSocket::suspendReceive6Source() {
    if (receive6Source_ && !(flags_ & kReceive6SourceSuspended)) {
        receive6Source_->suspend();
        flags_ |= kReceive6SourceSuspended;
    }
}

void DispatchUdpSocket::resumeReceive4Source() {
    if (receive4Source_ && (flags_ & kReceive4SourceSuspended)) {
        receive4Source_->resume();
        flags_ &= ~kReceive4SourceSuspended;
    }
}

void DispatchUdpSocket::resumeReceive6Source() {
    if (receive6Source_ && (flags_ & kReceive6SourceSuspended)) {
        receive6Source_->resume();
        flags_ &= ~kReceive6SourceSuspended;
    }
}

void DispatchUdpSocket::doReceive() {
    // Reads until both sockets would block (a byte count from FIONREAD covers one datagram
    // only on Linux), the mode changes, or the turn's budget is spent.
    for (int reads = 0;; ++reads) {
        const bool receiving = (flags_ & (kReceivingOnce | kReceivingContinuously)) != 0;
        if (!receiving || ((flags_ & kReceivingOnce) && pendingFilterOperations_ != 0)) {
            // Data waits: keep the level-triggered sources quiet until receiving resumes.
            if (socket4FDBytesAvailable_ > 0) suspendReceive4Source();
            if (socket6FDBytesAvailable_ > 0) suspendReceive6Source();
            return;
        }
        bool readIPv4 = false;
        if (socket4FDBytesAvailable_ > 0 && (flags_ & kSocketConnected)) {
            if (socket6FDBytesAvailable_ > 0 && socket4FD_ != -1 && socket6FD_ != -1) {
                assertionFailure("Invalid logic", __LINE__);
            }
            readIPv4 = socket4FD_ != -1;
        } else if (socket4FDBytesAvailable_ > 0) {
            if (socket6FDBytesAvailable_ == 0) {
                readIPv4 = true;
            } else {
                readIPv4 = (flags_ & kIPv4Turn) != 0;
                flags_ ^= kIPv4Turn;
            }
        } else if (socket6FDBytesAvailable_ > 0) {
            readIPv4 = false;
        } else {
            resumeReceive4Source();
            resumeReceive6Source();
            return;
        }
        if (reads == kReadsPerTurn) {
            scheduleReceive();
            return;
        }
        switch (readDatagram(readIPv4)) {
            case ReadResult::fatal:
                return;
            case ReadResult::wouldBlock:
                if (socket4FDBytesAvailable_ == 0) resumeReceive4Source();
                if (socket6FDBytesAvailable_ == 0) resumeReceive6Source();
                break;
            case ReadResult::delivered:
                if (flags_ & kReceivingOnce) flags_ &= ~(kReceivingOnce | kReceivingContinuously);
                break;
            case ReadResult::pending:
            case ReadResult::ignored:
            case ReadResult::empty:
            case ReadResult::skipped:
                break;
        }
    }
}

DispatchUdpSocket::ReadResult DispatchUdpSocket::readDatagram(bool ipv4) {
    const int fd = ipv4 ? socket4FD_ : socket6FD_;
    auto& bytesAvailable = ipv4 ? socket4FDBytesAvailable_ : socket6FDBytesAvailable_;
    if (fd == -1) {
        bytesAvailable = 0;
        return ReadResult::wouldBlock;
    }
    const std::size_t size =
        ipv4 ? max4ReceiveSize_ : std::min<std::uint32_t>(max6ReceiveSize_, kLargestDatagram);
    if (receiveBuffer_.size() < std::max<std::size_t>(size, 1)) {
        receiveBuffer_.resize(std::max<std::size_t>(size, 1));
    }
    sockaddr_storage from{};
    socklen_t fromLength = ipv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
    const ssize_t n = ::recvfrom(fd, receiveBuffer_.data(), size, 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
    if (n < 0) {
        const int err = errno;
        if (err == EAGAIN || err == EWOULDBLOCK) {
            bytesAvailable = 0;
            return ReadResult::wouldBlock;
        }
        // Only a descriptor that is no socket any more ends receiving; EINTR, ECONNREFUSED
        // (a port-unreachable report), ENOBUFS and ENOMEM concern this read alone.
        if (err == EBADF || err == ENOTSOCK) {
            closeWithError(errnoError(err, "Error in recvfrom() function"));
            return ReadResult::fatal;
        }
        return ReadResult::skipped;
    }
    if (n == 0) return ReadResult::empty;

    Data data(receiveBuffer_.begin(), receiveBuffer_.begin() + n);
    Data address = bytesOf(&from, std::min<std::size_t>(fromLength, sizeof from));

    if (flags_ & kSocketConnected) {
        maybeUpdateCachedConnectedAddressInfo();
        if (!cachedConnectedAddress_)
            assertionFailure("Expected cached connected address", __LINE__);
        int family = 0;
        std::string host;
        std::uint16_t port = 0;
        getHost(&host, &port, &family, address);
        if (family != cachedConnectedFamily_ || port != cachedConnectedPort_ ||
            !cachedConnectedHost_ || host != *cachedConnectedHost_) {
            return ReadResult::ignored;
        }
    }

    if (receiveFilterBlock_ && receiveFilterQueue_) {
        if (receiveFilterAsync_) {
            ++pendingFilterOperations_;
            auto filter = receiveFilterBlock_;
            receiveFilterQueue_->async([weak = weak_from_this(), filter = std::move(filter),
                                        data = std::move(data), address = std::move(address),
                                        generation = openGeneration_]() mutable {
                std::any context;
                const bool keep = filter(data, address, &context);
                auto self = weak.lock();
                if (!self) return;
                self->socketQueue_->async([weak, keep, generation, data = std::move(data),
                                           address = std::move(address),
                                           context = std::move(context)]() mutable {
                    auto self = weak.lock();
                    if (!self) return;
                    if (keep) {
                        self->notifyDidReceiveData(std::move(data), std::move(address),
                                                   std::move(context));
                    }
                    // An answer about a datagram of an earlier opening is still delivered,
                    // but must not count against, or end, the receiving of this one.
                    if (generation != self->openGeneration_) return;
                    --self->pendingFilterOperations_;
                    if (self->flags_ & kReceivingOnce) {
                        if (keep) {
                            self->flags_ &= ~kReceivingOnce;
                        } else if (self->pendingFilterOperations_ == 0) {
                            self->doReceive();
                        }
                    }
                });
            });
            return ReadResult::pending;
        }
        std::any context;
        bool keep = false;
        if (receiveFilterQueue_->isCurrent()) {
            keep = receiveFilterBlock_(data, address, &context);
        } else {
            receiveFilterQueue_->sync([&] { keep = receiveFilterBlock_(data, address, &context); });
        }
        if (!keep) return ReadResult::ignored;
        notifyDidReceiveData(std::move(data), std::move(address), std::move(context));
        return ReadResult::delivered;
    }
    notifyDidReceiveData(std::move(data), std::move(address), std::any());
    return ReadResult::delivered;
}

// ---- Posting callbacks ----

void DispatchUdpSocket::notifyDidReceiveData(Data&& data, Data&& address, std::any&& context) {
    auto delegate = delegate_.lock();
    if (!delegate || !delegateQueue_ ||
        !delegate->respondsTo(DispatchUdpSocketDelegate::didReceiveData)) {
        return;
    }
    delegateQueue_->async([delegate = std::move(delegate), self = weak_from_this().lock(),
                           data = std::move(data), address = std::move(address),
                           context = std::move(context)]() mutable {
        delegate->udpSocketDidReceiveData(self, std::move(data), address, context);
    });
}

void DispatchUdpSocket::notifyDidCloseWithError(const std::optional<foundation::Error>& error) {
    auto delegate = delegate_.lock();
    if (!delegate || !delegateQueue_ ||
        !delegate->respondsTo(DispatchUdpSocketDelegate::didClose)) {
        return;
    }
    // Null while the socket is being destroyed: the callback must not revive it.
    delegateQueue_->async([delegate = std::move(delegate), self = weak_from_this().lock(), error] {
        delegate->udpSocketDidClose(self, error);
    });
}

// ---- Closing ----

void DispatchUdpSocket::close() {
    runOnSocketQueue([this] { closeWithError(std::nullopt); });
}

void DispatchUdpSocket::closeAfterSending() {
    // Nothing is ever queued for sending here, so the queue is always drained.
    asyncOnSocketQueue([this] { closeWithError(std::nullopt); });
}

void DispatchUdpSocket::closeWithError(const std::optional<foundation::Error>& error) {
    if (!isOnSocketQueue()) assertionFailure("Must be dispatched on socketQueue", __LINE__);
    const bool hadSockets = (flags_ & kSocketsCreated) != 0;
    closeSockets();
    flags_ = 0;
    pendingFilterOperations_ = 0;
    ++openGeneration_;
    if (hadSockets) notifyDidCloseWithError(error);
}

void DispatchUdpSocket::closeSockets() {
    closeSocket4();
    closeSocket6();
    flags_ &= ~kSocketsCreated;
}

void DispatchUdpSocket::closeSocket4() {
    if (socket4FD_ == -1) return;
    if (receive4Source_) {
        receive4Source_->cancel();
        // A suspended source would never run its cancellation.
        resumeReceive4Source();
        receive4Source_.reset();
    }
    // cancel() has stopped monitoring, so the descriptor can go now: the port is free when
    // close returns.
    ::close(socket4FD_);
    socket4FD_ = -1;
    socket4FDBytesAvailable_ = 0;
    flags_ &= ~(kSocket4Writable | kReceive4SourceSuspended);
    cachedLocalAddress4_.reset();
    cachedLocalHost4_.reset();
    cachedLocalPort4_ = 0;
}

void DispatchUdpSocket::closeSocket6() {
    if (socket6FD_ == -1) return;
    if (receive6Source_) {
        receive6Source_->cancel();
        resumeReceive6Source();
        receive6Source_.reset();
    }
    ::close(socket6FD_);
    socket6FD_ = -1;
    socket6FDBytesAvailable_ = 0;
    flags_ &= ~(kSocket6Writable | kReceive6SourceSuspended);
    cachedLocalAddress6_.reset();
    cachedLocalHost6_.reset();
    cachedLocalPort6_ = 0;
}

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
    char text[INET_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text)) return {};
    return text;
}

std::string DispatchUdpSocket::hostFromSockaddr6(const sockaddr_in6& address) {
    char text[INET6_ADDRSTRLEN] = {};
    if (!::inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof text)) return {};
    return text;
}

std::uint16_t DispatchUdpSocket::portFromSockaddr4(const sockaddr_in& address) {
    return ntohs(address.sin_port);
}

std::uint16_t DispatchUdpSocket::portFromSockaddr6(const sockaddr_in6& address) {
    return ntohs(address.sin6_port);
}

bool DispatchUdpSocket::getHost(std::string* host, std::uint16_t* port, int* family,
                                const Data& address) {
    auto invalid = [&] {
        if (host) host->clear();
        if (port) *port = 0;
        if (family) *family = 0;
        return false;
    };
    if (address.size() < sizeof(sockaddr_in)) return invalid();
    sa_family_t saFamily = 0;
    std::memcpy(&saFamily, address.data() + offsetof(sockaddr, sa_family), sizeof saFamily);
    if (saFamily == AF_INET6 && address.size() >= sizeof(sockaddr_in6)) {
        sockaddr_in6 a{};
        std::memcpy(&a, address.data(), sizeof a);
        if (host) *host = hostFromSockaddr6(a);
        if (port) *port = portFromSockaddr6(a);
        if (family) *family = AF_INET6;
        return true;
    }
    if (saFamily == AF_INET) {
        sockaddr_in a{};
        std::memcpy(&a, address.data(), sizeof a);
        if (host) *host = hostFromSockaddr4(a);
        if (port) *port = portFromSockaddr4(a);
        if (family) *family = AF_INET;
        return true;
    }
    return invalid();
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
    int family = 0;
    getHost(nullptr, nullptr, &family, address);
    return family;
}

bool DispatchUdpSocket::isIPv4Address(const Data& address) {
    return familyFromAddress(address) == AF_INET;
}

bool DispatchUdpSocket::isIPv6Address(const Data& address) {
    return familyFromAddress(address) == AF_INET6;
}

}  // namespace rozuri
