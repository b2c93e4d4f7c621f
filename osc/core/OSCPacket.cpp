#include "osc/core/OSCPacket.h"

namespace rozuri {

std::optional<OSCPacketType> packetType(DataView data) {
    if (isOSCBundle(data)) return OSCPacketType::bundle;
    if (isOSCMessage(data)) return OSCPacketType::message;
    return std::nullopt;
}

std::optional<OSCPacket> OSCPacket::decode(std::shared_ptr<const Data> buffer) {
    if (!buffer) return std::nullopt;
    std::optional<OSCPacketType> type = rozuri::packetType(*buffer);
    if (!type) return std::nullopt;
    // Made in place: a message or bundle is moved once, into the packet.
    if (*type == OSCPacketType::bundle)
        return std::optional<OSCPacket>(std::in_place, OSCBundle::decode(std::move(buffer)));
    std::size_t size = buffer->size();
    return std::optional<OSCPacket>(std::in_place, std::in_place_type<OSCMessage>,
                                    OSCMessage::DecodeKey(), std::move(buffer), 0, size);
}

std::optional<OSCPacket> OSCPacket::decode(DataView data) {
    // The type test first, so that bytes that are no packet cost no copy.
    if (!rozuri::packetType(data)) return std::nullopt;
    return decode(std::make_shared<const Data>(data.begin(), data.end()));
}

std::optional<OSCPacket> OSCPacket::decode(Data&& data) {
    return decode(std::make_shared<const Data>(std::move(data)));
}

void OSCPacket::appendEncodedData(Data& out) const {
    if (const OSCMessage* m = asMessage())
        m->appendEncodedData(out);
    else
        asBundle()->appendEncodedData(out);
}

Data OSCPacket::encodedData() const {
    if (const OSCMessage* m = asMessage()) return m->encodedData();
    return asBundle()->encodedData();
}

std::vector<OSCMessage> OSCPacket::flattened() const {
    if (const OSCMessage* m = asMessage()) return {*m};
    return asBundle()->flattened();
}

std::size_t OSCPacket::hash() const {
    std::size_t h = value_.index();
    std::size_t payload = isMessage() ? asMessage()->hash() : asBundle()->hash();
    return h ^ (payload + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
}

std::string OSCPacket::description() const {
    return isMessage() ? asMessage()->description() : asBundle()->description();
}

std::string OSCPacket::multilineDescription() const {
    return isMessage() ? asMessage()->multilineDescription() : asBundle()->multilineDescription();
}

}  // namespace rozuri
