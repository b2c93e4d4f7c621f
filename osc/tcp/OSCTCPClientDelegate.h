#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "osc/core/Data.h"
#include "osc/tcp/DispatchTcpSocketDelegate.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Error.h"

namespace rozuri {

class OSCTCPClient;

// The socket delegate of OSCTCPClient: turns the socket's callbacks into calls on its owner and
// keeps exactly one read outstanding for the life of the connection.
class OSCTCPClientDelegate : public DispatchTcpSocketDelegate {
  public:
    OSCTCPClientDelegate()
        : DispatchTcpSocketDelegate(newSocketQueueForConnection | didConnectToHost | didReadData |
                                    didDisconnect) {}

    // The owner, held weakly; set by the owner once it exists.
    std::weak_ptr<OSCTCPClient> oscServer;

    std::shared_ptr<dispatch::Queue> newSocketQueueForConnectionFromAddress(
        const Data& address, const Socket& listener) override;
    void socketDidConnectToHost(const Socket& socket, const std::string& host,
                                std::uint16_t port) override;
    void socketDidReadData(const Socket& socket, Data data, std::int64_t tag) override;
    void socketDidDisconnect(const Socket& socket,
                             const std::optional<foundation::Error>& error) override;
};

}  // namespace rozuri
