#include "osc/tcp/OSCTCPServerDelegate.h"

#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "osc/tcp/OSCTCPServer.h"

namespace rozuri {

OSCTCPServerClientConnection::OSCTCPServerClientConnection(
    std::shared_ptr<DispatchTcpSocket> socket, std::string host, std::uint16_t port,
    std::int64_t clientID, OSCTCPFramingMode framingMode, std::size_t frameLimit)
    : tcpSocket(std::move(socket)),
      remoteHost(std::move(host)),
      remotePort(port),
      tcpSocketTag(clientID),
      framingMode(framingMode),
      reader(framingMode, frameLimit) {
    reader.begin(remoteHost, remotePort);
}

OSCTCPServerClientConnection::~OSCTCPServerClientConnection() {
    // Cleared first: no callback of this socket reaches the server once the record is gone.
    tcpSocket->synchronouslySetDelegate(std::weak_ptr<DispatchTcpSocketDelegate>());
    tcpSocket->disconnectAfterReadingAndWriting();
}

void OSCTCPServerClientConnection::write(Data framed) {
    tcpSocket->writeData(std::move(framed), -1, tcpSocketTag);
}

OSCTCPServerDelegate::OSCTCPServerDelegate(OSCTCPFramingMode framingMode)
    : DispatchTcpSocketDelegate(newSocketQueueForConnection | didAcceptNewSocket | didReadData |
                                didDisconnect),
      framingMode(framingMode) {}

OSCTCPServerDelegate::~OSCTCPServerDelegate() {
    disconnectAllClients();
}

void OSCTCPServerDelegate::disconnectClient(std::int64_t clientID) {
    // Releasing the record closes its socket.
    clients.erase(clientID);
}

void OSCTCPServerDelegate::disconnectAllClients() {
    clients.clear();
}

std::int64_t OSCTCPServerDelegate::drawClientID() const {
    std::random_device random;
    std::uniform_int_distribution<std::int64_t> ids(1, std::numeric_limits<std::int64_t>::max());
    std::int64_t id = ids(random);
    while (clients.count(id) != 0) id = ids(random);
    return id;
}

std::shared_ptr<dispatch::Queue> OSCTCPServerDelegate::newSocketQueueForConnectionFromAddress(
    const Data& address, const Socket&) {
    auto server = oscServer.lock();
    if (!server) return nullptr;
    acceptedAddress_ = address;
    return server->queue();
}

void OSCTCPServerDelegate::socketDidAcceptNewSocket(const Socket&, const Socket& accepted) {
    std::optional<Data> address = std::exchange(acceptedAddress_, std::nullopt);
    auto server = oscServer.lock();
    // Nobody to serve it: dropping the socket closes it.
    if (!server || !accepted) return;
    std::string host;
    std::uint16_t port = 0;
    if (!address || !DispatchTcpSocket::getHost(&host, &port, *address)) {
        host = accepted->connectedHost().value_or("");
        port = accepted->connectedPort();
    }
    const std::int64_t id = drawClientID();
    auto record = std::make_shared<ClientConnection>(accepted, host, port, id, framingMode,
                                                     frameLimit.load());
    record->delegate = weak_from_this();
    clients[id] = record;
    accepted->setDelegate(weak_from_this());
    server->generateConnectedNotification(host, port, id);
    accepted->readDataWithTimeout(-1, id);
}

void OSCTCPServerDelegate::socketDidReadData(const Socket& socket, Data data, std::int64_t tag) {
    if (auto server = oscServer.lock()) {
        auto it = clients.find(tag);
        if (it != clients.end() && it->second->tcpSocket == socket) {
            it->second->reader.handleReceivedData(server, data);
        }
    }
    if (socket) socket->readDataWithTimeout(-1, tag);
}

void OSCTCPServerDelegate::socketDidDisconnect(const Socket& socket,
                                               const std::optional<foundation::Error>& error) {
    std::vector<std::shared_ptr<ClientConnection>> gone;
    for (auto it = clients.begin(); it != clients.end();) {
        if (socket && it->second->tcpSocket == socket) {
            gone.push_back(std::move(it->second));
            it = clients.erase(it);
        } else {
            ++it;
        }
    }
    const auto reported = reportedDisconnectionError(error);
    auto server = oscServer.lock();
    for (const auto& record : gone) {
        record->delegate.reset();
        if (server) {
            server->generateDisconnectedNotification(record->remoteHost, record->remotePort,
                                                     record->tcpSocketTag, reported);
        }
    }
}

}  // namespace rozuri
