#include "osc/core/OSCMIDIValue.h"

#include <array>
#include <cstdio>
#include <vector>

#include <nlohmann/json.hpp>

#include "osc/core/DecodingError.h"

namespace rozuri {

std::string OSCMIDIValue::description() const {
    char text[80];
    std::snprintf(text, sizeof text,
                  "MIDI(portID: 0x%02X, status: 0x%02X, data1: 0x%02X, data2: 0x%02X)", portID,
                  status, data1, data2);
    return text;
}

std::size_t OSCValueTraits<OSCMIDIValue>::hash(const OSCMIDIValue& v) {
    std::uint32_t packed = (std::uint32_t{v.portID} << 24) | (std::uint32_t{v.status} << 16) |
                           (std::uint32_t{v.data1} << 8) | v.data2;
    return std::hash<std::uint32_t>{}(packed);
}

nlohmann::json OSCMIDIValue::toJSON() const {
    return nlohmann::json{{"bytes", std::array<std::uint8_t, 4>{portID, status, data1, data2}}};
}

OSCMIDIValue OSCMIDIValue::fromJSON(const nlohmann::json& json,
                                    std::vector<std::string> codingPath) {
    const nlohmann::json& list = json.at("bytes");
    if (!list.is_array())
        throw DecodingError::typeMismatch(codingPath, "Expected a list of bytes.");
    std::vector<std::uint8_t> bytes;
    for (const nlohmann::json& b : list) {
        // Out-of-range numbers are refused rather than truncated.
        if (!b.is_number_unsigned() || b.get<std::uint64_t>() > 255)
            throw DecodingError::typeMismatch(codingPath, "Expected a byte value (0 to 255).");
        bytes.push_back(static_cast<std::uint8_t>(b.get<std::uint64_t>()));
    }
    if (bytes.size() != 4)
        throw DecodingError::dataCorrupted(
            std::move(codingPath), "Found unexpected number of values when decoding MIDI bytes.");
    return OSCMIDIValue{bytes[0], bytes[1], bytes[2], bytes[3]};
}

}  // namespace rozuri
