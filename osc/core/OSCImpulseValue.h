#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "osc/core/OSCValue.h"

namespace rozuri {

// The OSC argument "I" (impulse, "bang"): no payload; all impulses are equal.
struct OSCImpulseValue {
    std::string description() const { return "Impulse"; }
    friend constexpr bool operator==(OSCImpulseValue, OSCImpulseValue) { return true; }
};

template <>
struct OSCValueTraits<OSCImpulseValue> {
    static constexpr std::string_view name = "OSCImpulseValue";
    static OSCValueToken oscValueToken() { return OSCValueToken::impulse; }
    static const OSCValueTagIdentity& oscTagIdentity() {
        static const auto identity = OSCValueTagIdentity::tag('I');
        return identity;
    }
    static constexpr OSCValueStaticTagEncoder<OSCImpulseValue> oscEncoding() {
        return {[](const OSCImpulseValue&) { return OSCEncodedTag{'I', std::nullopt}; }};
    }
    static constexpr OSCValueStaticTagDecoder<OSCImpulseValue> oscDecoding() {
        return {[](OSCValueDecoder&) { return OSCImpulseValue{}; }};
    }
    static std::size_t hash(const OSCImpulseValue&) { return 0; }
    static std::string description(const OSCImpulseValue& v) { return v.description(); }
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCImpulseValue> {
    std::size_t operator()(rozuri::OSCImpulseValue) const noexcept { return 0; }
};
