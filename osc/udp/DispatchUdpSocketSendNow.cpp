#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>

#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/DispatchUdpSocketInternal.h"

namespace rozuri {

using namespace udp_detail;

// Sending from the caller's thread. A hop to the socket queue costs a worker wake-up per
// datagram; when nothing waits there (no datagram, connect or configuration change handed over
// before, no send filter, not connected or closing) the caller sends itself, under the gate's
// mutex, and posts the answer to the delegate queue as the socket queue would have. The socket
// queue publishes what such a send needs to the gate after every change and counts what it has
// been handed, so a direct send never overtakes it; it shuts the gate before a descriptor closes.
// The same count bounds the backlog: a sender that finds it full waits until it has drained.

bool DispatchUdpSocket::sendNow(const Data& data, const SendDestination& destination,
                                double timeout, std::int64_t tag, bool* expired) {
    SendGate& gate = *sendGate_;
    std::unique_lock lock(gate.mutex);
    if (!gate.created && gate.ahead == 0) {
        // The first send of an opening creates the sockets, once, on the socket queue; after
        // that the sends do not queue behind one another.
        lock.unlock();
        resultOnSocketQueue([this] {
            if ((flags_ & kSocketsCreated) || currentSend_ || !sendQueue_.empty()) return;
            foundation::Error error;
            // A failure is met and reported again by the queued send.
            createSockets(&error);
        });
        lock.lock();
    }
    *expired = !waitForRoom(lock, data.size(), timeout);
    // Anything the choice or the send itself refuses is left to the socket queue, which reports
    // it as it always does.
    auto queueIt = [&] {
        ++gate.ahead;
        gate.aheadBytes += data.size();
        return false;
    };
    if (*expired || !gate.open || gate.ahead != 0) return queueIt();
    const int family = chooseFamily(destination.has4, destination.has6, destination.firstFamily,
                                    gate.rules, nullptr);
    const int fd = family == AF_INET ? gate.fd4 : family == AF_INET6 ? gate.fd6 : -1;
    if (fd == -1) return queueIt();
    const auto* to = family == AF_INET ? reinterpret_cast<const sockaddr*>(&destination.address4)
                                       : reinterpret_cast<const sockaddr*>(&destination.address6);
    const socklen_t length =
        family == AF_INET ? sizeof destination.address4 : sizeof destination.address6;
    ssize_t result = -1;
    int err = 0;
    do {
        result = ::sendto(fd, data.data(), data.size(), MSG_NOSIGNAL, to, length);
        err = result < 0 ? errno : 0;
    } while (result < 0 && err == EINTR);
    if (result < 0 && (err == EAGAIN || err == EWOULDBLOCK)) {
        // The socket queue waits for room, with the time-out.
        return queueIt();
    }
    if (!gate.bound) {
        // A first send binds the socket to an ephemeral port, as one from the socket queue.
        gate.bound = true;
        socketQueue_.queue()->async([self = shared_from_this(), generation = gate.generation] {
            if (self->openGeneration_ == generation && (self->flags_ & kSocketsCreated)) {
                self->flags_ |= kSocketBound;
            }
        });
    }
    std::optional<foundation::Error> error;
    if (result < 0) error = errnoError(err, kSendReason);
    if (result < 0 && closesSocket(err)) {
        // As from the socket queue: the datagram is answered by the close, which follows it
        // before anything else may go.
        postSendAnswer(gate.delegate.lock(), gate.delegateQueue, tag, socketClosedError());
        ++gate.ahead;
        socketQueue_.queue()->async(
            [self = shared_from_this(), generation = gate.generation, error = *error] {
                if (self->openGeneration_ == generation) self->closeWithError(error);
                self->refreshSendGate(1);
            });
        return true;
    }
    // Posted under the mutex: the socket queue's next answer cannot be posted before it.
    postSendAnswer(gate.delegate.lock(), gate.delegateQueue, tag, std::move(error));
    return true;
}

// ---- The backlog's bound ----

bool DispatchUdpSocket::waitForRoom(std::unique_lock<std::mutex>& lock, std::size_t size,
                                    double timeout) const {
    SendGate& gate = *sendGate_;
    if (!gate.full(size)) return true;
    // The socket queue drains the backlog, and waits for a synchronous filter's queue: a
    // sender on either would wait for itself.
    const auto isCurrent = [](const std::shared_ptr<dispatch::Queue>& queue) {
        return queue && queue->isCurrent();
    };
    if (socketQueue_.isCurrent() || isCurrent(gate.syncSendFilterQueue) ||
        isCurrent(gate.syncReceiveFilterQueue)) {
        return true;
    }
    const auto nanos = sendTimeoutNanoseconds(timeout);
    const auto deadline = nanos
                              ? std::chrono::steady_clock::now() + std::chrono::nanoseconds(*nanos)
                              : std::chrono::steady_clock::time_point::max();
    ++gate.waiting;
    bool room = true;
    while (!gate.hasRoom()) {
        if (!nanos) {
            gate.room.wait(lock);
        } else if (gate.room.wait_until(lock, deadline) == std::cv_status::timeout) {
            room = gate.hasRoom();
            break;
        }
    }
    --gate.waiting;
    return room;
}

bool DispatchUdpSocket::admitDatagram(std::size_t size, double timeout) const {
    SendGate& gate = *sendGate_;
    std::unique_lock lock(gate.mutex);
    const bool room = waitForRoom(lock, size, timeout);
    ++gate.ahead;
    gate.aheadBytes += size;
    return room;
}

// ---- The socket queue's side ----

void DispatchUdpSocket::refreshSendGate(std::size_t answered, std::size_t answeredBytes) const {
    SendGate& gate = *sendGate_;
    std::lock_guard lock(gate.mutex);
    gate.ahead -= std::min(answered, gate.ahead);
    gate.aheadBytes -= std::min(answeredBytes, gate.aheadBytes);
    if (gate.waiting != 0 && gate.hasRoom()) gate.room.notify_all();
    gate.created = (flags_ & kSocketsCreated) != 0;
    gate.bound = (flags_ & kSocketBound) != 0;
    gate.open = gate.created &&
                !(flags_ & (kConnectPending | kSocketConnected | kCloseAfterSends)) &&
                !sendFilterBlock_;
    gate.fd4 = socket4FD_;
    gate.fd6 = socket6FD_;
    gate.rules = destinationRules();
    gate.delegate = delegate_;
    gate.delegateQueue = delegateQueue_;
    gate.generation = openGeneration_;
    gate.syncSendFilterQueue = sendFilterBlock_ && !sendFilterAsync_ ? sendFilterQueue_ : nullptr;
    gate.syncReceiveFilterQueue =
        receiveFilterBlock_ && !receiveFilterAsync_ ? receiveFilterQueue_ : nullptr;
}

void DispatchUdpSocket::shutSendGate() const {
    SendGate& gate = *sendGate_;
    // Waits for a direct send in progress: the descriptor it uses is closed only after this.
    std::lock_guard lock(gate.mutex);
    gate.open = gate.created = false;
    gate.fd4 = gate.fd6 = -1;
}

void DispatchUdpSocket::countAhead() const {
    std::lock_guard lock(sendGate_->mutex);
    ++sendGate_->ahead;
}

}  // namespace rozuri
