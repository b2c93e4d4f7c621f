#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "osc/core/OSCBundle.h"
#include "osc/core/OSCMessage.h"
#include "osc/core/OSCPacket.h"
#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/OSCTCPClientDelegate.h"
#include "osc/tcp/OSCTCPClientProtocols.h"
#include "osc/tcp/OSCTCPFramingMode.h"
#include "osc/udp/OSCTimeTagMode.h"
#include "platform/dispatch/Queue.h"
#include "platform/foundation/Error.h"

namespace rozuri {

// An OSC connection to one peer over TCP: sends packets framed by its framing mode and delivers
// every message it receives, bundles unpacked, to the receive handler on `queue`. Frames may be
// split across reads in any way; frames that do not decode are dropped and reading goes on.
//
// connect(), close(), send() and the accessors may be called from any thread; the handlers and
// the socket's callbacks run on queue.
class OSCTCPClient final : public OSCTCPHandlerProtocol,
                           public OSCTCPGeneratesClientNotificationsProtocol,
                           public std::enable_shared_from_this<OSCTCPClient> {
  public:
    // A connection change. `error` is none after close() and when the peer closed the
    // connection in order; any other failure (refused, unresolvable host, time-out, reset)
    // carries the socket's error.
    struct Notification {
        enum class Kind { connected = 0, disconnected = 1 };
        Kind kind = Kind::connected;
        std::optional<foundation::Error> error;

        static Notification connected() { return {Kind::connected, std::nullopt}; }
        static Notification disconnected(std::optional<foundation::Error> error) {
            return {Kind::disconnected, std::move(error)};
        }
        friend bool operator==(const Notification&, const Notification&) = default;
    };
    using NotificationHandler = std::function<void(const Notification&)>;

    // `interface` none: any. `queue` null: a serial queue of the client's own.
    static std::shared_ptr<OSCTCPClient> create(std::string remoteHost, std::uint16_t remotePort,
                                                std::optional<std::string> interface,
                                                OSCTimeTagMode timeTagMode,
                                                OSCTCPFramingMode framingMode,
                                                std::shared_ptr<dispatch::Queue> queue = nullptr,
                                                OSCReceiveHandler receiveHandler = {});
    // Closes after the pending writes.
    ~OSCTCPClient() override;
    OSCTCPClient(const OSCTCPClient&) = delete;
    OSCTCPClient& operator=(const OSCTCPClient&) = delete;

    // Starts connecting; the outcome arrives as a notification. `timeout` in seconds: below 1
    // or not a number waits 1 s. Throws OSCSocketError with the socket's error when it cannot
    // start (already connected, empty host, bad interface).
    void connect(double timeout);
    // Disconnects once the pending writes are out; a `disconnected` notification follows.
    void close();
    bool isConnected() const { return tcpSocket_->isConnected(); }

    // Encodes, frames and queues the packet (no time-out); returns at once. Throws
    // OSCSocketError (TCP domain, code 1, "Attempting to send while not connected.") when no
    // connection is open or being opened, and OSCEncodeError when encoding fails; nothing is
    // written then. Writes queued while connecting go once connected.
    void send(const OSCPacket& packet, std::int64_t tag = 0);
    void send(const OSCBundle& bundle, std::int64_t tag = 0);
    void send(const OSCMessage& message, std::int64_t tag = 0);

    // Replaced on `queue`: work queued before still sees the old handler.
    void setReceiveHandler(OSCReceiveHandler handler);
    void setNotificationHandler(NotificationHandler handler);

    // The largest frame kept, in bytes (default 1 MiB); longer frames are skipped unread.
    // Applied on `queue`.
    void setFrameLimit(std::size_t limit);

    const std::shared_ptr<dispatch::Queue>& queue() const override { return queue_; }
    OSCTimeTagMode timeTagMode() const override { return timeTagMode_.load(); }
    void setTimeTagMode(OSCTimeTagMode mode) { timeTagMode_.store(mode); }
    const OSCReceiveHandler& receiveHandler() const override { return receiveHandler_; }
    const std::shared_ptr<DispatchTcpSocket>& tcpSocket() const override { return tcpSocket_; }
    OSCTCPFramingMode framingMode() const override { return framingMode_; }
    const std::string& remoteHost() const { return remoteHost_; }
    std::uint16_t remotePort() const { return remotePort_; }
    const std::optional<std::string>& interface() const { return interface_; }

    // On `queue`, from the socket's delegate.
    void generateConnectedNotification() override;
    void generateDisconnectedNotification(std::optional<foundation::Error> error) override;
    void connectionDidOpen(const std::string& host, std::uint16_t port);
    void handleReceivedData(DataView chunk);

  private:
    OSCTCPClient(std::string remoteHost, std::uint16_t remotePort,
                 std::optional<std::string> interface, OSCTimeTagMode timeTagMode,
                 OSCTCPFramingMode framingMode, std::shared_ptr<dispatch::Queue> queue,
                 OSCReceiveHandler receiveHandler);

    std::shared_ptr<DispatchTcpSocket> tcpSocket_;
    std::shared_ptr<OSCTCPClientDelegate> tcpDelegate_;
    std::shared_ptr<dispatch::Queue> queue_;
    OSCTCPFramingMode framingMode_;
    OSCReceiveHandler receiveHandler_;
    NotificationHandler notificationHandler_;
    std::atomic<OSCTimeTagMode> timeTagMode_;
    std::string remoteHost_;
    std::uint16_t remotePort_;
    std::optional<std::string> interface_;
    // Set by close(), cleared by connect(): a closing socket drops new writes silently.
    std::atomic<bool> closeRequested_{false};
    OSCTCPConnectionReader reader_;
};

}  // namespace rozuri
