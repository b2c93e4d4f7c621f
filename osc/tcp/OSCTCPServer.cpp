#include "osc/tcp/OSCTCPServer.h"

#include <utility>

#include "osc/udp/OSCSocketError.h"

namespace rozuri {

std::shared_ptr<OSCTCPServer> OSCTCPServer::create(std::optional<std::uint16_t> port,
                                                   std::optional<std::string> interface,
                                                   OSCTimeTagMode timeTagMode,
                                                   OSCTCPFramingMode framingMode,
                                                   std::shared_ptr<dispatch::Queue> queue,
                                                   OSCReceiveHandler receiveHandler) {
    std::shared_ptr<OSCTCPServer> server(new OSCTCPServer(port, std::move(interface), timeTagMode,
                                                          framingMode, std::move(queue),
                                                          std::move(receiveHandler)));
    server->tcpDelegate_->oscServer = server;
    return server;
}

OSCTCPServer::OSCTCPServer(std::optional<std::uint16_t> port, std::optional<std::string> interface,
                           OSCTimeTagMode timeTagMode, OSCTCPFramingMode framingMode,
                           std::shared_ptr<dispatch::Queue> queue, OSCReceiveHandler receiveHandler)
    : tcpDelegate_(std::make_shared<OSCTCPServerDelegate>(framingMode)),
      queue_(queue ? std::move(queue)
                   : dispatch::Queue::createSerial("com.tavernick.ROZUri.OSCTCPServer.queue")),
      framingMode_(framingMode),
      receiveHandler_(std::move(receiveHandler)),
      timeTagMode_(timeTagMode),
      localPort_(port && *port != 0 ? port : std::nullopt),
      interface_(std::move(interface)) {
    tcpSocket_ = DispatchTcpSocket::create(tcpDelegate_, queue_);
}

OSCTCPServer::~OSCTCPServer() {
    stop();
}

void OSCTCPServer::start() {
    foundation::Error error;
    if (!tcpSocket_->acceptOnInterface(interface_, localPort_.value_or(0), &error)) {
        throw OSCSocketError(std::move(error));
    }
}

void OSCTCPServer::stop() {
    onQueue([this] { tcpDelegate_->disconnectAllClients(); });
    tcpSocket_->disconnectAfterWriting();
}

std::uint16_t OSCTCPServer::localPort() const {
    return tcpSocket_->localPort();
}

void OSCTCPServer::setReceiveHandler(OSCReceiveHandler handler) {
    queue_->async([weak = weak_from_this(), handler = std::move(handler)] {
        if (auto self = weak.lock()) self->receiveHandler_ = handler;
    });
}

void OSCTCPServer::setNotificationHandler(NotificationHandler handler) {
    queue_->async([weak = weak_from_this(), handler = std::move(handler)] {
        if (auto self = weak.lock()) self->notificationHandler_ = handler;
    });
}

void OSCTCPServer::setFrameLimit(std::size_t limit) {
    tcpDelegate_->frameLimit.store(limit);
    queue_->async([weak = weak_from_this(), limit] {
        auto self = weak.lock();
        if (!self) return;
        for (auto& [id, record] : self->tcpDelegate_->clients) record->reader.setFrameLimit(limit);
    });
}

void OSCTCPServer::generateConnectedNotification(const std::string& remoteHost,
                                                 std::uint16_t remotePort, std::int64_t clientID) {
    if (!notificationHandler_) return;
    notificationHandler_(
        {Notification::Kind::connected, remoteHost, remotePort, clientID, std::nullopt});
}

void OSCTCPServer::generateDisconnectedNotification(const std::string& remoteHost,
                                                    std::uint16_t remotePort, std::int64_t clientID,
                                                    std::optional<foundation::Error> error) {
    if (!notificationHandler_) return;
    notificationHandler_(
        {Notification::Kind::disconnected, remoteHost, remotePort, clientID, std::move(error)});
}

}  // namespace rozuri
