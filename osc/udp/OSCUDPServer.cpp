#include "osc/udp/OSCUDPServer.h"

#include <utility>

namespace rozuri {

std::shared_ptr<OSCUDPServer> OSCUDPServer::create(std::optional<std::uint16_t> port,
                                                   std::optional<std::string> interface,
                                                   OSCTimeTagMode timeTagMode,
                                                   std::shared_ptr<dispatch::Queue> queue,
                                                   OSCReceiveHandler receiveHandler) {
    std::shared_ptr<OSCUDPServer> server(new OSCUDPServer(
        port, std::move(interface), timeTagMode, std::move(queue), std::move(receiveHandler)));
    server->udpDelegate_->oscServer = server;
    return server;
}

std::shared_ptr<OSCUDPServer> OSCUDPServer::create(std::uint16_t port, OSCTimeTagMode timeTagMode,
                                                   std::shared_ptr<dispatch::Queue> queue,
                                                   OSCReceiveHandler receiveHandler) {
    return create(port, std::nullopt, timeTagMode, std::move(queue), std::move(receiveHandler));
}

OSCUDPServer::OSCUDPServer(std::optional<std::uint16_t> port, std::optional<std::string> interface,
                           OSCTimeTagMode timeTagMode, std::shared_ptr<dispatch::Queue> queue,
                           OSCReceiveHandler receiveHandler)
    : udpDelegate_(std::make_shared<OSCUDPServerDelegate>()),
      queue_(queue ? std::move(queue)
                   : dispatch::Queue::createSerial("com.tavernick.ROZUri.OSCUDPServer.queue")),
      receiveHandler_(std::move(receiveHandler)),
      timeTagMode_(timeTagMode),
      localPort_(port && *port != 0 ? port : std::nullopt),
      interface_(std::move(interface)) {
    udpSocket_ = DispatchUdpSocket::create(udpDelegate_, queue_);
}

void OSCUDPServer::start() {
    if (isStarted_.load()) return;
    // A stopped or failed server starts again from a closed socket.
    udpSocket_->close();
    foundation::Error error;
    if (!udpSocket_->bindToPort(localPort_.value_or(0), interface_, &error)) {
        throw OSCSocketError(std::move(error));
    }
    if (!udpSocket_->beginReceiving(&error)) throw OSCSocketError(std::move(error));
    isStarted_.store(true);
}

void OSCUDPServer::stop() {
    udpSocket_->close();
    isStarted_.store(false);
}

std::uint16_t OSCUDPServer::localPort() const {
    return udpSocket_->localPort();
}

void OSCUDPServer::setReceiveHandler(OSCReceiveHandler handler) {
    queue_->async([weak = weak_from_this(), handler = std::move(handler)] {
        if (auto self = weak.lock()) self->receiveHandler_ = handler;
    });
}

}  // namespace rozuri
