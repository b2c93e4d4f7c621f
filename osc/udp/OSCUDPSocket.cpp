#include "osc/udp/OSCUDPSocket.h"

#include <utility>

#include "osc/udp/DispatchUdpSocketError.h"
#include "osc/udp/OSCSocketError.h"
#include "osc/udp/OSCUDPSendChecks.h"

namespace rozuri {

namespace {

constexpr double kSendTimeout = 1.0;

}  // namespace

std::shared_ptr<OSCUDPSocket> OSCUDPSocket::create(
    std::optional<std::uint16_t> localPort, std::optional<std::string> remoteHost,
    std::optional<std::uint16_t> remotePort, std::optional<std::string> interface,
    OSCTimeTagMode timeTagMode, bool isIPv4BroadcastEnabled, std::shared_ptr<dispatch::Queue> queue,
    OSCReceiveHandler receiveHandler) {
    std::shared_ptr<OSCUDPSocket> socket(new OSCUDPSocket(
        localPort, std::move(remoteHost), remotePort, std::move(interface), timeTagMode,
        isIPv4BroadcastEnabled, std::move(queue), std::move(receiveHandler)));
    socket->udpDelegate_->oscServer = socket;
    return socket;
}

std::shared_ptr<OSCUDPSocket> OSCUDPSocket::create(std::optional<std::uint16_t> localPort,
                                                   std::optional<std::string> remoteHost,
                                                   std::optional<std::uint16_t> remotePort,
                                                   OSCTimeTagMode timeTagMode,
                                                   bool isIPv4BroadcastEnabled,
                                                   std::shared_ptr<dispatch::Queue> queue,
                                                   OSCReceiveHandler receiveHandler) {
    return create(localPort, std::move(remoteHost), remotePort, std::nullopt, timeTagMode,
                  isIPv4BroadcastEnabled, std::move(queue), std::move(receiveHandler));
}

OSCUDPSocket::OSCUDPSocket(std::optional<std::uint16_t> localPort,
                           std::optional<std::string> remoteHost,
                           std::optional<std::uint16_t> remotePort,
                           std::optional<std::string> interface, OSCTimeTagMode timeTagMode,
                           bool isIPv4BroadcastEnabled, std::shared_ptr<dispatch::Queue> queue,
                           OSCReceiveHandler receiveHandler)
    : udpDelegate_(std::make_shared<OSCUDPServerDelegate>()),
      queue_(queue ? std::move(queue)
                   : dispatch::Queue::createSerial("com.tavernick.ROZUri.OSCUDPSocket.queue")),
      receiveHandler_(std::move(receiveHandler)),
      timeTagMode_(timeTagMode),
      remoteHost_(std::move(remoteHost)),
      localPort_(localPort && *localPort != 0 ? localPort : std::nullopt),
      remotePort_(remotePort.value_or(0)),
      interface_(std::move(interface)),
      isIPv4BroadcastEnabled_(isIPv4BroadcastEnabled) {
    udpSocket_ = DispatchUdpSocket::create(udpDelegate_, queue_);
}

OSCUDPSocket::~OSCUDPSocket() {
    udpSocket_->closeAfterSending();
}

void OSCUDPSocket::start() {
    if (isStarted_.load()) return;
    // A failed start left a bound socket behind, and a stop() may still be draining: begin
    // from a closed socket either way.
    udpSocket_->close();
    foundation::Error error;
    if (!udpSocket_->enableBroadcast(isIPv4BroadcastEnabled_, &error) && !error.domain.empty()) {
        throw OSCSocketError(std::move(error));
    }
    if (!udpSocket_->bindToPort(localPort_.value_or(0), interface_, &error)) {
        throw OSCSocketError(std::move(error));
    }
    if (!udpSocket_->beginReceiving(&error)) throw OSCSocketError(std::move(error));
    isStarted_.store(true);
}

void OSCUDPSocket::stop() {
    udpSocket_->closeAfterSending();
    isStarted_.store(false);
}

std::uint16_t OSCUDPSocket::localPort() const {
    return udpSocket_->localPort();
}

std::optional<std::string> OSCUDPSocket::remoteHost() const {
    std::lock_guard lock(remoteHostMutex_);
    return remoteHost_;
}

void OSCUDPSocket::setRemoteHost(std::optional<std::string> host) {
    std::lock_guard lock(remoteHostMutex_);
    remoteHost_ = std::move(host);
}

std::uint16_t OSCUDPSocket::remotePort() const {
    const std::uint16_t port = remotePort_.load();
    return port != 0 ? port : localPort();
}

void OSCUDPSocket::setReceiveHandler(OSCReceiveHandler handler) {
    queue_->async([weak = weak_from_this(), handler = std::move(handler)] {
        if (auto self = weak.lock()) self->receiveHandler_ = handler;
    });
}

void OSCUDPSocket::send(const OSCPacket& packet, const std::optional<std::string>& host,
                        std::optional<std::uint16_t> port) {
    if (!isStarted_.load()) {
        throw DispatchUdpSocketError(
            DispatchUdpSocketError::Code::closed,
            {{foundation::Error::kReasonKey, "OSC socket has not been started yet."}});
    }
    const std::optional<std::string> destination = host ? host : remoteHost();
    if (!destination) {
        throw DispatchUdpSocketError(
            DispatchUdpSocketError::Code::badParam,
            {{foundation::Error::kReasonKey,
              "Remote host is not specified in OSCUDPSocket.remoteHost property or in host "
              "parameter in call to send()."}});
    }
    Data data = packet.encodedData();
    const std::uint16_t to = port ? *port : remotePort();
    checkOSCUDPDestination(*destination, to, data.size());
    udpSocket_->sendData(std::move(data), *destination, to, kSendTimeout, 0);
}

void OSCUDPSocket::send(const OSCBundle& bundle, const std::optional<std::string>& host,
                        std::optional<std::uint16_t> port) {
    send(OSCPacket(bundle), host, port);
}

void OSCUDPSocket::send(const OSCMessage& message, const std::optional<std::string>& host,
                        std::optional<std::uint16_t> port) {
    send(OSCPacket(message), host, port);
}

}  // namespace rozuri
