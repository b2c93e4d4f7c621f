#include "osc/core/AnyOSCValue.h"

#include "osc/core/OSCCoreValueTypes.h"

namespace rozuri {

AnyOSCValue::AnyOSCValue(const char* text) : AnyOSCValue(std::string(text)) {}
AnyOSCValue::AnyOSCValue(std::string_view text) : AnyOSCValue(std::string(text)) {}

bool valueArraysEqual(std::span<const AnyOSCValue> a, std::span<const AnyOSCValue> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (!(a[i] == b[i])) return false;
    return true;
}

std::size_t hashValues(std::span<const AnyOSCValue> values) {
    std::size_t seed = values.size();
    for (const auto& v : values)
        seed ^= v.hash() + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
    return seed;
}

}  // namespace rozuri
