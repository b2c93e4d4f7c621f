#pragma once

// What connects the OSC TCP client, server and their delegates: the receiver protocols, the
// per-connection receive step, and which disconnection errors reach the user.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "osc/core/Data.h"
#include "osc/tcp/DispatchTcpSocket.h"
#include "osc/tcp/OSCTCPFramingMode.h"
#include "osc/tcp/OSCTCPStreamDeframer.h"
#include "osc/udp/OSCHandlerProtocol.h"
#include "platform/foundation/Error.h"

namespace rozuri {

// An OSC receiver on a TCP socket.
class OSCTCPHandlerProtocol : public OSCHandlerProtocol {
  public:
    virtual const std::shared_ptr<DispatchTcpSocket>& tcpSocket() const = 0;
    virtual OSCTCPFramingMode framingMode() const = 0;
};

// The connection changes of one TCP connection, reported on the receiver's queue.
class OSCTCPGeneratesClientNotificationsProtocol {
  public:
    virtual ~OSCTCPGeneratesClientNotificationsProtocol() = default;
    virtual void generateConnectedNotification() = 0;
    virtual void generateDisconnectedNotification(std::optional<foundation::Error> error) = 0;
};

// The receive side of one connection: its stream de-framer and the peer's host and port as they
// were when the connection was made (the socket may be closed by the time its last bytes are
// handled). Confined to the receiver's queue.
class OSCTCPConnectionReader {
  public:
    explicit OSCTCPConnectionReader(
        OSCTCPFramingMode mode, std::size_t frameLimit = OSCTCPStreamDeframer::defaultFrameLimit)
        : deframer_(mode, frameLimit) {}

    // A new connection: forgets any unfinished frame of the last one.
    void begin(std::string host, std::uint16_t port);
    // De-frames the chunk and hands every packet it completes to the receive dispatch with the
    // immediate time tag; frames that do not decode are dropped silently.
    void handleReceivedData(const std::shared_ptr<OSCHandlerProtocol>& receiver, DataView chunk);

    void setFrameLimit(std::size_t limit) { deframer_.setFrameLimit(limit); }
    const std::string& host() const { return host_; }
    std::uint16_t port() const { return port_; }
    const OSCTCPStreamDeframer& deframer() const { return deframer_; }

  private:
    OSCTCPStreamDeframer deframer_;
    std::string host_;
    std::uint16_t port_ = 0;
};

// The error a disconnection reports: none for a requested close and for the peer's orderly
// close (the TCP domain's Closed code); every other error is passed on whatever its domain.
std::optional<foundation::Error> reportedDisconnectionError(
    const std::optional<foundation::Error>& error);

// Connect time-outs in seconds: not a number or below 1 becomes 1; huge values are capped so
// that the socket's timer can count them.
double clampedConnectTimeout(double seconds);

}  // namespace rozuri
