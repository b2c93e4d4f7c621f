#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "osc/core/AnyOSCValue.h"

namespace rozuri {

// The OSC array: the tags "[", the elements' tags, "]"; the payload is the elements' payloads
// one after another. Arrays nest.
struct OSCArrayValue {
    std::vector<AnyOSCValue> elements;

    OSCArrayValue() = default;
    explicit OSCArrayValue(std::vector<AnyOSCValue> elements) : elements(std::move(elements)) {}

    // "[1, a]": each element's debug text.
    std::string description() const;
    // Same count and equal elements in order (same dynamic type, equal value).
    friend bool operator==(const OSCArrayValue& a, const OSCArrayValue& b) {
        return valueArraysEqual(a.elements, b.elements);
    }
};

template <>
struct OSCValueTraits<OSCArrayValue> {
    static constexpr std::string_view name = "OSCArrayValue";
    static OSCValueToken oscValueToken() { return OSCValueToken::array; }
    static const OSCValueTagIdentity& oscTagIdentity() {
        static const auto identity = OSCValueTagIdentity::variadic(2, std::nullopt);
        return identity;
    }
    static OSCValueVariadicTagEncoder<OSCArrayValue> oscEncoding();
    static OSCValueVariadicTagDecoder<OSCArrayValue> oscDecoding();
    static std::size_t hash(const OSCArrayValue& v);
    static std::string description(const OSCArrayValue& v) { return v.description(); }
};

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCArrayValue> {
    std::size_t operator()(const rozuri::OSCArrayValue& v) const noexcept {
        return rozuri::OSCValueTraits<rozuri::OSCArrayValue>::hash(v);
    }
};
