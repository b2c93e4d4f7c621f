#include "osc/tcp/OSCTCPClientDelegate.h"

#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/OSCTCPClient.h"

namespace rozuri {

std::shared_ptr<dispatch::Queue> OSCTCPClientDelegate::newSocketQueueForConnectionFromAddress(
    const Data&, const Socket&) {
    auto owner = oscServer.lock();
    return owner ? owner->queue() : nullptr;
}

void OSCTCPClientDelegate::socketDidConnectToHost(const Socket&, const std::string& host,
                                                  std::uint16_t port) {
    auto owner = oscServer.lock();
    if (!owner) return;
    // Taken now: by the time the last bytes are handled the socket may be closed.
    owner->connectionDidOpen(host, port);
    owner->generateConnectedNotification();
    owner->tcpSocket()->readDataWithTimeout(-1, 0);
}

void OSCTCPClientDelegate::socketDidReadData(const Socket& socket, Data data, std::int64_t tag) {
    if (auto owner = oscServer.lock()) owner->handleReceivedData(data);
    if (socket) socket->readDataWithTimeout(-1, tag);
}

void OSCTCPClientDelegate::socketDidDisconnect(const Socket&,
                                               const std::optional<foundation::Error>& error) {
    if (auto owner = oscServer.lock()) {
        owner->generateDisconnectedNotification(reportedDisconnectionError(error));
    }
}

}  // namespace rozuri
