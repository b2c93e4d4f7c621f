#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string_view>

namespace rozuri {

// The kind of an OSC argument for value masks; the optional form is the ordinal plus 16.
enum class OSCValueToken : std::uint8_t {
    blob = 0,
    float32 = 1,
    int32 = 2,
    string = 3,
    array = 4,
    bool_ = 5,  // "bool"
    character = 6,
    double_ = 7,  // "double"
    int64 = 8,
    impulse = 9,
    midi = 10,
    null = 11,
    stringAlt = 12,
    timeTag = 13,
    number = 14,
    numberOrBool = 15,
    blobOptional = 16,
    float32Optional = 17,
    int32Optional = 18,
    stringOptional = 19,
    arrayOptional = 20,
    boolOptional = 21,
    characterOptional = 22,
    doubleOptional = 23,
    int64Optional = 24,
    impulseOptional = 25,
    midiOptional = 26,
    nullOptional = 27,
    stringAltOptional = 28,
    timeTagOptional = 29,
    numberOptional = 30,
    numberOrBoolOptional = 31,
};

// The 32 cases in declaration order, the required forms first.
const std::array<OSCValueToken, 32>& allOSCValueTokens();

constexpr std::uint8_t ordinal(OSCValueToken t) {
    return static_cast<std::uint8_t>(t);
}
constexpr bool isOptional(OSCValueToken t) {
    return ordinal(t) >= 16;
}
constexpr OSCValueToken baseToken(OSCValueToken t) {
    return static_cast<OSCValueToken>(ordinal(t) % 16);
}
constexpr OSCValueToken optionalToken(OSCValueToken t) {
    return static_cast<OSCValueToken>(ordinal(t) % 16 + 16);
}
// The case name, for example "int32", "bool", "double", "numberOrBoolOptional".
std::string_view tokenName(OSCValueToken t);

}  // namespace rozuri

template <>
struct std::hash<rozuri::OSCValueToken> {
    std::size_t operator()(rozuri::OSCValueToken t) const noexcept {
        return std::hash<std::uint8_t>{}(rozuri::ordinal(t));
    }
};
