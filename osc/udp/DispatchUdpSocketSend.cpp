#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/DispatchUdpSocketInternal.h"

namespace rozuri {

using namespace udp_detail;

// ---- Handing over ----

void DispatchUdpSocket::sendData(Data data, std::int64_t tag) {
    sendData(std::move(data), -1.0, tag);
}

void DispatchUdpSocket::sendData(Data data, double timeout, std::int64_t tag) {
    if (data.empty()) return;
    auto packet = DispatchUdpSendPacket::create(data, timeout, tag);
    packet->expired = !admitDatagram(data.size(), timeout);
    queueSend(std::move(packet), true);
}

void DispatchUdpSocket::sendData(Data data, const std::string& host, std::uint16_t port,
                                 double timeout, std::int64_t tag) {
    if (data.empty()) return;
    SendDestination known;
    const bool numeric = known.setNumericHost(host, port);
    bool expired = false;
    if (numeric) {
        if (sendNow(data, known, timeout, tag, &expired)) return;
    } else {
        expired = !admitDatagram(data.size(), timeout);
    }
    auto packet = DispatchUdpSendPacket::create(data, timeout, tag);
    packet->expired = expired;
    packet->hasHost = true;
    if (numeric) {
        packet->known = known;
        queueSend(std::move(packet), true);
        return;
    }
    packet->lookup = std::make_unique<DispatchUdpSendPacket::Lookup>();
    if (host.empty()) {
        packet->lookup->error = badParamError(kNilHost);
    } else if (auto scoped = net::numericHostAddresses(host, port)) {
        // A scoped IPv6 address: no resolver and no extra hop either.
        packet->lookup->addresses = std::move(*scoped);
    } else if (!net::isPlausibleHostName(host)) {
        packet->lookup->error = gaiError(EAI_NONAME);
    } else {
        packet->resolveInProgress = true;
        dispatch::Queue::global()->async([weak = weak_from_this(), packet, host, port] {
            foundation::Error error;
            auto addresses = net::resolveHost(host, port, SOCK_DGRAM, &error);
            auto self = weak.lock();
            if (!self) return;
            self->socketQueue_.queue()->async([weak, packet, addresses = std::move(addresses),
                                               error = std::move(error)]() mutable {
                auto self = weak.lock();
                if (!self) return;
                packet->resolveInProgress = false;
                packet->lookup->addresses = std::move(addresses);
                if (packet->lookup->addresses.empty()) packet->lookup->error = std::move(error);
                if (self->currentSend_ == packet) self->doPreSend();
            });
        });
    }
    queueSend(std::move(packet), true);
}

void DispatchUdpSocket::sendData(Data data, const Data& address, double timeout, std::int64_t tag) {
    if (data.empty()) return;
    SendDestination known;
    known.setAddress(address);
    bool expired = false;
    if (known.has4 || known.has6) {
        if (sendNow(data, known, timeout, tag, &expired)) return;
    } else {
        // Refused by the socket queue, in its turn.
        expired = !admitDatagram(data.size(), timeout);
    }
    auto packet = DispatchUdpSendPacket::create(data, timeout, tag);
    packet->expired = expired;
    packet->known = known;
    queueSend(std::move(packet), true);
}

void DispatchUdpSocket::queueSend(std::shared_ptr<DispatchUdpSendPacket> packet, bool counted) {
    if (!counted) countAhead();
    // Queued behind what waits, even from the socket queue. The socket stays alive until its
    // packet is in the queue, so a release right after the hand-over cannot lose it unreported.
    socketQueue_.queue()->async([self = shared_from_this(), packet = std::move(packet)]() mutable {
        self->sendQueue_.push_back(std::move(packet));
        self->maybeDequeueSend();
    });
}

void DispatchUdpSocket::setSendFilter(SendFilter filter,
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
            sendFilterBlock_ = filter;
            sendFilterQueue_ = filterQueue;
            sendFilterAsync_ = isAsynchronous;
        });
}

// ---- The send queue ----

void DispatchUdpSocket::maybeDequeueSend() {
    if (!isOnSocketQueue()) assertionFailure("Must be dispatched on socketQueue", __LINE__);
    // Packets that finish at once call back here; the loop below takes the next one instead,
    // so a long queue does not nest a call per packet.
    if (currentSend_ || dequeueing_) return;
    if (!(flags_ & kSocketsCreated)) {
        foundation::Error error;
        if (!createSockets(&error)) {
            closeWithError(error);
            return;
        }
    }
    dequeueing_ = true;
    while (!currentSend_ && !sendQueue_.empty()) {
        currentSend_ = std::move(sendQueue_.front());
        sendQueue_.pop_front();
        if (dynamic_cast<DispatchUdpSpecialPacket*>(currentSend_.get())) {
            maybeConnect();
        } else {
            doPreSend();
        }
    }
    dequeueing_ = false;
    if (!currentSend_ && sendQueue_.empty() && (flags_ & kCloseAfterSends)) {
        closeWithError(std::nullopt);
    }
}

DispatchUdpSocket::DestinationRules DispatchUdpSocket::destinationRules() const {
    DestinationRules rules;
    rules.ipv4Disabled = (config_ & kIPv4Disabled) != 0;
    rules.ipv6Disabled = (config_ & kIPv6Disabled) != 0;
    rules.ipv4Unusable = socket4FD_ == -1 || (flags_ & kIPv4Inactive);
    rules.ipv6Unusable = socket6FD_ == -1 || (flags_ & kIPv6Inactive);
    rules.preferIPv4 = (config_ & kPreferIPv4) != 0;
    rules.preferIPv6 = (config_ & kPreferIPv6) != 0;
    return rules;
}

namespace {

Data candidateBytes(const SendDestination& known) {
    return known.has4 ? bytesOf(&known.address4, sizeof known.address4)
                      : bytesOf(&known.address6, sizeof known.address6);
}

}  // namespace

bool DispatchUdpSocket::isPeerAddress(const Data& address) const {
    maybeUpdateCachedConnectedAddressInfo();
    if (!cachedConnectedAddress_) return false;
    std::string host;
    std::uint16_t port = 0;
    int family = 0;
    if (!getHost(&host, &port, &family, net::unmappedAddress(address))) return false;
    return family == cachedConnectedFamily_ && port == cachedConnectedPort_ &&
           cachedConnectedHost_ && host == *cachedConnectedHost_;
}

void DispatchUdpSocket::doPreSend() {
    auto packet = std::static_pointer_cast<DispatchUdpSendPacket>(currentSend_);
    if (packet->expired) {
        failCurrentSend(sendTimeoutError());
        return;
    }
    // A lookup that failed before the packet's turn is its answer, connected or not.
    if (packet->lookup && packet->lookup->error) {
        failCurrentSend(*packet->lookup->error);
        return;
    }
    if (flags_ & kSocketConnected) {
        // An explicit destination must be the peer's: the datagram would otherwise go where
        // the caller did not ask.
        if (packet->hasHost || (packet->known && !isPeerAddress(candidateBytes(*packet->known)))) {
            failCurrentSend(
                badConfigError("Cannot specify destination of packet for connected socket"));
            return;
        }
        if (cachedConnectedAddress_) packet->setAddress(*cachedConnectedAddress_);
        packet->addressFamily = cachedConnectedFamily_;
    } else {
        if (packet->resolveInProgress) {
            // The lookup's answer calls back here; no write event is wanted meanwhile.
            if (flags_ & kSocket4Writable) suspendSend4Source();
            if (flags_ & kSocket6Writable) suspendSend6Source();
            armDrainTimer();
            return;
        }
        // A given address passes the same checks: its family must have a usable socket.
        foundation::Error error;
        if (packet->known) {
            const auto& known = *packet->known;
            const int family =
                chooseFamily(known.has4, known.has6, known.firstFamily, destinationRules(), &error);
            if (!family) {
                failCurrentSend(error);
                return;
            }
            packet->setAddress(known, family);
        } else if (packet->lookup && !packet->lookup->addresses.empty()) {
            Data chosen;
            if (!chooseDestination(packet->lookup->addresses, destinationRules(), &chosen,
                                   &error)) {
                failCurrentSend(error);
                return;
            }
            packet->setAddress(chosen);
            packet->lookup.reset();
        } else {
            failCurrentSend(badConfigError(
                "You must specify destination of packet for a non-connected socket"));
            return;
        }
    }

    if (sendFilterBlock_ && sendFilterQueue_) {
        auto filter = sendFilterBlock_;
        if (sendFilterAsync_) {
            packet->filterInProgress = true;
            sendFilterQueue_->async([weak = weak_from_this(), packet, filter = std::move(filter)] {
                const bool send = filter(packet->bytes(), packet->addressBytes(), packet->tag);
                auto self = weak.lock();
                if (!self) return;
                self->socketQueue_.queue()->async([weak, packet, send] {
                    auto self = weak.lock();
                    if (!self) return;
                    packet->filterInProgress = false;
                    if (self->currentSend_ == packet) self->sendFilterAnswered(packet, send);
                });
            });
            return;
        }
        bool send = true;
        if (sendFilterQueue_->isCurrent()) {
            send = filter(packet->bytes(), packet->addressBytes(), packet->tag);
        } else {
            sendFilterQueue_->sync(
                [&] { send = filter(packet->bytes(), packet->addressBytes(), packet->tag); });
        }
        sendFilterAnswered(packet, send);
        return;
    }
    doSend();
}

void DispatchUdpSocket::sendFilterAnswered(const std::shared_ptr<DispatchUdpSendPacket>& packet,
                                           bool send) {
    if (send) {
        doSend();
        return;
    }
    // A filtered datagram counts as sent.
    notifyDidSendDataWithTag(packet->tag);
    endCurrentSend();
    maybeDequeueSend();
}

void DispatchUdpSocket::failCurrentSend(const foundation::Error& error) {
    const auto tag = static_cast<DispatchUdpSendPacket*>(currentSend_.get())->tag;
    notifyDidNotSendDataWithTag(tag, error);
    endCurrentSend();
    maybeDequeueSend();
}

void DispatchUdpSocket::doSend() {
    auto* packet = dynamic_cast<DispatchUdpSendPacket*>(currentSend_.get());
    if (!packet) {
        assertionFailure("Invalid logic", __LINE__);
        return;
    }
    const bool ipv4 = packet->addressFamily == AF_INET;
    const int fd = ipv4 ? socket4FD_ : socket6FD_;
    ssize_t result = -1;
    int err = EBADF;
    if (fd != -1) {
        if (flags_ & kSocketConnected) {
            result = ::send(fd, packet->data(), packet->size(), MSG_NOSIGNAL);
        } else {
            result = ::sendto(fd, packet->data(), packet->size(), MSG_NOSIGNAL, packet->address(),
                              packet->addressLength());
        }
        err = errno;
    }
    // A first send binds the socket to an ephemeral port.
    flags_ |= kSocketBound;

    if (result >= 0) {
        notifyDidSendDataWithTag(packet->tag);
        endCurrentSend();
        maybeDequeueSend();
        return;
    }
    if (err == EAGAIN || err == EWOULDBLOCK || err == EINTR) {
        // Wait for this socket's write event; the time-out, if any, runs from the first wait.
        if (ipv4) {
            flags_ &= ~kSocket4Writable;
            resumeSend4Source();
        } else {
            flags_ &= ~kSocket6Writable;
            resumeSend6Source();
        }
        if (!sendTimer_) {
            if (auto nanos = sendTimeoutNanoseconds(packet->timeout)) setupSendTimer(*nanos);
        }
        return;
    }
    if (fd != -1 && closesSocket(err)) {
        closeWithError(errnoError(err, kSendReason));
        return;
    }
    failCurrentSend(errnoError(err, kSendReason));
}

void DispatchUdpSocket::writeEvent(bool ipv4) {
    flags_ |= ipv4 ? kSocket4Writable : kSocket6Writable;
    auto* packet = dynamic_cast<DispatchUdpSendPacket*>(currentSend_.get());
    if (packet && !packet->resolveInProgress && !packet->filterInProgress &&
        packet->addressFamily == (ipv4 ? AF_INET : AF_INET6)) {
        doSend();
        return;
    }
    if (ipv4) {
        suspendSend4Source();
    } else {
        suspendSend6Source();
    }
}

void DispatchUdpSocket::setupSendTimer(std::int64_t nanoseconds) {
    if (sendTimer_) {
        assertionFailure("Invalid logic", __LINE__);
        return;
    }
    sendTimer_ = dispatch::Source::createTimer(socketQueue_.queue());
    // Cancelled on the socket queue before the socket goes: `this` is alive when it fires.
    sendTimer_->setEventHandler([this] { doSendTimeout(); });
    sendTimer_->scheduleAfter(std::chrono::nanoseconds(nanoseconds));
    sendTimer_->resume();
}

void DispatchUdpSocket::armDrainTimer() {
    // While draining for a close, a lookup is timed too: a slow resolver must not hold the
    // socket open for longer than the datagram's time-out.
    auto* packet = dynamic_cast<DispatchUdpSendPacket*>(currentSend_.get());
    if (!(flags_ & kCloseAfterSends) || !packet || !packet->resolveInProgress || sendTimer_) {
        return;
    }
    if (auto nanos = sendTimeoutNanoseconds(packet->timeout)) setupSendTimer(*nanos);
}

void DispatchUdpSocket::doSendTimeout() {
    if (!dynamic_cast<DispatchUdpSendPacket*>(currentSend_.get())) return;
    failCurrentSend(sendTimeoutError());
}

void DispatchUdpSocket::endCurrentSend() {
    if (sendTimer_) {
        sendTimer_->cancel();
        sendTimer_.reset();
    }
    // Its answer is posted by now: direct sends may follow it.
    if (currentSend_) {
        const auto* packet = dynamic_cast<const DispatchUdpSendPacket*>(currentSend_.get());
        const std::size_t size = packet ? packet->size() : 0;
        currentSend_.reset();
        refreshSendGate(1, size);
    }
}

// ---- Write sources ----

void DispatchUdpSocket::setupSendSource4() {
    send4Source_ = dispatch::Source::createWrite(socket4FD_, socketQueue_.queue());
    send4Source_->setEventHandler([this] { writeEvent(true); });
    flags_ |= kSend4SourceSuspended;
}

void DispatchUdpSocket::setupSendSource6() {
    send6Source_ = dispatch::Source::createWrite(socket6FD_, socketQueue_.queue());
    send6Source_->setEventHandler([this] { writeEvent(false); });
    flags_ |= kSend6SourceSuspended;
}

void DispatchUdpSocket::suspendSend4Source() {
    setSuspended(send4Source_, flags_, kSend4SourceSuspended, true);
}

void DispatchUdpSocket::suspendSend6Source() {
    setSuspended(send6Source_, flags_, kSend6SourceSuspended, true);
}

void DispatchUdpSocket::resumeSend4Source() {
    setSuspended(send4Source_, flags_, kSend4SourceSuspended, false);
}

void DispatchUdpSocket::resumeSend6Source() {
    setSuspended(send6Source_, flags_, kSend6SourceSuspended, false);
}

// ---- Posting callbacks ----

void DispatchUdpSocket::notifyDidSendDataWithTag(std::int64_t tag) {
    postSendAnswer(delegate_.lock(), delegateQueue_, tag, std::nullopt);
}

void DispatchUdpSocket::notifyDidNotSendDataWithTag(std::int64_t tag, foundation::Error error) {
    postSendAnswer(delegate_.lock(), delegateQueue_, tag, std::move(error));
}

void DispatchUdpSocket::postSendAnswer(const std::shared_ptr<DispatchUdpSocketDelegate>& delegate,
                                       const std::shared_ptr<dispatch::Queue>& delegateQueue,
                                       std::int64_t tag, std::optional<foundation::Error> error) {
    if (!delegate || !delegateQueue) return;
    if (!error) {
        if (!delegate->respondsTo(DispatchUdpSocketDelegate::didSendDataWithTag)) return;
        delegateQueue->async([delegate, self = weak_from_this().lock(), tag] {
            delegate->udpSocketDidSendDataWithTag(self, tag);
        });
        return;
    }
    if (!delegate->respondsTo(DispatchUdpSocketDelegate::didNotSendDataWithTag)) return;
    delegateQueue->async(
        [delegate, self = weak_from_this().lock(), tag, error = std::move(*error)] {
            delegate->udpSocketDidNotSendDataWithTag(self, tag, error);
        });
}

}  // namespace rozuri
