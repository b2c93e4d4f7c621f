#include <unistd.h>

#include <utility>

#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/DispatchTcpGracefulClose.h"
#include "osc/tcp/DispatchTcpSocketInternal.h"

namespace rozuri {

using namespace tcp_detail;

// ---- Requested closes ----

void DispatchTcpSocket::disconnect() {
    socketQueue_.run([this] {
        if (flags_ & kStarted) closeWithError(std::nullopt);
    });
}

void DispatchTcpSocket::disconnectAfterReading() {
    disconnectAfter(kCloseWhenReadsDone);
}

void DispatchTcpSocket::disconnectAfterWriting() {
    disconnectAfter(kCloseWhenWritesDone);
}

void DispatchTcpSocket::disconnectAfterReadingAndWriting() {
    disconnectAfter(kCloseWhenReadsDone | kCloseWhenWritesDone);
}

void DispatchTcpSocket::disconnectAfter(std::uint32_t sides) {
    // Always posted, and holding the socket: a caller may drop its last reference right after
    // asking, and the queued writes must still go out.
    socketQueue_.queue()->async([self = shared_from_this(), sides] {
        if (!(self->flags_ & kStarted)) return;
        self->flags_ |= kRefuseNewIO | sides;
        self->updateDrainHold();
        self->maybeClose();
    });
}

void DispatchTcpSocket::maybeClose() {
    assertOnSocketQueue(__LINE__);
    if (flags_ & kCloseWhenReadsDone) {
        if (!readQueue_.empty() || currentRead_ || currentReadTLS_) return;
        if (!(flags_ & kCloseWhenWritesDone)) {
            closeWithError(std::nullopt);
            return;
        }
    }
    if (flags_ & kCloseWhenWritesDone) {
        if (writeQueue_.empty() && !currentWrite_ && !currentWriteTLS_)
            closeWithError(std::nullopt);
    }
}

// ---- Draining writes of a released socket ----

void DispatchTcpSocket::updateDrainHold() {
    const bool writesLeft = currentWrite_ || currentWriteTLS_ || !writeQueue_.empty();
    if (!(flags_ & kCloseWhenWritesDone) || !writesLeft || drainHold_) return;
    drainHold_ = shared_from_this();
    drainCheckedBytes_ = bytesWritten_;
    drainTimer_ = dispatch::Source::createTimer(socketQueue_.queue());
    drainTimer_->setEventHandler([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self || !self->drainTimer_) return;
        // A peer that takes nothing for this long would hold a released socket for ever. While
        // its owner still holds it (more references than the hold and this block), the writes
        // wait as long as their own time-outs say.
        const bool released = self.use_count() <= 2;
        if (released && self->bytesWritten_ == self->drainCheckedBytes_) {
            self->closeWithError(writeTimeoutError());
            return;
        }
        self->drainCheckedBytes_ = self->bytesWritten_;
        self->drainTimer_->scheduleAfter(kDrainStallLimit);
    });
    drainTimer_->scheduleAfter(kDrainStallLimit);
    drainTimer_->resume();
}

void DispatchTcpSocket::releaseDrainHold() {
    if (drainTimer_) {
        drainTimer_->cancel();
        drainTimer_.reset();
    }
    if (!drainHold_) return;
    // Dropped from a later block: this may be the last reference, and the socket must not be
    // destroyed under the caller.
    socketQueue_.queue()->async([hold = std::move(drainHold_)] {});
    drainHold_.reset();
}

// ---- The close ----

void DispatchTcpSocket::closeWithError(const std::optional<foundation::Error>& error) {
    assertOnSocketQueue(__LINE__);
    const bool wasStarted = (flags_ & kStarted) != 0;
    const bool wasConnected = (flags_ & kConnected) != 0;
    endConnectTimeout();
    if (currentRead_ || currentReadTLS_) endCurrentRead();
    if (currentWrite_ || currentWriteTLS_) endCurrentWrite();
    readQueue_.clear();
    writeQueue_.clear();
    preBuffer_.reset();
    closeTLS();

    for (auto* source : {&connect4Source_, &connect6Source_, &connectUNSource_}) {
        if (*source) {
            (*source)->cancel();
            source->reset();
        }
    }
    // cancel() stops monitoring before it returns, and handlers run only on this queue: the
    // descriptors can go at once, so a port or path is free when the close returns.
    for (auto* source : {&accept4Source_, &accept6Source_, &acceptUNSource_}) {
        if (*source) {
            (*source)->cancel();
            source->reset();
        }
    }
    if (readSource_) {
        readSource_->cancel();
        resumeReadSource();
        readSource_.reset();
    }
    if (writeSource_) {
        writeSource_->cancel();
        resumeWriteSource();
        writeSource_.reset();
    }
    for (int* fd : {&socket4FD_, &socket6FD_, &socketUN_}) {
        if (*fd == -1) continue;
        // A connection ends with our end of stream and waits briefly for the peer's: closing
        // on unread input would reset it and lose bytes already reported written.
        if (wasConnected) {
            closeAfterPeerEnds(*fd);
        } else {
            ::close(*fd);
        }
        *fd = -1;
    }
    // A listener's socket file stays (the next listen on the path replaces it), and the path is
    // forgotten: a later close must not remove a file another socket may own by then.
    socketUrl_.reset();
    connectAddress4_.reset();
    connectAddress6_.reset();

    socketFDBytesAvailable_ = 0;
    flags_ &= kTearingDown;

    if (wasStarted) {
        notify(Delegate::didDisconnect,
               [error](Delegate& d, const auto& socket) { d.socketDidDisconnect(socket, error); });
    }
    releaseDrainHold();
}

}  // namespace rozuri
