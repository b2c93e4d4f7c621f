#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "osc/core/OSCBundle.h"
#include "osc/core/OSCMessage.h"
#include "osc/core/OSCPacket.h"
#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/OSCHandlerProtocol.h"
#include "osc/udp/OSCTimeTagMode.h"
#include "osc/udp/OSCUDPServerDelegate.h"
#include "platform/dispatch/Queue.h"

namespace rozuri {

// A two-way OSC endpoint on one UDP socket: receives like OSCUDPServer (messages to the
// receive handler on `queue`) and sends from the same bound port, by default to remoteHost at
// remotePort (which falls back to the local port).
//
// A reply to a sender goes to the host and port the handler was given; an IPv6 link-local
// sender's host carries no scope, so a reply to it needs the scope added ("fe80::1%eth0").
//
// The operations run on the caller's thread; the flags are atomic. stop() and release let the
// datagrams already handed over go first (each bounded by its 1 s time-out).
class OSCUDPSocket final : public OSCHandlerProtocol,
                           public std::enable_shared_from_this<OSCUDPSocket> {
  public:
    // Ports none or 0: the system picks the local port; the remote port falls back to it.
    // `queue` null: a serial queue of the socket's own.
    static std::shared_ptr<OSCUDPSocket> create(
        std::optional<std::uint16_t> localPort, std::optional<std::string> remoteHost,
        std::optional<std::uint16_t> remotePort, std::optional<std::string> interface,
        OSCTimeTagMode timeTagMode, bool isIPv4BroadcastEnabled,
        std::shared_ptr<dispatch::Queue> queue, OSCReceiveHandler receiveHandler);
    static std::shared_ptr<OSCUDPSocket> create(std::optional<std::uint16_t> localPort,
                                                std::optional<std::string> remoteHost,
                                                std::optional<std::uint16_t> remotePort,
                                                OSCTimeTagMode timeTagMode,
                                                bool isIPv4BroadcastEnabled = false,
                                                std::shared_ptr<dispatch::Queue> queue = nullptr,
                                                OSCReceiveHandler receiveHandler = {});
    ~OSCUDPSocket() override;
    OSCUDPSocket(const OSCUDPSocket&) = delete;
    OSCUDPSocket& operator=(const OSCUDPSocket&) = delete;

    // Closes any earlier socket state (at once, even while a stop() is draining), applies
    // broadcast, binds and begins receiving. Throws OSCSocketError with the socket's error
    // unchanged and stays unstarted. Does nothing when already started.
    void start();
    void stop();
    bool isStarted() const { return isStarted_.load(); }
    std::uint16_t localPort() const;

    std::optional<std::string> remoteHost() const;
    void setRemoteHost(std::optional<std::string> host);
    // The remote port, or the local port when none is set; 0 sets none.
    std::uint16_t remotePort() const;
    void setRemotePort(std::uint16_t port) { remotePort_.store(port); }
    const std::optional<std::string>& interface() const { return interface_; }
    bool isIPv4BroadcastEnabled() const { return isIPv4BroadcastEnabled_; }

    // Replaced on `queue`: messages delivered before that still see the old handler.
    void setReceiveHandler(OSCReceiveHandler handler);

    const std::shared_ptr<dispatch::Queue>& queue() const override { return queue_; }
    OSCTimeTagMode timeTagMode() const override { return timeTagMode_.load(); }
    void setTimeTagMode(OSCTimeTagMode mode) { timeTagMode_.store(mode); }
    const OSCReceiveHandler& receiveHandler() const override { return receiveHandler_; }

    // Encodes and hands over to `host` (else remoteHost) at `port` (else the remote port);
    // returns at once. Throws DispatchUdpSocketError code 4 ("Reason": "OSC socket has not been
    // started yet.") before start(), code 2 with the cause under "Reason" for no host, port 0
    // or a packet larger than a datagram (as OSCUDPClient::send), OSCSocketError (resolver domain)
    // for a text that cannot name a host, and OSCEncodeError when encoding fails; nothing is sent
    // then.
    void send(const OSCPacket& packet, const std::optional<std::string>& host = std::nullopt,
              std::optional<std::uint16_t> port = std::nullopt);
    void send(const OSCBundle& bundle, const std::optional<std::string>& host = std::nullopt,
              std::optional<std::uint16_t> port = std::nullopt);
    void send(const OSCMessage& message, const std::optional<std::string>& host = std::nullopt,
              std::optional<std::uint16_t> port = std::nullopt);

  private:
    OSCUDPSocket(std::optional<std::uint16_t> localPort, std::optional<std::string> remoteHost,
                 std::optional<std::uint16_t> remotePort, std::optional<std::string> interface,
                 OSCTimeTagMode timeTagMode, bool isIPv4BroadcastEnabled,
                 std::shared_ptr<dispatch::Queue> queue, OSCReceiveHandler receiveHandler);

    std::shared_ptr<DispatchUdpSocket> udpSocket_;
    std::shared_ptr<OSCUDPServerDelegate> udpDelegate_;
    std::shared_ptr<dispatch::Queue> queue_;
    OSCReceiveHandler receiveHandler_;
    std::atomic<OSCTimeTagMode> timeTagMode_;
    mutable std::mutex remoteHostMutex_;
    std::optional<std::string> remoteHost_;
    const std::optional<std::uint16_t> localPort_;
    // 0: none.
    std::atomic<std::uint16_t> remotePort_;
    const std::optional<std::string> interface_;
    const bool isIPv4BroadcastEnabled_;
    std::atomic<bool> isStarted_{false};
};

}  // namespace rozuri
