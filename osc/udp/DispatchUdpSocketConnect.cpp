#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <utility>

#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/DispatchUdpSocketInternal.h"

namespace rozuri {

using namespace udp_detail;

// ---- Connecting ----

bool DispatchUdpSocket::preConnect(foundation::Error* error) const {
    if (!preOp(error)) return false;
    if (flags_ & (kConnectPending | kSocketConnected)) {
        foundation::setError(error, badConfigError("Cannot connect a socket more than once."));
        return false;
    }
    if ((config_ & kIPv4Disabled) && (config_ & kIPv6Disabled)) {
        foundation::setError(error, badConfigError("Both IPv4 and IPv6 have been disabled. Must "
                                                   "enable at least one protocol first."));
        return false;
    }
    return true;
}

bool DispatchUdpSocket::connectToHost(const std::string& host, std::uint16_t port,
                                      foundation::Error* error) {
    return resultOnSocketQueue([&]() -> bool {
        if (!preConnect(error)) return false;
        if (host.empty()) {
            foundation::setError(error, badParamError(kNilHost));
            return false;
        }
        auto packet = std::make_shared<DispatchUdpSpecialPacket>();
        if (auto numeric = net::numericHostAddresses(host, port)) {
            packet->addresses = std::move(*numeric);
        } else if (!net::isPlausibleHostName(host)) {
            packet->error = gaiError(EAI_NONAME);
        } else {
            packet->resolveInProgress = true;
            dispatch::Queue::global()->async([weak = weak_from_this(), packet, host, port] {
                foundation::Error lookupError;
                auto addresses = net::resolveHost(host, port, SOCK_DGRAM, &lookupError);
                auto self = weak.lock();
                if (!self) return;
                self->socketQueue_.queue()->async([weak, packet, addresses = std::move(addresses),
                                                   lookupError = std::move(lookupError)]() mutable {
                    auto self = weak.lock();
                    if (!self) return;
                    packet->resolveInProgress = false;
                    packet->addresses = std::move(addresses);
                    if (packet->addresses.empty()) packet->error = std::move(lookupError);
                    if (self->currentSend_ == packet) self->maybeConnect();
                });
            });
        }
        return queueConnect(std::move(packet), error);
    });
}

bool DispatchUdpSocket::connectToAddress(const Data& address, foundation::Error* error) {
    return resultOnSocketQueue([&]() -> bool {
        if (!preConnect(error)) return false;
        if (address.empty()) {
            foundation::setError(
                error, badParamError("The address param is nil. Should be a valid address."));
            return false;
        }
        // Checked here, so that a malformed buffer never reaches the send queue.
        if (!familyFromAddress(address)) {
            foundation::setError(error, badParamError(kInvalidAddress));
            return false;
        }
        auto packet = std::make_shared<DispatchUdpSpecialPacket>();
        packet->addresses.push_back(address);
        return queueConnect(std::move(packet), error);
    });
}

bool DispatchUdpSocket::queueConnect(std::shared_ptr<DispatchUdpSpecialPacket> packet,
                                     foundation::Error* error) {
    if (!(flags_ & kSocketsCreated) && !createSockets(error)) return false;
    flags_ |= kConnectPending;
    countAhead();
    sendQueue_.push_back(std::move(packet));
    maybeDequeueSend();
    return true;
}

void DispatchUdpSocket::maybeConnect() {
    if (!isOnSocketQueue()) assertionFailure("Must be dispatched on socketQueue", __LINE__);
    auto packet = std::dynamic_pointer_cast<DispatchUdpSpecialPacket>(currentSend_);
    if (!packet || packet->resolveInProgress) return;
    if (packet->error) {
        notifyDidNotConnect(*packet->error);
    } else {
        Data address;
        foundation::Error error;
        const int family =
            chooseDestination(packet->addresses, destinationRules(), &address, &error);
        if (family && connectWithAddress(address, family, &error)) {
            flags_ |= kSocketConnected | kSocketBound;
            std::string host;
            std::uint16_t port = 0;
            getHost(&host, &port, address);
            cachedConnectedAddress_ = address;
            cachedConnectedHost_ = std::move(host);
            cachedConnectedPort_ = port;
            cachedConnectedFamily_ = family;
            notifyDidConnectToAddress(std::move(address));
        } else {
            notifyDidNotConnect(std::move(error));
        }
    }
    flags_ &= ~kConnectPending;
    endCurrentSend();
    maybeDequeueSend();
}

bool DispatchUdpSocket::connectWithAddress(const Data& address, int family,
                                           foundation::Error* error) {
    if (!isOnSocketQueue()) assertionFailure("Must be dispatched on socketQueue", __LINE__);
    const int fd = family == AF_INET ? socket4FD_ : socket6FD_;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(address.data()),
                  static_cast<socklen_t>(address.size())) != 0) {
        const int err = errno;
        foundation::setError(error, errnoError(err, "Error in connect() function"));
        return false;
    }
    // A connected socket holds its peer's family only.
    if (family == AF_INET) {
        closeSocket6();
        flags_ |= kIPv6Inactive;
    } else {
        closeSocket4();
        flags_ |= kIPv4Inactive;
    }
    return true;
}

// ---- Posting callbacks ----

void DispatchUdpSocket::notifyDidConnectToAddress(Data address) {
    auto delegate = delegate_.lock();
    if (!delegate || !delegateQueue_ ||
        !delegate->respondsTo(DispatchUdpSocketDelegate::didConnectToAddress)) {
        return;
    }
    delegateQueue_->async(
        [delegate = std::move(delegate), self = weak_from_this().lock(),
         address = std::move(address)] { delegate->udpSocketDidConnectToAddress(self, address); });
}

void DispatchUdpSocket::notifyDidNotConnect(foundation::Error error) {
    auto delegate = delegate_.lock();
    if (!delegate || !delegateQueue_ ||
        !delegate->respondsTo(DispatchUdpSocketDelegate::didNotConnect)) {
        return;
    }
    delegateQueue_->async(
        [delegate = std::move(delegate), self = weak_from_this().lock(), error = std::move(error)] {
            delegate->udpSocketDidNotConnect(self, error);
        });
}

}  // namespace rozuri
