#include "osc/tcp/OSCTCPFraming.h"

#include <cstring>

#include "osc/core/OSCEncodeError.h"

namespace rozuri {

const char* OSCTCPSLIPDecodingError::what() const noexcept {
    switch (kind_) {
        case Kind::doubleEscapeBytes:
            return "SLIP packet data is malformed. Double escape bytes encountered.";
        case Kind::missingEscapedCharacter:
            break;
    }
    return "SLIP packet data is malformed. Encountered an escape byte but missing subsequent "
           "escaped character.";
}

Data packetLengthHeaderEncoded(DataView payload, NumberEndianness endianness) {
    // A truncated count would announce a shorter frame and desynchronise the peer's stream.
    if (static_cast<std::uint64_t>(payload.size()) > maxLengthHeaderPayload)
        throw OSCEncodeError::general("Packet of " + std::to_string(payload.size()) +
                                      " bytes is too long for a TCP length header (at most "
                                      "4294967295).");
    Data out;
    out.reserve(4 + payload.size());
    appendDataRepresentation(out, static_cast<std::uint32_t>(payload.size()), endianness);
    out.insert(out.end(), payload.begin(), payload.end());
    return out;
}

std::vector<Data> packetLengthHeaderDecoded(DataView chunk, NumberEndianness endianness) {
    std::vector<Data> payloads;
    std::size_t position = 0;
    while (position < chunk.size()) {
        std::size_t remaining = chunk.size() - position;
        if (remaining < 4) throw OSCTCPPacketLengthHeaderDecodingError::notEnoughBytes();
        std::optional<std::uint32_t> length = uint32Value(chunk.subspan(position, 4), endianness);
        if (!length) throw OSCTCPPacketLengthHeaderDecodingError::notEnoughBytes();
        // Compared, never added: a length near 2^32 must not wrap the position.
        std::uint64_t count = *length;
        if (count > remaining - 4) throw OSCTCPPacketLengthHeaderDecodingError::notEnoughBytes();
        auto body = chunk.subspan(position + 4, static_cast<std::size_t>(count));
        payloads.emplace_back(body.begin(), body.end());
        position += 4 + static_cast<std::size_t>(count);
    }
    return payloads;
}

Data slipEncoded(DataView payload) {
    Data out;
    out.reserve(payload.size() + payload.size() / 10);
    out.push_back(slip::end);
    for (std::uint8_t byte : payload) {
        if (byte == slip::end) {
            out.push_back(slip::esc);
            out.push_back(slip::escEnd);
        } else if (byte == slip::esc) {
            out.push_back(slip::esc);
            out.push_back(slip::escEsc);
        } else {
            out.push_back(byte);
        }
    }
    out.push_back(slip::end);
    return out;
}

std::vector<Data> slipDecoded(DataView chunk) {
    std::vector<Data> payloads;
    Data current;
    bool escaped = false;
    for (std::uint8_t byte : chunk) {
        switch (byte) {
            case slip::end:
                if (escaped) throw OSCTCPSLIPDecodingError::missingEscapedCharacter();
                if (!current.empty()) payloads.push_back(std::move(current));
                current.clear();
                break;
            case slip::esc:
                if (escaped) throw OSCTCPSLIPDecodingError::doubleEscapeBytes();
                escaped = true;
                break;
            case slip::escEnd:
                current.push_back(escaped ? slip::end : slip::escEnd);
                escaped = false;
                break;
            case slip::escEsc:
                current.push_back(escaped ? slip::esc : slip::escEsc);
                escaped = false;
                break;
            default:
                if (escaped) throw OSCTCPSLIPDecodingError::missingEscapedCharacter();
                current.push_back(byte);
                break;
        }
    }
    if (escaped) throw OSCTCPSLIPDecodingError::missingEscapedCharacter();
    if (!current.empty()) payloads.push_back(std::move(current));
    return payloads;
}

Data framedPacket(DataView packet, OSCTCPFramingMode mode) {
    switch (mode) {
        case OSCTCPFramingMode::osc1_0:
            return packetLengthHeaderEncoded(packet, NumberEndianness::bigEndian);
        case OSCTCPFramingMode::osc1_1:
            return slipEncoded(packet);
        case OSCTCPFramingMode::none:
            break;
    }
    return Data(packet.begin(), packet.end());
}

}  // namespace rozuri
