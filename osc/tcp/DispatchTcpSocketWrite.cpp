#include <sys/socket.h>
#include <sys/uio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <utility>

#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/DispatchTcpSocketInternal.h"

namespace rozuri {

using namespace tcp_detail;

// ---- Requests ----

void DispatchTcpSocket::writeData(Data data, double timeout, std::int64_t tag) {
    if (data.empty()) return;
    auto packet = std::make_shared<DispatchTcpWritePacket>(std::move(data), timeout, tag);
    asyncOnSocketQueue([this, packet = std::move(packet)] {
        if (!(flags_ & kStarted) || (flags_ & kRefuseNewIO)) return;
        writeQueue_.push_back({packet, nullptr});
        maybeDequeueWrite();
    });
}

float DispatchTcpSocket::progressOfWrite(std::int64_t* tag, std::uint64_t* bytesDone,
                                         std::uint64_t* total) const {
    return onSocketQueue([&]() -> float {
        const auto& p = currentWrite_;
        if (tag) *tag = p ? p->tag : 0;
        if (bytesDone) *bytesDone = p ? p->bytesDone : 0;
        if (total) *total = p ? p->buffer.size() : 0;
        if (!p) return std::nanf("");
        return static_cast<float>(static_cast<double>(p->bytesDone) /
                                  static_cast<double>(p->buffer.size()));
    });
}

// ---- Sources ----

void DispatchTcpSocket::suspendWriteSource() {
    if (writeSource_ && !(flags_ & kWriteSourcePaused)) {
        writeSource_->suspend();
        flags_ |= kWriteSourcePaused;
    }
}

void DispatchTcpSocket::resumeWriteSource() {
    if (writeSource_ && (flags_ & kWriteSourcePaused)) {
        writeSource_->resume();
        flags_ &= ~kWriteSourcePaused;
    }
}

long DispatchTcpSocket::plainWrite(const std::uint8_t* buffer, std::size_t length, int* err) {
    // Linux has no per-socket switch for SIGPIPE: a peer gone must not kill the process.
    const ssize_t r = ::send(ioFD(), buffer, length, MSG_NOSIGNAL);
    if (r < 0 && err) *err = errno;
    return static_cast<long>(r);
}

// ---- The write machine ----

void DispatchTcpSocket::maybeDequeueWrite() {
    assertOnSocketQueue(__LINE__);
    if (currentWrite_ || currentWriteTLS_ || !(flags_ & kConnected)) return;
    if (!writeQueue_.empty()) {
        QueuedWrite next = std::move(writeQueue_.front());
        writeQueue_.pop_front();
        if (next.tls) {
            currentWriteTLS_ = std::move(next.tls);
            flags_ |= kWriteSideAtTLS;
            maybeStartTLS();
        } else {
            currentWrite_ = std::move(next.write);
            setupWriteTimerWithTimeout(currentWrite_->timeout);
            doWriteData();
        }
        return;
    }
    releaseDrainHold();
    if (flags_ & kCloseWhenWritesDone) {
        if (!(flags_ & kCloseWhenReadsDone) ||
            (readQueue_.empty() && !currentRead_ && !currentReadTLS_)) {
            closeWithError(std::nullopt);
        }
    }
}

void DispatchTcpSocket::doWriteData() {
    if (tlsTakesWriteEvent()) return;
    if (!currentWrite_ || (flags_ & kWriteHeldForTimeout)) {
        if (flags_ & kWritable) suspendWriteSource();
        return;
    }
    if (!(flags_ & kWritable)) {
        resumeWriteSource();
        return;
    }
    if (!(flags_ & kSecure)) {
        doPlainWrites();
        return;
    }
    auto packet = currentWrite_;
    auto& p = *packet;
    bool waiting = false;
    std::optional<foundation::Error> error;
    const std::uint64_t written = sslWritePass(p, &waiting, &error);
    p.bytesDone += written;
    bytesWritten_ += written;
    if (p.bytesDone == p.buffer.size()) {
        completeCurrentWrite();
        socketQueue_.queue()->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) self->maybeDequeueWrite();
        });
        return;
    }
    if (!waiting && !error) {
        flags_ &= ~kWritable;
        resumeWriteSource();
    }
    if (written > 0) {
        notify(Delegate::didWritePartialData,
               [n = written, tag = p.tag](Delegate& d, const auto& s) {
                   d.socketDidWritePartialDataOfLength(s, n, tag);
               });
    }
    if (error) closeWithError(*error);
}

void DispatchTcpSocket::doPlainWrites() {
    // The current write and the plain writes queued behind it go out in one call: a stream of
    // small writes costs one system call and one wake-up per batch, not per write.
    iovec pieces[kMaxWriteBatch];
    for (;;) {
        std::size_t count = 0;
        std::uint64_t asked = 0;
        auto add = [&](const DispatchTcpWritePacket& w) {
            pieces[count].iov_base = const_cast<std::uint8_t*>(w.buffer.data() + w.bytesDone);
            pieces[count].iov_len = w.buffer.size() - w.bytesDone;
            asked += pieces[count].iov_len;
            ++count;
        };
        add(*currentWrite_);
        for (const auto& next : writeQueue_) {
            if (!next.write || count == kMaxWriteBatch || asked >= kMaxWriteBatchBytes) break;
            add(*next.write);
        }
        msghdr message{};
        message.msg_iov = pieces;
        message.msg_iovlen = count;
        const ssize_t r = ::sendmsg(ioFD(), &message, MSG_NOSIGNAL);
        if (r < 0) {
            const int err = errno;
            if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) {
                flags_ &= ~kWritable;
                resumeWriteSource();
                return;
            }
            closeWithError(errnoError(err, "Error in write() function"));
            return;
        }
        auto left = static_cast<std::uint64_t>(r);
        bytesWritten_ += left;
        // Hand the bytes to the writes in order; each one they finish completes, and the next
        // plain write in the queue becomes current.
        bool promoted = false;
        for (;;) {
            auto& p = *currentWrite_;
            const std::uint64_t take = std::min<std::uint64_t>(left, p.buffer.size() - p.bytesDone);
            p.bytesDone += take;
            left -= take;
            if (p.bytesDone < p.buffer.size()) {
                // A write that became current in this pass and stays unfinished starts its timer.
                if (promoted) setupWriteTimerWithTimeout(p.timeout);
                if (take > 0) {
                    notify(Delegate::didWritePartialData,
                           [n = take, tag = p.tag](Delegate& d, const auto& s) {
                               d.socketDidWritePartialDataOfLength(s, n, tag);
                           });
                }
                break;
            }
            completeCurrentWrite();
            if (writeQueue_.empty() || !writeQueue_.front().write) break;
            currentWrite_ = std::move(writeQueue_.front().write);
            writeQueue_.pop_front();
            promoted = true;
            if (left == 0) {
                setupWriteTimerWithTimeout(currentWrite_->timeout);
                break;
            }
        }
        if (!currentWrite_) {
            // Queue empty or a TLS start next: that, or a draining close, is decided there.
            maybeDequeueWrite();
            return;
        }
        if (static_cast<std::uint64_t>(r) < asked) {
            // The kernel took what it had room for: wait until it has more.
            flags_ &= ~kWritable;
            resumeWriteSource();
            return;
        }
    }
}

void DispatchTcpSocket::completeCurrentWrite() {
    if (!currentWrite_) {
        assertionFailure("Trying to complete current write when there is no current write.",
                         __LINE__);
        return;
    }
    notify(Delegate::didWriteData, [tag = currentWrite_->tag](Delegate& d, const auto& socket) {
        d.socketDidWriteDataWithTag(socket, tag);
    });
    endCurrentWrite();
}

void DispatchTcpSocket::endCurrentWrite() {
    if (writeTimer_) {
        writeTimer_->cancel();
        writeTimer_.reset();
    }
    currentWrite_.reset();
    currentWriteTLS_.reset();
}

// ---- Time-outs ----

void DispatchTcpSocket::setupWriteTimerWithTimeout(double timeout) {
    const auto wait = timeoutDuration(timeout);
    if (!wait) return;
    writeTimer_ = dispatch::Source::createTimer(socketQueue_.queue());
    writeTimer_->setEventHandler([weak = weak_from_this()] {
        if (auto self = weak.lock()) self->doWriteTimeout();
    });
    writeTimer_->scheduleAfter(*wait);
    writeTimer_->resume();
}

void DispatchTcpSocket::doWriteTimeout() {
    auto packet = currentWrite_;
    if (!packet) return;
    flags_ |= kWriteHeldForTimeout;
    const std::int64_t index = stateIndex_;
    auto delegate = delegate_.lock();
    if (!delegate || !delegateQueue_ || !delegate->respondsTo(Delegate::shouldTimeoutWrite)) {
        doWriteTimeoutWithExtension(0, packet, index);
        return;
    }
    // Tagged like the read side: a stale answer must not end a newer write or connection.
    delegateQueue_->async([delegate, self = shared_from_this(), weakPacket = std::weak_ptr(packet),
                           index, tag = packet->tag, elapsed = packet->timeout,
                           done = packet->bytesDone] {
        const double extension =
            delegate->socketShouldTimeoutWriteWithTag(self, tag, elapsed, done);
        self->socketQueue_.queue()->async(
            [weak = std::weak_ptr(self), weakPacket, index, extension] {
                auto s = weak.lock();
                auto p = weakPacket.lock();
                if (s && p) s->doWriteTimeoutWithExtension(extension, p, index);
            });
    });
}

void DispatchTcpSocket::doWriteTimeoutWithExtension(
    double extension, const std::shared_ptr<DispatchTcpWritePacket>& packet, std::int64_t index) {
    if (!currentWrite_ || currentWrite_ != packet || index != stateIndex_) return;
    if (extension > 0) {
        currentWrite_->timeout += extension;
        if (auto wait = timeoutDuration(extension); wait && writeTimer_) {
            writeTimer_->scheduleAfter(*wait);
        }
        flags_ &= ~kWriteHeldForTimeout;
        doWriteData();
    } else {
        closeWithError(writeTimeoutError());
    }
}

}  // namespace rozuri
