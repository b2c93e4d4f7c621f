#include "osc/masks/OSCValueMask.h"

#include <limits>

namespace rozuri {

namespace {

// A span never holds more than PTRDIFF_MAX elements, so its size compares as a signed number.
std::int64_t countOf(std::span<const AnyOSCValue> values) {
    return static_cast<std::int64_t>(values.size());
}

}  // namespace

void checkValueCount(std::int64_t count, std::span<const AnyOSCValue> values) {
    if (countOf(values) != count) throw OSCValueMaskError::invalidCount();
}

void checkValueCountRange(std::int64_t min, std::int64_t max, std::span<const AnyOSCValue> values) {
    const std::int64_t count = countOf(values);
    if (count < min || count > max) throw OSCValueMaskError::invalidCount();
}

namespace detail {

bool indexInside(std::int64_t index, std::span<const AnyOSCValue> values) {
    return index >= 0 && index < countOf(values);
}

const AnyOSCValue& valueAt(std::int64_t index, std::span<const AnyOSCValue> values) {
    if (!indexInside(index, values)) throw OSCValueMaskError::invalidCount();
    return values[static_cast<std::size_t>(index)];
}

// Decided by numeric category, not by the C++ type: Bool is an integer to C++ but not here.
Int maskInt(const AnyOSCValue& value) {
    const auto& d = value.descriptor();
    switch (d.numericCategory) {
        case OSCNumericCategory::signedInteger:
            return Int(d.signedValue(value.rawValue()));
        case OSCNumericCategory::unsignedInteger: {
            const std::uint64_t u = d.unsignedValue(value.rawValue());
            if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) break;
            return Int(static_cast<std::int64_t>(u));
        }
        case OSCNumericCategory::none:
        case OSCNumericCategory::boolean:
        case OSCNumericCategory::floatingPoint:
            break;
    }
    throw OSCValueMaskError::mismatchedTypes();
}

AnyOSCNumberValue maskNumber(const AnyOSCValue& value) {
    if (auto number = AnyOSCNumberValue::fromValue(value)) return std::move(*number);
    throw OSCValueMaskError::mismatchedTypes();
}

}  // namespace detail

}  // namespace rozuri
