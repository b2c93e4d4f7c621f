#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "osc/core/OSCCoreValueTypes.h"

namespace rozuri {

// The OSC argument "S", the alternate string type: written and read exactly as a String "s".
struct OSCStringAltValue {
    std::string string;

    OSCStringAltValue() = default;
    explicit OSCStringAltValue(std::string text) : string(std::move(text)) {}

    const std::string& description() const { return string; }
    friend bool operator==(const OSCStringAltValue&, const OSCStringAltValue&) = default;
    // Against any text, on either side.
    friend bool operator==(const OSCStringAltValue& a, std::string_view b) { return a.string == b; }
};

template <>
struct OSCValueTraits<OSCStringAltValue> {
    static constexpr std::string_view name = "OSCStringAltValue";
    static OSCValueToken oscValueToken() { return OSCValueToken::stringAlt; }
    static const OSCValueTagIdentity& oscTagIdentity() {
        static const auto identity = OSCValueTagIdentity::tag('S');
        return identity;
    }
    static OSCValueStaticTagEncoder<OSCStringAltValue> oscEncoding() {
        return {[](const OSCStringAltValue& v) {
            OSCEncodedTag encoded = OSCValueTraits<std::string>::oscEncoding().block(v.string);
            encoded.tag = 'S';
            return encoded;
        }};
    }
    static OSCValueStaticTagDecoder<OSCStringAltValue> oscDecoding() {
        return {[](OSCValueDecoder& d) {
            return OSCStringAltValue(OSCValueTraits<std::string>::oscDecoding().block(d));
        }};
    }
    static std::size_t hash(const OSCStringAltValue& v) {
        return std::hash<std::string>{}(v.string);
    }
    static std::string description(const OSCStringAltValue& v) { return v.string; }
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCStringAltValue> {
    std::size_t operator()(const rozuri::OSCStringAltValue& v) const noexcept {
        return std::hash<std::string>{}(v.string);
    }
};
