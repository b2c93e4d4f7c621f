#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "osc/core/OSCBundle.h"
#include "osc/core/OSCMessage.h"
#include "osc/core/OSCPacket.h"
#include "osc/udp/DispatchUdpSocket.h"
#include "osc/udp/OSCUDPClientDelegate.h"

namespace rozuri {

// Sends OSC packets as UDP datagrams to any host and port. It never receives: start() binds
// only to fix the local port, interface, port reuse and broadcast of what it sends. send()
// works without start() too, from a port the system picks.
//
// A datagram to a numeric host, "localhost" or "loopback" normally leaves from the caller's
// thread before send() returns; one to a name waits for its lookup on the socket queue.
//
// Each datagram is handed over with a time-out of 1 s; what becomes of it after that (lookup
// failure, time-out, refusal by the system) is not reported. stop() and release let the
// datagrams already handed over go first (each bounded by its time-out).
//
// A client that shares a receiver's port through port reuse takes a share of the unicast
// datagrams sent to that port: the system spreads them over the sockets on it.
//
// The operations run on the caller's thread; the flags are atomic.
class OSCUDPClient final {
  public:
    static std::shared_ptr<OSCUDPClient> create();
    // `localPort` none or 0: the system picks one. `interface` none: all interfaces.
    static std::shared_ptr<OSCUDPClient> create(std::optional<std::uint16_t> localPort,
                                                std::optional<std::string> interface,
                                                bool isPortReuseEnabled,
                                                bool isIPv4BroadcastEnabled);
    ~OSCUDPClient();
    OSCUDPClient(const OSCUDPClient&) = delete;
    OSCUDPClient& operator=(const OSCUDPClient&) = delete;

    // Closes the socket (at once, even while a stop() is draining), then applies port reuse
    // and broadcast and binds. Throws OSCSocketError with the socket's error unchanged and
    // stays unstarted. Does nothing when already started.
    void start();
    void stop();
    bool isStarted() const { return isStarted_.load(); }
    // The port actually bound (0 while none is).
    std::uint16_t localPort() const;

    // Written value is kept; a refusal by the socket is not reported.
    bool isIPv4BroadcastEnabled() const { return isIPv4BroadcastEnabled_.load(); }
    void setIPv4BroadcastEnabled(bool enabled);
    bool isPortReuseEnabled() const { return isPortReuseEnabled_.load(); }
    void setPortReuseEnabled(bool enabled) { isPortReuseEnabled_.store(enabled); }
    // Read by start(); not to be changed while another thread starts the client.
    const std::optional<std::string>& interface() const { return interface_; }
    void setInterface(std::optional<std::string> interface) { interface_ = std::move(interface); }

    // Encodes and hands over; returns at once. Throws OSCEncodeError when encoding fails, and
    // DispatchUdpSocketError code 2 ("Reason": the cause) for port 0, an empty host or a packet
    // larger than a datagram (65507 bytes to an IPv4 address, an IPv4-mapped one, "localhost"
    // or "loopback"; 65527 otherwise), or OSCSocketError (resolver domain) for a text that cannot
    // name a host; nothing is sent then.
    void send(const OSCPacket& packet, const std::string& host, std::uint16_t port);
    void send(const OSCBundle& bundle, const std::string& host, std::uint16_t port);
    void send(const OSCMessage& message, const std::string& host, std::uint16_t port);

  private:
    OSCUDPClient();
    void sendData(Data data, const std::string& host, std::uint16_t port);

    std::shared_ptr<DispatchUdpSocket> udpSocket_;
    std::shared_ptr<OSCUDPClientDelegate> udpDelegate_;
    std::optional<std::uint16_t> localPort_;
    std::optional<std::string> interface_;
    std::atomic<bool> isPortReuseEnabled_{false};
    std::atomic<bool> isIPv4BroadcastEnabled_{false};
    std::atomic<bool> isStarted_{false};
};

}  // namespace rozuri
