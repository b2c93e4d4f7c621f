#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "osc/core/Data.h"
#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/DispatchTcpSocketDelegate.h"
#include "osc/tcp/OSCTCPClientProtocols.h"
#include "osc/tcp/OSCTCPFramingMode.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Error.h"

namespace rozuri {

class OSCTCPServer;
class OSCTCPServerDelegate;

// One accepted client of an OSCTCPServer, owned by the server's client table. The peer's host
// and port are those of the moment it was accepted. Releasing the record closes its socket
// after the pending reads and writes, without further callbacks.
class OSCTCPServerClientConnection {
  public:
    OSCTCPServerClientConnection(std::shared_ptr<DispatchTcpSocket> socket, std::string host,
                                 std::uint16_t port, std::int64_t clientID,
                                 OSCTCPFramingMode framingMode, std::size_t frameLimit);
    ~OSCTCPServerClientConnection();
    OSCTCPServerClientConnection(const OSCTCPServerClientConnection&) = delete;
    OSCTCPServerClientConnection& operator=(const OSCTCPServerClientConnection&) = delete;

    std::weak_ptr<OSCTCPServerDelegate> delegate;
    const std::shared_ptr<DispatchTcpSocket> tcpSocket;
    const std::string remoteHost;
    const std::uint16_t remotePort;
    // The client ID; also the tag of every read and write on the socket.
    const std::int64_t tcpSocketTag;
    const OSCTCPFramingMode framingMode;
    // Confined to the server's queue.
    OSCTCPConnectionReader reader;

    // Writes framed bytes with the client's tag.
    void write(Data framed);
};

// The listening socket's delegate, also the delegate of every accepted socket. It owns the
// client table, which lives on the server's queue: every callback and table operation runs
// there.
class OSCTCPServerDelegate : public DispatchTcpSocketDelegate,
                             public std::enable_shared_from_this<OSCTCPServerDelegate> {
  public:
    using ClientConnection = OSCTCPServerClientConnection;

    explicit OSCTCPServerDelegate(OSCTCPFramingMode framingMode);
    ~OSCTCPServerDelegate() override;

    // The owner, held weakly; set by the owner once it exists.
    std::weak_ptr<OSCTCPServer> oscServer;
    const OSCTCPFramingMode framingMode;
    // Client ID to record; on the server's queue only.
    std::map<std::int64_t, std::shared_ptr<ClientConnection>> clients;
    // Frame limit of the connections accepted from now on.
    std::atomic<std::size_t> frameLimit{OSCTCPStreamDeframer::defaultFrameLimit};

    // On the server's queue: close the named client (or all) after its pending reads and
    // writes and forget it at once, without a notification. Unknown IDs change nothing.
    void disconnectClient(std::int64_t clientID);
    void disconnectAllClients();

    std::shared_ptr<dispatch::Queue> newSocketQueueForConnectionFromAddress(
        const Data& address, const Socket& listener) override;
    void socketDidAcceptNewSocket(const Socket& listener, const Socket& accepted) override;
    void socketDidReadData(const Socket& socket, Data data, std::int64_t tag) override;
    void socketDidDisconnect(const Socket& socket,
                             const std::optional<foundation::Error>& error) override;

  private:
    std::int64_t drawClientID() const;

    // The peer address of the connection being accepted: the socket asks for its queue just
    // before it reports the new socket, in the same step on the server's queue.
    std::optional<Data> acceptedAddress_;
};

}  // namespace rozuri
