#include "osc/tcp/OSCTCPClient.h"

#include <utility>

#include "osc/tcp/DispatchTcpSocketError.h"
#include "osc/tcp/OSCTCPFraming.h"
#include "osc/udp/OSCSocketError.h"

namespace rozuri {

std::shared_ptr<OSCTCPClient> OSCTCPClient::create(std::string remoteHost, std::uint16_t remotePort,
                                                   std::optional<std::string> interface,
                                                   OSCTimeTagMode timeTagMode,
                                                   OSCTCPFramingMode framingMode,
                                                   std::shared_ptr<dispatch::Queue> queue,
                                                   OSCReceiveHandler receiveHandler) {
    std::shared_ptr<OSCTCPClient> client(
        new OSCTCPClient(std::move(remoteHost), remotePort, std::move(interface), timeTagMode,
                         framingMode, std::move(queue), std::move(receiveHandler)));
    client->tcpDelegate_->oscServer = client;
    return client;
}

OSCTCPClient::OSCTCPClient(std::string remoteHost, std::uint16_t remotePort,
                           std::optional<std::string> interface, OSCTimeTagMode timeTagMode,
                           OSCTCPFramingMode framingMode, std::shared_ptr<dispatch::Queue> queue,
                           OSCReceiveHandler receiveHandler)
    : tcpDelegate_(std::make_shared<OSCTCPClientDelegate>()),
      queue_(queue ? std::move(queue)
                   : dispatch::Queue::createSerial("com.tavernick.ROZUri.OSCTCPClient.queue")),
      framingMode_(framingMode),
      receiveHandler_(std::move(receiveHandler)),
      timeTagMode_(timeTagMode),
      remoteHost_(std::move(remoteHost)),
      remotePort_(remotePort),
      interface_(std::move(interface)),
      reader_(framingMode) {
    tcpSocket_ = DispatchTcpSocket::create(tcpDelegate_, queue_);
}

OSCTCPClient::~OSCTCPClient() {
    tcpSocket_->disconnectAfterWriting();
}

void OSCTCPClient::connect(double timeout) {
    foundation::Error error;
    if (!tcpSocket_->connectToHost(remoteHost_, remotePort_, interface_,
                                   clampedConnectTimeout(timeout), &error)) {
        throw OSCSocketError(std::move(error));
    }
    closeRequested_.store(false);
}

void OSCTCPClient::close() {
    closeRequested_.store(true);
    tcpSocket_->disconnectAfterWriting();
}

void OSCTCPClient::send(const OSCPacket& packet, std::int64_t tag) {
    if (closeRequested_.load() || tcpSocket_->isDisconnected()) {
        throw OSCSocketError(DispatchTcpSocketError::make(
            DispatchTcpSocketError::Code::badConfig, "Attempting to send while not connected."));
    }
    tcpSocket_->writeData(framedPacket(packet.encodedData(), framingMode_), -1, tag);
}

void OSCTCPClient::send(const OSCBundle& bundle, std::int64_t tag) {
    send(OSCPacket(bundle), tag);
}

void OSCTCPClient::send(const OSCMessage& message, std::int64_t tag) {
    send(OSCPacket(message), tag);
}

void OSCTCPClient::setReceiveHandler(OSCReceiveHandler handler) {
    queue_->async([weak = weak_from_this(), handler = std::move(handler)] {
        if (auto self = weak.lock()) self->receiveHandler_ = handler;
    });
}

void OSCTCPClient::setNotificationHandler(NotificationHandler handler) {
    queue_->async([weak = weak_from_this(), handler = std::move(handler)] {
        if (auto self = weak.lock()) self->notificationHandler_ = handler;
    });
}

void OSCTCPClient::setFrameLimit(std::size_t limit) {
    queue_->async([weak = weak_from_this(), limit] {
        if (auto self = weak.lock()) self->reader_.setFrameLimit(limit);
    });
}

void OSCTCPClient::generateConnectedNotification() {
    if (notificationHandler_) notificationHandler_(Notification::connected());
}

void OSCTCPClient::generateDisconnectedNotification(std::optional<foundation::Error> error) {
    if (notificationHandler_) notificationHandler_(Notification::disconnected(std::move(error)));
}

void OSCTCPClient::connectionDidOpen(const std::string& host, std::uint16_t port) {
    reader_.begin(host, port);
}

void OSCTCPClient::handleReceivedData(DataView chunk) {
    reader_.handleReceivedData(shared_from_this(), chunk);
}

}  // namespace rozuri
