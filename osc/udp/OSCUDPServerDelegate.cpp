#include "osc/udp/OSCUDPServerDelegate.h"

#include <exception>
#include <optional>
#include <string>
#include <utility>

#include "osc/udp/DispatchUdpSocket.h"

namespace rozuri {

void OSCUDPServerDelegate::udpSocketDidReceiveData(const std::shared_ptr<DispatchUdpSocket>&,
                                                   Data data, const Data& address,
                                                   const std::any&) {
    auto owner = oscServer.lock();
    if (!owner) return;
    std::string host;
    std::uint16_t port = 0;
    DispatchUdpSocket::getHost(&host, &port, address);
    std::optional<OSCPacket> packet;
    try {
        packet = OSCPacket::decode(std::move(data));
    } catch (const std::exception&) {
        // Network input: whatever fails to decode is dropped, and receiving goes on.
        return;
    }
    if (!packet) return;
    OSCHandlerProtocol::handle(std::move(owner), std::move(*packet), OSCTimeTag::immediate(),
                               std::move(host), port);
}

}  // namespace rozuri
