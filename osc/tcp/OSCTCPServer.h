#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "osc/core/OSCBundle.h"
#include "osc/core/OSCMessage.h"
#include "osc/core/OSCPacket.h"
#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/OSCTCPClientProtocols.h"
#include "osc/tcp/OSCTCPFramingMode.h"
#include "osc/tcp/OSCTCPServerDelegate.h"
#include "osc/udp/OSCTimeTagMode.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Error.h"

namespace rozuri {

// An OSC listener on a TCP port: keeps a table of the connected clients under random IDs,
// delivers every message any of them sends (bundles unpacked) to the one receive handler with
// that client's host and port, and sends packets to chosen clients or to all of them.
//
// Every operation may be called from any thread. The client table lives on `queue`: the table
// operations (send, clients, disconnectClient, stop) run there, inline when already on it (so a
// handler may call them), else waiting for it. Notifications and the receive handler run there.
class OSCTCPServer final : public OSCTCPHandlerProtocol,
                           public std::enable_shared_from_this<OSCTCPServer> {
  public:
    using ClientConnection = OSCTCPServerClientConnection;

    // A client change. `error` is none when the client closed in order; any other failure
    // carries the socket's error.
    struct Notification {
        enum class Kind { connected = 0, disconnected = 1 };
        Kind kind = Kind::connected;
        std::string remoteHost;
        std::uint16_t remotePort = 0;
        std::int64_t clientID = 0;
        std::optional<foundation::Error> error;

        friend bool operator==(const Notification&, const Notification&) = default;
    };
    using NotificationHandler = std::function<void(const Notification&)>;

    struct ClientInfo {
        std::string host;
        std::uint16_t port = 0;
        friend bool operator==(const ClientInfo&, const ClientInfo&) = default;
    };

    // `port` none or 0: the system picks one (see localPort()). `interface` none: all.
    // `queue` null: a serial queue of the server's own.
    static std::shared_ptr<OSCTCPServer> create(std::optional<std::uint16_t> port,
                                                std::optional<std::string> interface,
                                                OSCTimeTagMode timeTagMode,
                                                OSCTCPFramingMode framingMode,
                                                std::shared_ptr<dispatch::Queue> queue = nullptr,
                                                OSCReceiveHandler receiveHandler = {});
    // Does what stop() does.
    ~OSCTCPServer() override;
    OSCTCPServer(const OSCTCPServer&) = delete;
    OSCTCPServer& operator=(const OSCTCPServer&) = delete;

    // Starts listening. Throws OSCSocketError with the socket's error (port in use, already
    // listening, bad interface).
    void start();
    // Disconnects every client after its pending writes and closes the listening socket.
    void stop();
    // The listening port (0 while not listening).
    std::uint16_t localPort() const;

    // Client ID to the client's host and port as they were when it connected.
    std::map<std::int64_t, ClientInfo> clients() const;

    // Writes the packet, framed, to each client in order. An ID not in the table throws
    // DispatchUdpSocketError code 2 ("Reason": "OSC TCP client socket with ID <id> not found
    // (not connected).") and stops there: the clients before it have been written to. An
    // encoding failure throws OSCEncodeError before anything is written.
    void send(const OSCPacket& packet, const std::vector<std::int64_t>& clientIDs);
    void send(const OSCBundle& bundle, const std::vector<std::int64_t>& clientIDs);
    void send(const OSCMessage& message, const std::vector<std::int64_t>& clientIDs);
    // To every client in the table.
    void send(const OSCPacket& packet);
    void send(const OSCBundle& bundle);
    void send(const OSCMessage& message);

    // The client leaves the table at once, without a notification; its socket closes after its
    // pending writes. An unknown ID changes nothing.
    void disconnectClient(std::int64_t clientID);

    // Replaced on `queue`: work queued before still sees the old handler.
    void setReceiveHandler(OSCReceiveHandler handler);
    void setNotificationHandler(NotificationHandler handler);
    // The largest frame kept per client, in bytes (default 1 MiB); longer frames are skipped
    // unread. Applies to the clients connected now and later.
    void setFrameLimit(std::size_t limit);

    const std::shared_ptr<dispatch::Queue>& queue() const override { return queue_; }
    OSCTimeTagMode timeTagMode() const override { return timeTagMode_.load(); }
    void setTimeTagMode(OSCTimeTagMode mode) { timeTagMode_.store(mode); }
    const OSCReceiveHandler& receiveHandler() const override { return receiveHandler_; }
    // The listening socket.
    const std::shared_ptr<DispatchTcpSocket>& tcpSocket() const override { return tcpSocket_; }
    OSCTCPFramingMode framingMode() const override { return framingMode_; }
    const std::optional<std::string>& interface() const { return interface_; }

    // On `queue`, from the delegate.
    void generateConnectedNotification(const std::string& remoteHost, std::uint16_t remotePort,
                                       std::int64_t clientID);
    void generateDisconnectedNotification(const std::string& remoteHost, std::uint16_t remotePort,
                                          std::int64_t clientID,
                                          std::optional<foundation::Error> error);

  private:
    OSCTCPServer(std::optional<std::uint16_t> port, std::optional<std::string> interface,
                 OSCTimeTagMode timeTagMode, OSCTCPFramingMode framingMode,
                 std::shared_ptr<dispatch::Queue> queue, OSCReceiveHandler receiveHandler);

    // Runs `f` on queue: inline when already there.
    template <class F>
    auto onQueue(F&& f) const -> decltype(f()) {
        if (queue_->isCurrent()) return f();
        return queue_->syncResult(std::forward<F>(f));
    }
    void sendOnQueue(const OSCPacket& packet, const std::vector<std::int64_t>& clientIDs);

    std::shared_ptr<DispatchTcpSocket> tcpSocket_;
    std::shared_ptr<OSCTCPServerDelegate> tcpDelegate_;
    std::shared_ptr<dispatch::Queue> queue_;
    OSCTCPFramingMode framingMode_;
    OSCReceiveHandler receiveHandler_;
    NotificationHandler notificationHandler_;
    std::atomic<OSCTimeTagMode> timeTagMode_;
    std::optional<std::uint16_t> localPort_;
    std::optional<std::string> interface_;
};

}  // namespace rozuri
