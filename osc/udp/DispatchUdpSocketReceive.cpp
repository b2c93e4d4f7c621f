#include "osc/udp/DispatchUdpSocket.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "osc/udp/DispatchUdpSocketInternal.h"
#include "platform/dispatch/PostBatch.h"

namespace rozuri {

using namespace udp_detail;

// ---- Receiving ----

bool DispatchUdpSocket::receiveOnce(foundation::Error* error) {
    return startReceiving(kReceivingOnce, error);
}

bool DispatchUdpSocket::beginReceiving(foundation::Error* error) {
    return startReceiving(kReceivingContinuously, error);
}

bool DispatchUdpSocket::startReceiving(std::uint32_t mode, foundation::Error* error) {
    return resultOnSocketQueue([&]() -> bool {
        if (flags_ & mode) return true;
        if (!(flags_ & kSocketsCreated)) {
            foundation::setError(
                error, badConfigError("Must bind socket before you can receive data. You can do "
                                      "this explicitly via bind, or implicitly via connect or by "
                                      "sending data."));
            return false;
        }
        // Once and continuously exclude each other.
        flags_ &= ~(kReceivingOnce | kReceivingContinuously);
        flags_ |= mode;
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
    socketQueue_.queue()->async([weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->receiveScheduled_ = false;
            self->doReceive();
        }
    });
}

void DispatchUdpSocket::suspendReceive4Source() {
    setSuspended(receive4Source_, flags_, kReceive4SourceSuspended, true);
}

void DispatchUdpSocket::suspendReceive6Source() {
    setSuspended(receive6Source_, flags_, kReceive6SourceSuspended, true);
}

void DispatchUdpSocket::resumeReceive4Source() {
    setSuspended(receive4Source_, flags_, kReceive4SourceSuspended, false);
}

void DispatchUdpSocket::resumeReceive6Source() {
    setSuspended(receive6Source_, flags_, kReceive6SourceSuspended, false);
}

void DispatchUdpSocket::doReceive() {
    gatherReceives_ = true;
    receiveTurn();
    flushReceives();
}

void DispatchUdpSocket::flushReceives() {
    gatherReceives_ = false;
    if (gatheredReceives_.empty()) return;
    if (delegateQueue_) {
        dispatch::PostBatch::postAll(delegateQueue_, std::move(gatheredReceives_));
    }
    gatheredReceives_.clear();
}

DispatchUdpSocket::ReadAhead& DispatchUdpSocket::readAhead(bool ipv4) {
    return ipv4 ? *readAhead4_ : *readAhead6_;
}

bool DispatchUdpSocket::hasDataToRead(bool ipv4) const {
    return ipv4 ? socket4FDBytesAvailable_ > 0 || !readAhead4_->empty()
                : socket6FDBytesAvailable_ > 0 || !readAhead6_->empty();
}

void DispatchUdpSocket::receiveTurn() {
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
        if (hasDataToRead(true) && (flags_ & kSocketConnected)) {
            if (hasDataToRead(false) && socket4FD_ != -1 && socket6FD_ != -1) {
                assertionFailure("Invalid logic", __LINE__);
            }
            readIPv4 = socket4FD_ != -1;
        } else if (hasDataToRead(true)) {
            if (!hasDataToRead(false)) {
                readIPv4 = true;
            } else {
                readIPv4 = (flags_ & kIPv4Turn) != 0;
                flags_ ^= kIPv4Turn;
            }
        } else if (hasDataToRead(false)) {
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
    const std::size_t size = std::max<std::size_t>(
        ipv4 ? max4ReceiveSize_ : std::min<std::uint32_t>(max6ReceiveSize_, kLargestDatagram), 1);
    ReadAhead& ahead = readAhead(ipv4);
    if (ahead.empty()) {
        if (ahead.slotSize != size) {
            ahead.slotSize = size;
            ahead.buffer.assign(size * kReadAheadSlots, 0);
            ahead.vectors.resize(kReadAheadSlots);
            ahead.senders.resize(kReadAheadSlots);
            ahead.headers.resize(kReadAheadSlots);
        }
        for (int i = 0; i < kReadAheadSlots; ++i) {
            ahead.vectors[i] = {ahead.buffer.data() + i * size, size};
            ahead.headers[i] = {};
            ahead.headers[i].msg_hdr.msg_iov = &ahead.vectors[i];
            ahead.headers[i].msg_hdr.msg_iovlen = 1;
            ahead.headers[i].msg_hdr.msg_name = &ahead.senders[i];
            ahead.headers[i].msg_hdr.msg_namelen =
                ipv4 ? sizeof(sockaddr_in) : sizeof(sockaddr_in6);
        }
        // A burst is taken in one call; the datagrams are then handled one by one as before.
        const int n = ::recvmmsg(fd, ahead.headers.data(), kReadAheadSlots, 0, nullptr);
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
        ahead.count = n;
        ahead.next = 0;
        if (n == 0) return ReadResult::skipped;
    }
    const int slot = ahead.next++;
    const std::size_t n = ahead.headers[slot].msg_len;
    if (n == 0) return ReadResult::empty;

    const auto* bytes = ahead.buffer.data() + slot * ahead.slotSize;
    Data data(bytes, bytes + n);
    Data address = bytesOf(
        &ahead.senders[slot],
        std::min<std::size_t>(ahead.headers[slot].msg_hdr.msg_namelen, sizeof(sockaddr_storage)));
    // A sender heard as a mapped address is reported as the IPv4 address it is.
    if (!ipv4 && net::isIPv4MappedAddress(address)) address = net::unmappedAddress(address);

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
                self->socketQueue_.queue()->async([weak, keep, generation, data = std::move(data),
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
    dispatch::Work delivery = [delegate = std::move(delegate), self = weak_from_this().lock(),
                               data = std::move(data), address = std::move(address),
                               context = std::move(context)]() mutable {
        delegate->udpSocketDidReceiveData(self, std::move(data), address, context);
    };
    if (gatherReceives_) {
        gatheredReceives_.push_back(std::move(delivery));
    } else {
        delegateQueue_->async(std::move(delivery));
    }
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

}  // namespace rozuri
