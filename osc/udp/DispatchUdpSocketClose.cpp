#include "osc/udp/DispatchUdpSocket.h"

#include <unistd.h>

#include <utility>

#include "osc/udp/DispatchUdpSocketInternal.h"

namespace rozuri {

using namespace udp_detail;

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
    // Datagrams read before the close reach the delegate before the close does.
    flushReceives();
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
    readAhead4_->clear();
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
    readAhead6_->clear();
    flags_ &= ~(kSocket6Writable | kReceive6SourceSuspended);
    cachedLocalAddress6_.reset();
    cachedLocalHost6_.reset();
    cachedLocalPort6_ = 0;
}

}  // namespace rozuri
