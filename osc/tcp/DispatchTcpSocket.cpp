#include "osc/tcp/DispatchTcpSocket.h"

#include <sys/socket.h>

#include <utility>

#include "osc/tcp/DispatchTcpSocketError.h"
#include "osc/tcp/DispatchTcpSocketInternal.h"
#include "platform/foundation/Localization.h"

namespace rozuri {

using namespace tcp_detail;
using Code = DispatchTcpSocketError::Code;

// ---- Construction and tear-down ----

std::shared_ptr<DispatchTcpSocket> DispatchTcpSocket::create() {
    return create({}, nullptr);
}

std::shared_ptr<DispatchTcpSocket> DispatchTcpSocket::create(
    std::shared_ptr<dispatch::Queue> socketQueue) {
    return create({}, nullptr, std::move(socketQueue));
}

std::shared_ptr<DispatchTcpSocket> DispatchTcpSocket::create(
    std::weak_ptr<Delegate> delegate, std::shared_ptr<dispatch::Queue> delegateQueue,
    std::shared_ptr<dispatch::Queue> socketQueue) {
    return std::shared_ptr<DispatchTcpSocket>(new DispatchTcpSocket(
        std::move(delegate), std::move(delegateQueue), std::move(socketQueue)));
}

DispatchTcpSocket::DispatchTcpSocket(std::weak_ptr<Delegate> delegate,
                                     std::shared_ptr<dispatch::Queue> delegateQueue,
                                     std::shared_ptr<dispatch::Queue> socketQueue)
    : delegate_(std::move(delegate)),
      delegateQueue_(std::move(delegateQueue)),
      socketQueue_(std::move(socketQueue), "DispatchTcpSocket") {}

DispatchTcpSocket::~DispatchTcpSocket() {
    socketQueue_.run([this] {
        flags_ |= kTearingDown;
        closeWithError(std::nullopt);
        delegate_.reset();
        delegateQueue_.reset();
    });
}

bool DispatchTcpSocket::checkDelegateFor(const char* action, foundation::Error* error) const {
    const std::string attempting = std::string("Attempting to ") + action;
    if (!delegate_.lock()) {
        foundation::setError(
            error, badConfigError(attempting + " without a delegate. Set a delegate first."));
        return false;
    }
    if (!delegateQueue_) {
        foundation::setError(error, badConfigError(attempting + " without a delegate queue. Set a "
                                                                "delegate queue first."));
        return false;
    }
    return true;
}

std::shared_ptr<DispatchTcpSocket> DispatchTcpSocket::socketFromConnectedSocketFD(
    int fd, std::weak_ptr<Delegate> delegate, std::shared_ptr<dispatch::Queue> delegateQueue,
    std::shared_ptr<dispatch::Queue> socketQueue, foundation::Error* error) {
    auto socket = create(std::move(delegate), std::move(delegateQueue), std::move(socketQueue));
    std::optional<foundation::Error> failure;
    socket->performBlock([&] {
        sockaddr_storage ss{};
        socklen_t len = sizeof ss;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) {
            failure = otherError(foundation::localizedString(
                kTable, "DispatchTcpSocketOtherError",
                "Attempt to create socket from socket FD failed. getpeername() failed"));
            return;
        }
        if (ss.ss_family == AF_INET) {
            socket->socket4FD_ = fd;
        } else if (ss.ss_family == AF_INET6) {
            socket->socket6FD_ = fd;
        } else {
            failure = otherError(foundation::localizedString(
                kTable, "DispatchTcpSocketOtherError",
                "Attempt to create socket from socket FD failed. socket FD is neither IPv4 nor "
                "IPv6"));
            return;
        }
        socket->flags_ = kStarted;
        socket->didConnect(socket->stateIndex_);
    });
    if (failure) {
        foundation::setError(error, std::move(*failure));
        return nullptr;
    }
    return socket;
}

std::shared_ptr<DispatchTcpSocket> DispatchTcpSocket::socketFromConnectedSocketFD(
    int fd, std::shared_ptr<dispatch::Queue> socketQueue, foundation::Error* error) {
    return socketFromConnectedSocketFD(fd, {}, nullptr, std::move(socketQueue), error);
}

// ---- Delegate ----

void DispatchTcpSocket::assertOnSocketQueue(int line) const {
    if (!isOnSocketQueue()) assertionFailure("Must be dispatched on socketQueue", line);
}

void DispatchTcpSocket::notify(
    Delegate::Callback callback,
    std::function<void(Delegate&, const std::shared_ptr<DispatchTcpSocket>&)> call) {
    auto delegate = delegate_.lock();
    if (!delegate || !delegateQueue_ || !delegate->respondsTo(callback)) return;
    // Null while the socket is being destroyed: the callback must not revive it.
    auto self = (flags_ & kTearingDown) ? nullptr : weak_from_this().lock();
    delegateQueue_->async([delegate = std::move(delegate), self = std::move(self),
                           call = std::move(call)] { call(*delegate, self); });
}

std::shared_ptr<DispatchTcpSocket::Delegate> DispatchTcpSocket::delegate() const {
    return onSocketQueue([this] { return delegate_.lock(); });
}

std::shared_ptr<dispatch::Queue> DispatchTcpSocket::delegateQueue() const {
    return onSocketQueue([this] { return delegateQueue_; });
}

void DispatchTcpSocket::getDelegate(std::shared_ptr<Delegate>* delegate,
                                    std::shared_ptr<dispatch::Queue>* delegateQueue) const {
    socketQueue_.run([&] {
        if (delegate) *delegate = delegate_.lock();
        if (delegateQueue) *delegateQueue = delegateQueue_;
    });
}

void DispatchTcpSocket::setDelegate(std::weak_ptr<Delegate> delegate) {
    asyncOnSocketQueue([this, d = std::move(delegate)] { delegate_ = d; });
}

void DispatchTcpSocket::synchronouslySetDelegate(std::weak_ptr<Delegate> delegate) {
    socketQueue_.run([&] { delegate_ = delegate; });
}

void DispatchTcpSocket::setDelegateQueue(std::shared_ptr<dispatch::Queue> delegateQueue) {
    asyncOnSocketQueue([this, q = std::move(delegateQueue)] { delegateQueue_ = q; });
}

void DispatchTcpSocket::synchronouslySetDelegateQueue(
    std::shared_ptr<dispatch::Queue> delegateQueue) {
    socketQueue_.run([&] { delegateQueue_ = delegateQueue; });
}

void DispatchTcpSocket::setDelegate(std::weak_ptr<Delegate> delegate,
                                    std::shared_ptr<dispatch::Queue> delegateQueue) {
    asyncOnSocketQueue([this, d = std::move(delegate), q = std::move(delegateQueue)] {
        delegate_ = d;
        delegateQueue_ = q;
    });
}

void DispatchTcpSocket::synchronouslySetDelegate(std::weak_ptr<Delegate> delegate,
                                                 std::shared_ptr<dispatch::Queue> delegateQueue) {
    socketQueue_.run([&] {
        delegate_ = delegate;
        delegateQueue_ = delegateQueue;
    });
}

// ---- Configuration ----

namespace {
void setBit(std::uint16_t& bits, std::uint16_t bit, bool on) {
    if (on) {
        bits |= bit;
    } else {
        bits &= static_cast<std::uint16_t>(~bit);
    }
}
}  // namespace

bool DispatchTcpSocket::isIPv4Enabled() const {
    return onSocketQueue([this] { return (config_ & kIPv4Disabled) == 0; });
}

void DispatchTcpSocket::setIPv4Enabled(bool enabled) {
    asyncOnSocketQueue([this, enabled] { setBit(config_, kIPv4Disabled, !enabled); });
}

bool DispatchTcpSocket::isIPv6Enabled() const {
    return onSocketQueue([this] { return (config_ & kIPv6Disabled) == 0; });
}

void DispatchTcpSocket::setIPv6Enabled(bool enabled) {
    asyncOnSocketQueue([this, enabled] { setBit(config_, kIPv6Disabled, !enabled); });
}

bool DispatchTcpSocket::isIPv4PreferredOverIPv6() const {
    return onSocketQueue([this] { return (config_ & kPreferIPv6) == 0; });
}

void DispatchTcpSocket::setIPv4PreferredOverIPv6(bool preferred) {
    asyncOnSocketQueue([this, preferred] { setBit(config_, kPreferIPv6, !preferred); });
}

double DispatchTcpSocket::alternateAddressDelay() const {
    return onSocketQueue([this] { return alternateAddressDelay_; });
}

void DispatchTcpSocket::setAlternateAddressDelay(double seconds) {
    asyncOnSocketQueue([this, seconds] { alternateAddressDelay_ = seconds; });
}

std::shared_ptr<void> DispatchTcpSocket::userData() const {
    return onSocketQueue([this] { return userData_; });
}

void DispatchTcpSocket::setUserData(std::shared_ptr<void> userData) {
    asyncOnSocketQueue([this, userData = std::move(userData)] {
        if (userData_ != userData) userData_ = userData;
    });
}

bool DispatchTcpSocket::autoDisconnectOnClosedReadStream() const {
    return onSocketQueue([this] { return (config_ & kKeepOpenAfterReadEOF) == 0; });
}

void DispatchTcpSocket::setAutoDisconnectOnClosedReadStream(bool flag) {
    asyncOnSocketQueue([this, flag] { setBit(config_, kKeepOpenAfterReadEOF, !flag); });
}

// ---- Queue discipline ----

void DispatchTcpSocket::performBlock(const std::function<void()>& block) {
    socketQueue_.run(block);
}

void DispatchTcpSocket::markSocketQueueTargetQueue(dispatch::Queue& queue) {
    socketQueue_.markTarget(queue);
}

void DispatchTcpSocket::unmarkSocketQueueTargetQueue(dispatch::Queue& queue) {
    socketQueue_.unmarkTarget(queue);
}

int DispatchTcpSocket::socketFD() const {
    if (!isOnSocketQueue()) return -1;
    return socket4FD_ != -1 ? socket4FD_ : socket6FD_;
}

int DispatchTcpSocket::socket4FD() const {
    return isOnSocketQueue() ? socket4FD_ : -1;
}

int DispatchTcpSocket::socket6FD() const {
    return isOnSocketQueue() ? socket6FD_ : -1;
}

// ---- Errors ----

foundation::Error DispatchTcpSocket::badConfigError(const std::string& text) {
    return DispatchTcpSocketError::make(Code::badConfig, text);
}

foundation::Error DispatchTcpSocket::badParamError(const std::string& text) {
    return DispatchTcpSocketError::make(Code::badParam, text);
}

foundation::Error DispatchTcpSocket::connectTimeoutError() {
    return DispatchTcpSocketError::make(
        Code::connectTimeout,
        foundation::localizedString(kTable, "DispatchTcpSocketConnectTimeoutError",
                                    "Attempt to connect to host timed out"));
}

foundation::Error DispatchTcpSocket::readTimeoutError() {
    return DispatchTcpSocketError::make(
        Code::readTimeout, foundation::localizedString(kTable, "DispatchTcpSocketReadTimeoutError",
                                                       "Read operation timed out"));
}

foundation::Error DispatchTcpSocket::writeTimeoutError() {
    return DispatchTcpSocketError::make(
        Code::writeTimeout,
        foundation::localizedString(kTable, "DispatchTcpSocketWriteTimeoutError",
                                    "Write operation timed out"));
}

foundation::Error DispatchTcpSocket::readMaxedOutError() {
    return DispatchTcpSocketError::make(
        Code::readMaxedOut,
        foundation::localizedString(kTable, "DispatchTcpSocketReadMaxedOutError",
                                    "Read operation reached set maximum length"));
}

foundation::Error DispatchTcpSocket::connectionClosedError() {
    return DispatchTcpSocketError::make(
        Code::closed, foundation::localizedString(kTable, "DispatchTcpSocketClosedError",
                                                  "Socket closed by remote peer"));
}

foundation::Error DispatchTcpSocket::otherError(const std::string& text) {
    return DispatchTcpSocketError::make(Code::other, text);
}

foundation::Error DispatchTcpSocket::errnoError(int err, const std::string& reason) {
    return foundation::Error::posix(err, reason);
}

foundation::Error DispatchTcpSocket::gaiError(int code) {
    return foundation::Error::gai(code);
}

}  // namespace rozuri
