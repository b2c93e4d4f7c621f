#include <string>
#include <utility>

#include "osc/tcp/OSCTCPFraming.h"
#include "osc/tcp/OSCTCPServer.h"
#include "osc/udp/DispatchUdpSocketError.h"

namespace rozuri {

void OSCTCPServer::sendOnQueue(const OSCPacket& packet,
                               const std::vector<std::int64_t>& clientIDs) {
    auto& table = tcpDelegate_->clients;
    std::optional<Data> framed;
    for (std::int64_t id : clientIDs) {
        auto it = table.find(id);
        if (it == table.end()) {
            throw DispatchUdpSocketError(DispatchUdpSocketError::Code::badParam,
                                         {{foundation::Error::kReasonKey,
                                           "OSC TCP client socket with ID " + std::to_string(id) +
                                               " not found (not connected)."}});
        }
        // Every client shares the server's framing: one encoding serves them all.
        if (!framed) framed = framedPacket(packet.encodedData(), framingMode_);
        it->second->write(*framed);
    }
}

void OSCTCPServer::send(const OSCPacket& packet, const std::vector<std::int64_t>& clientIDs) {
    onQueue([&] { sendOnQueue(packet, clientIDs); });
}

void OSCTCPServer::send(const OSCBundle& bundle, const std::vector<std::int64_t>& clientIDs) {
    send(OSCPacket(bundle), clientIDs);
}

void OSCTCPServer::send(const OSCMessage& message, const std::vector<std::int64_t>& clientIDs) {
    send(OSCPacket(message), clientIDs);
}

void OSCTCPServer::send(const OSCPacket& packet) {
    onQueue([&] {
        std::vector<std::int64_t> ids;
        ids.reserve(tcpDelegate_->clients.size());
        for (const auto& [id, record] : tcpDelegate_->clients) ids.push_back(id);
        sendOnQueue(packet, ids);
    });
}

void OSCTCPServer::send(const OSCBundle& bundle) {
    send(OSCPacket(bundle));
}

void OSCTCPServer::send(const OSCMessage& message) {
    send(OSCPacket(message));
}

std::map<std::int64_t, OSCTCPServer::ClientInfo> OSCTCPServer::clients() const {
    return onQueue([this] {
        std::map<std::int64_t, ClientInfo> out;
        for (const auto& [id, record] : tcpDelegate_->clients) {
            out.emplace(id, ClientInfo{record->remoteHost, record->remotePort});
        }
        return out;
    });
}

void OSCTCPServer::disconnectClient(std::int64_t clientID) {
    onQueue([&] { tcpDelegate_->disconnectClient(clientID); });
}

}  // namespace rozuri
