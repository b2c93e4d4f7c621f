#include "osc/udp/DispatchUdpSocket.h"

#include <utility>

#include "osc/udp/DispatchUdpSocketInternal.h"

namespace rozuri {

using namespace udp_detail;

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
    : delegate_(std::move(delegate)),
      delegateQueue_(std::move(delegateQueue)),
      socketQueue_(std::move(socketQueue), "DispatchUdpSocket"),
      readAhead4_(std::make_unique<ReadAhead>()),
      readAhead6_(std::make_unique<ReadAhead>()),
      sendGate_(std::make_unique<SendGate>()) {}

DispatchUdpSocket::~DispatchUdpSocket() {
    runOnSocketQueue([this] { closeWithError(std::nullopt); });
}

// ---- Reaching the socket queue ----

bool DispatchUdpSocket::isOnSocketQueue() const {
    return socketQueue_.isCurrent();
}

// Every operation publishes what it changed to direct sends before it returns (or, when
// queued, counts as waiting ahead of them until it has run).
void DispatchUdpSocket::runOnSocketQueue(const std::function<void()>& work) const {
    socketQueue_.run([&] {
        work();
        refreshSendGate();
    });
}

void DispatchUdpSocket::asyncOnSocketQueue(std::function<void()> work) {
    if (socketQueue_.isCurrent()) {
        work();
        refreshSendGate();
        return;
    }
    countAhead();
    // Dropped if the socket is gone by the time it runs: it can be released on its own queue
    // while the block waits.
    socketQueue_.queue()->async([weak = weak_from_this(), work = std::move(work)] {
        if (auto self = weak.lock()) {
            work();
            self->refreshSendGate(1);
        }
    });
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
    socketQueue_.markTarget(queue);
}

void DispatchUdpSocket::unmarkSocketQueueTargetQueue(dispatch::Queue& queue) {
    socketQueue_.unmarkTarget(queue);
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

}  // namespace rozuri
