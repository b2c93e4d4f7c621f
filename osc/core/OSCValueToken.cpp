#include "osc/core/OSCValueToken.h"

namespace rozuri {

const std::array<OSCValueToken, 32>& allOSCValueTokens() {
    static const std::array<OSCValueToken, 32> all = [] {
        std::array<OSCValueToken, 32> a{};
        for (std::uint8_t i = 0; i < 32; ++i) a[i] = static_cast<OSCValueToken>(i);
        return a;
    }();
    return all;
}

std::string_view tokenName(OSCValueToken t) {
    static constexpr std::string_view names[32] = {"blob",
                                                   "float32",
                                                   "int32",
                                                   "string",
                                                   "array",
                                                   "bool",
                                                   "character",
                                                   "double",
                                                   "int64",
                                                   "impulse",
                                                   "midi",
                                                   "null",
                                                   "stringAlt",
                                                   "timeTag",
                                                   "number",
                                                   "numberOrBool",
                                                   "blobOptional",
                                                   "float32Optional",
                                                   "int32Optional",
                                                   "stringOptional",
                                                   "arrayOptional",
                                                   "boolOptional",
                                                   "characterOptional",
                                                   "doubleOptional",
                                                   "int64Optional",
                                                   "impulseOptional",
                                                   "midiOptional",
                                                   "nullOptional",
                                                   "stringAltOptional",
                                                   "timeTagOptional",
                                                   "numberOptional",
                                                   "numberOrBoolOptional"};
    return names[ordinal(t) % 32];
}

}  // namespace rozuri
