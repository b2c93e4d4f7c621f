#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "osc/core/OSCValue.h"
#include "osc/core/OSCValueDecoder.h"

namespace rozuri {

// The OSC argument "m": a 4-byte MIDI message (port ID, status byte, two data bytes).
struct OSCMIDIValue {
    std::uint8_t portID = 0;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;

    // "MIDI(portID: 0x01, status: 0x90, data1: 0x3C, data2: 0x7F)"
    std::string description() const;

    // Keyed coding: {"bytes": [portID, status, data1, data2]}. A list of another length throws
    // DecodingError (data corrupted) "Found unexpected number of values when decoding MIDI
    // bytes."; errors of the JSON value itself pass through.
    nlohmann::json toJSON() const;
    static OSCMIDIValue fromJSON(const nlohmann::json& json,
                                 std::vector<std::string> codingPath = {});

    friend constexpr bool operator==(const OSCMIDIValue&, const OSCMIDIValue&) = default;
};

template <>
struct OSCValueTraits<OSCMIDIValue> {
    static constexpr std::string_view name = "OSCMIDIValue";
    static OSCValueToken oscValueToken() { return OSCValueToken::midi; }
    static const OSCValueTagIdentity& oscTagIdentity() {
        static const auto identity = OSCValueTagIdentity::tag('m');
        return identity;
    }
    static constexpr OSCValueStaticTagEncoder<OSCMIDIValue> oscEncoding() {
        return {[](const OSCMIDIValue& v) {
            return OSCEncodedTag{'m', Data{v.portID, v.status, v.data1, v.data2}};
        }};
    }
    static constexpr OSCValueStaticTagDecoder<OSCMIDIValue> oscDecoding() {
        return {[](OSCValueDecoder& d) {
            DataView b = d.readBytes(4);
            return OSCMIDIValue{b[0], b[1], b[2], b[3]};
        }};
    }
    static std::size_t hash(const OSCMIDIValue& v);
    static std::string description(const OSCMIDIValue& v) { return v.description(); }
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCMIDIValue> {
    std::size_t operator()(const rozuri::OSCMIDIValue& v) const noexcept {
        return rozuri::OSCValueTraits<rozuri::OSCMIDIValue>::hash(v);
    }
};
