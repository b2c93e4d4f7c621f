#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "osc/core/OSCValue.h"

namespace rozuri {

// The OSC argument "N" (nil): no payload; all null values are equal.
struct OSCNullValue {
    std::string description() const { return "Null"; }
    friend constexpr bool operator==(OSCNullValue, OSCNullValue) { return true; }
};

template <>
struct OSCValueTraits<OSCNullValue> {
    static constexpr std::string_view name = "OSCNullValue";
    static OSCValueToken oscValueToken() { return OSCValueToken::null; }
    static const OSCValueTagIdentity& oscTagIdentity() {
        static const auto identity = OSCValueTagIdentity::tag('N');
        return identity;
    }
    static constexpr OSCValueStaticTagEncoder<OSCNullValue> oscEncoding() {
        return {[](const OSCNullValue&) { return OSCEncodedTag{'N', std::nullopt}; }};
    }
    static constexpr OSCValueStaticTagDecoder<OSCNullValue> oscDecoding() {
        return {[](OSCValueDecoder&) { return OSCNullValue{}; }};
    }
    static std::size_t hash(const OSCNullValue&) { return 0; }
    static std::string description(const OSCNullValue& v) { return v.description(); }
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCNullValue> {
    std::size_t operator()(rozuri::OSCNullValue) const noexcept { return 0; }
};
