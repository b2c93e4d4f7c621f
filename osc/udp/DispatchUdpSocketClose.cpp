#include "osc/udp/DispatchUdpSocket.h"

#include <unistd.h>

#include <utility>
#include <vector>

#include "osc/udp/DispatchUdpSocketInternal.h"

namespace rozuri {

using namespace udp_detail;

// ---- Closing ----

void DispatchUdpSocket::close() {
    runOnSocketQueue([this] { closeWithError(std::nullopt); });
}

void DispatchUdpSocket::closeAfterSending() {
    const bool queued = !socketQueue_.isCurrent();
    if (queued) countAhead();
    socketQueue_.async([self = shared_from_this(), queued] {
        if (!self->currentSend_ && self->sendQueue_.empty()) {
            self->closeWithError(std::nullopt);
        } else {
            self->flags_ |= kCloseAfterSends;
            // Alive until drained, whoever else lets go; each packet is bounded by its time-out.
            self->drainKeepAlive_ = self;
            self->armDrainTimer();
        }
        self->refreshSendGate(queued ? 1 : 0);
    });
}

void DispatchUdpSocket::closeWithError(const std::optional<foundation::Error>& error) {
    if (!isOnSocketQueue()) assertionFailure("Must be dispatched on socketQueue", __LINE__);
    // No direct send from here on: what was handed over is answered first.
    shutSendGate();
    // Datagrams read before the close reach the delegate before the close does.
    flushReceives();
    auto keepAlive = std::move(drainKeepAlive_);
    std::vector<std::shared_ptr<DispatchUdpQueuedPacket>> discarded;
    if (currentSend_) discarded.push_back(std::move(currentSend_));
    if (sendTimer_) {
        sendTimer_->cancel();
        sendTimer_.reset();
    }
    currentSend_.reset();
    for (auto& packet : sendQueue_) discarded.push_back(std::move(packet));
    sendQueue_.clear();
    const std::size_t dropped = discarded.size();
    const bool hadSockets = (flags_ & kSocketsCreated) != 0;
    closeSockets();
    flags_ = 0;
    pendingFilterOperations_ = 0;
    ++openGeneration_;
    // Every packet handed over gets its answer, in order, before the close.
    std::size_t droppedBytes = 0;
    for (const auto& packet : discarded) {
        if (auto* send = dynamic_cast<DispatchUdpSendPacket*>(packet.get())) {
            droppedBytes += send->size();
            notifyDidNotSendDataWithTag(send->tag, socketClosedError());
        } else {
            notifyDidNotConnect(socketClosedError());
        }
    }
    if (hadSockets) notifyDidCloseWithError(error);
    refreshSendGate(dropped, droppedBytes);
    // Let go outside this call: the socket may be destroyed with it.
    if (keepAlive) socketQueue_.queue()->async([keepAlive = std::move(keepAlive)] {});
}

void DispatchUdpSocket::closeSockets() {
    closeSocket4();
    closeSocket6();
    flags_ &= ~kSocketsCreated;
}

void DispatchUdpSocket::closeSocket4() {
    if (socket4FD_ == -1) return;
    shutSendGate();
    if (receive4Source_) {
        receive4Source_->cancel();
        // A suspended source would never run its cancellation.
        resumeReceive4Source();
        receive4Source_.reset();
    }
    if (send4Source_) {
        send4Source_->cancel();
        resumeSend4Source();
        send4Source_.reset();
    }
    // cancel() has stopped monitoring, so the descriptor can go now: the port is free when
    // close returns.
    ::close(socket4FD_);
    socket4FD_ = -1;
    socket4FDBytesAvailable_ = 0;
    readAhead4_->clear();
    flags_ &= ~(kSocket4Writable | kReceive4SourceSuspended | kSend4SourceSuspended);
    cachedLocalAddress4_.reset();
    cachedLocalHost4_.reset();
    cachedLocalPort4_ = 0;
}

void DispatchUdpSocket::closeSocket6() {
    if (socket6FD_ == -1) return;
    shutSendGate();
    if (receive6Source_) {
        receive6Source_->cancel();
        resumeReceive6Source();
        receive6Source_.reset();
    }
    if (send6Source_) {
        send6Source_->cancel();
        resumeSend6Source();
        send6Source_.reset();
    }
    ::close(socket6FD_);
    socket6FD_ = -1;
    socket6FDBytesAvailable_ = 0;
    readAhead6_->clear();
    flags_ &= ~(kSocket6Writable | kReceive6SourceSuspended | kSend6SourceSuspended);
    cachedLocalAddress6_.reset();
    cachedLocalHost6_.reset();
    cachedLocalPort6_ = 0;
}

}  // namespace rozuri
