#include <exception>
#include <utility>
#include <vector>

#include "osc/core/OSCBundle.h"
#include "osc/core/OSCMessage.h"
#include "osc/core/OSCPacket.h"
#include "osc/core/OSCTimeTag.h"
#include "osc/tcp/DispatchTcpSocketError.h"
#include "osc/tcp/OSCTCPClientProtocols.h"

namespace rozuri {

namespace {

// Hands a packet's messages to the dispatch one by one, each with the tag of the bundle that
// holds it. A bundle handed over whole would reach the handler hops later than the messages of
// the packets after it; on a stream their order is kept. Decoding bounds the nesting depth.
void handOver(const std::shared_ptr<OSCHandlerProtocol>& receiver, OSCPacket& packet,
              OSCTimeTag timeTag, const std::string& host, std::uint16_t port) {
    if (OSCMessage* message = packet.asMessage()) {
        OSCHandlerProtocol::handle(receiver, OSCPacket(std::move(*message)), timeTag, host, port);
        return;
    }
    OSCBundle* bundle = packet.asBundle();
    const OSCTimeTag bundleTag = bundle->timeTag();
    for (OSCPacket& element : bundle->mutableElements()) {
        handOver(receiver, element, bundleTag, host, port);
    }
}

}  // namespace

void OSCTCPConnectionReader::begin(std::string host, std::uint16_t port) {
    deframer_.reset();
    host_ = std::move(host);
    port_ = port;
}

void OSCTCPConnectionReader::handleReceivedData(const std::shared_ptr<OSCHandlerProtocol>& receiver,
                                                DataView chunk) {
    std::vector<Data> frames = deframer_.feed(chunk);
    for (Data& frame : frames) {
        std::optional<OSCPacket> packet;
        try {
            packet = OSCPacket::decode(std::move(frame));
        } catch (const std::exception&) {
            // Network input: a frame that does not decode is dropped, and reading goes on.
            continue;
        }
        if (!packet) continue;
        handOver(receiver, *packet, OSCTimeTag::immediate(), host_, port_);
    }
}

std::optional<foundation::Error> reportedDisconnectionError(
    const std::optional<foundation::Error>& error) {
    if (!error) return std::nullopt;
    if (error->domain == DispatchTcpSocketError::domain &&
        error->code == static_cast<int>(DispatchTcpSocketError::Code::closed)) {
        return std::nullopt;
    }
    return error;
}

double clampedConnectTimeout(double seconds) {
    // About 31 years: the longest wait the socket's timer still counts.
    constexpr double kLongest = 1e9;
    if (!(seconds >= 1.0)) return 1.0;
    return seconds < kLongest ? seconds : kLongest;
}

}  // namespace rozuri
