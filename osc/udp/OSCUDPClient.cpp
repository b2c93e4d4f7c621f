#include "osc/udp/OSCUDPClient.h"

#include <utility>

#include "osc/udp/OSCSocketError.h"
#include "osc/udp/OSCUDPSendChecks.h"

namespace rozuri {

namespace {

constexpr double kSendTimeout = 1.0;

}  // namespace

std::shared_ptr<OSCUDPClient> OSCUDPClient::create() {
    return std::shared_ptr<OSCUDPClient>(new OSCUDPClient());
}

std::shared_ptr<OSCUDPClient> OSCUDPClient::create(std::optional<std::uint16_t> localPort,
                                                   std::optional<std::string> interface,
                                                   bool isPortReuseEnabled,
                                                   bool isIPv4BroadcastEnabled) {
    auto client = create();
    client->localPort_ = localPort && *localPort != 0 ? localPort : std::nullopt;
    client->interface_ = std::move(interface);
    client->isPortReuseEnabled_.store(isPortReuseEnabled);
    client->setIPv4BroadcastEnabled(isIPv4BroadcastEnabled);
    return client;
}

OSCUDPClient::OSCUDPClient() : udpDelegate_(std::make_shared<OSCUDPClientDelegate>()) {
    // Given at creation rather than set afterwards: a setting still queued on the socket would
    // hold the first sends back behind it.
    udpSocket_ = DispatchUdpSocket::create(udpDelegate_, dispatch::Queue::global());
}

OSCUDPClient::~OSCUDPClient() {
    // The socket outlives the client until what was handed over has gone.
    udpSocket_->closeAfterSending();
}

void OSCUDPClient::setIPv4BroadcastEnabled(bool enabled) {
    isIPv4BroadcastEnabled_.store(enabled);
    udpSocket_->enableBroadcast(enabled);
}

void OSCUDPClient::start() {
    if (isStarted_.load()) return;
    udpSocket_->close();
    isStarted_.store(false);
    foundation::Error error;
    // A "no" without an error means the option has no socket to go on (a family disabled).
    if (!udpSocket_->enableReusePort(isPortReuseEnabled_.load(), &error) && !error.domain.empty()) {
        throw OSCSocketError(std::move(error));
    }
    if (!udpSocket_->enableBroadcast(isIPv4BroadcastEnabled_.load(), &error) &&
        !error.domain.empty()) {
        throw OSCSocketError(std::move(error));
    }
    if (!udpSocket_->bindToPort(localPort_.value_or(0), interface_, &error)) {
        throw OSCSocketError(std::move(error));
    }
    isStarted_.store(true);
}

void OSCUDPClient::stop() {
    udpSocket_->closeAfterSending();
    isStarted_.store(false);
}

std::uint16_t OSCUDPClient::localPort() const {
    return udpSocket_->localPort();
}

void OSCUDPClient::send(const OSCPacket& packet, const std::string& host, std::uint16_t port) {
    sendData(packet.encodedData(), host, port);
}

void OSCUDPClient::send(const OSCBundle& bundle, const std::string& host, std::uint16_t port) {
    sendData(bundle.encodedData(), host, port);
}

void OSCUDPClient::send(const OSCMessage& message, const std::string& host, std::uint16_t port) {
    sendData(message.encodedData(), host, port);
}

void OSCUDPClient::sendData(Data data, const std::string& host, std::uint16_t port) {
    checkOSCUDPDestination(host, port, data.size());
    udpSocket_->sendData(std::move(data), host, port, kSendTimeout, 0);
}

}  // namespace rozuri
