#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/OSCHandlerProtocol.h"
#include "osc/udp/OSCSocketError.h"
#include "osc/udp/OSCTimeTagMode.h"
#include "osc/udp/OSCUDPServerDelegate.h"
#include "platform/dispatch/Queue.h"

namespace rozuri {

// The OSC receiver on a UDP port: binds its socket to the port (and interface), decodes every
// datagram and delivers each message, bundles unpacked, to the receive handler on `queue`.
// Datagrams that do not decode are dropped silently and receiving goes on.
//
// start(), stop() and the accessors may be called from any thread; the handler runs on queue.
class OSCUDPServer final : public OSCHandlerProtocol,
                           public std::enable_shared_from_this<OSCUDPServer> {
  public:
    // `port` none or 0: the system picks one at bind (see localPort()). `interface` none: all
    // interfaces. `queue` null: a serial queue of the server's own.
    static std::shared_ptr<OSCUDPServer> create(std::optional<std::uint16_t> port,
                                                std::optional<std::string> interface,
                                                OSCTimeTagMode timeTagMode,
                                                std::shared_ptr<dispatch::Queue> queue,
                                                OSCReceiveHandler receiveHandler);
    static std::shared_ptr<OSCUDPServer> create(std::uint16_t port, OSCTimeTagMode timeTagMode,
                                                std::shared_ptr<dispatch::Queue> queue = nullptr,
                                                OSCReceiveHandler receiveHandler = {});

    OSCUDPServer(const OSCUDPServer&) = delete;
    OSCUDPServer& operator=(const OSCUDPServer&) = delete;

    // Closes any earlier socket state, binds and begins receiving. Throws OSCSocketError with
    // the socket's error unchanged (e.g. EADDRINUSE, failure reason "Error in bind() function")
    // and stays unstarted. Does nothing when already started.
    void start();
    // Closes the socket: the port is free when it returns. Never fails.
    void stop();
    bool isStarted() const { return isStarted_.load(); }
    // The port actually bound (0 while not bound).
    std::uint16_t localPort() const;

    // Replaced on `queue`: messages delivered before that still see the old handler.
    void setReceiveHandler(OSCReceiveHandler handler);

    const std::shared_ptr<dispatch::Queue>& queue() const override { return queue_; }
    OSCTimeTagMode timeTagMode() const override { return timeTagMode_.load(); }
    void setTimeTagMode(OSCTimeTagMode mode) { timeTagMode_.store(mode); }
    const OSCReceiveHandler& receiveHandler() const override { return receiveHandler_; }
    const std::optional<std::string>& interface() const { return interface_; }

  private:
    OSCUDPServer(std::optional<std::uint16_t> port, std::optional<std::string> interface,
                 OSCTimeTagMode timeTagMode, std::shared_ptr<dispatch::Queue> queue,
                 OSCReceiveHandler receiveHandler);

    std::shared_ptr<DispatchUdpSocket> udpSocket_;
    std::shared_ptr<OSCUDPServerDelegate> udpDelegate_;
    std::shared_ptr<dispatch::Queue> queue_;
    OSCReceiveHandler receiveHandler_;
    std::atomic<OSCTimeTagMode> timeTagMode_;
    std::optional<std::uint16_t> localPort_;
    std::optional<std::string> interface_;
    std::atomic<bool> isStarted_{false};
};

}  // namespace rozuri
