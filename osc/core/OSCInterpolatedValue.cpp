#include "osc/core/OSCInterpolatedValue.h"

#include <cmath>
#include <limits>
#include <utility>

#include "osc/core/OSCDecodeError.h"
#include "osc/core/OSCEncodeError.h"
#include "osc/core/OSCValueDecoder.h"
#include "osc/core/ValueDescriptions.h"

namespace rozuri {

namespace {

template <class Rep>
std::string text(Rep v) {
    if constexpr (std::is_floating_point_v<Rep>) {
        return describeFloat80(static_cast<long double>(v));
    } else {
        return std::to_string(v);
    }
}

// Integer value of type Rep named `name`, written as Core after an exact range check.
template <class Core, class Rep>
OSCEncodedTag encodeInteger(Rep v, std::string_view name) {
    if (!std::in_range<Core>(v))
        throw OSCEncodeError::valueEncodingError("Value " + text(v) + " of type " +
                                                 std::string(name) + " is out of range for " +
                                                 std::string(OSCValueTraits<Core>::name) + ".");
    return OSCValueTraits<Core>::oscEncoding().block(static_cast<Core>(v));
}

// A received Core value as Rep, after an exact range check.
template <class Rep, class Core>
Rep decodeInteger(OSCValueDecoder& d, std::string_view name) {
    Core v = OSCValueTraits<Core>::oscDecoding().block(d);
    if (!std::in_range<Rep>(v))
        throw OSCDecodeError::valueDecodingError("Value " + std::to_string(v) +
                                                 " is out of range for " + std::string(name) + ".");
    return static_cast<Rep>(v);
}

}  // namespace

template <class Type>
auto unwrap(const Type& v) {
    if constexpr (std::is_arithmetic_v<Type>) {
        return v;
    } else {
        return v.value;
    }
}
template <class Type, class Rep>
Type wrap(Rep v) {
    if constexpr (std::is_arithmetic_v<Type>) {
        return v;
    } else {
        return Type(v);
    }
}

#define ROZURI_INTEGER_BLOCKS(Type, Rep, Core)                                                     \
    OSCValueStaticTagEncoder<Type> OSCValueTraits<Type>::oscEncoding() {                           \
        return {[](const Type& v) { return encodeInteger<Core, Rep>(unwrap(v), name); }};          \
    }                                                                                              \
    OSCValueStaticTagDecoder<Type> OSCValueTraits<Type>::oscDecoding() {                           \
        return {[](OSCValueDecoder& d) { return wrap<Type>(decodeInteger<Rep, Core>(d, name)); }}; \
    }                                                                                              \
    std::string OSCValueTraits<Type>::description(const Type& v) {                                 \
        return text<Rep>(unwrap(v));                                                               \
    }

ROZURI_INTEGER_BLOCKS(Int, std::int64_t, std::int32_t)
ROZURI_INTEGER_BLOCKS(std::int8_t, std::int8_t, std::int32_t)
ROZURI_INTEGER_BLOCKS(std::int16_t, std::int16_t, std::int32_t)
ROZURI_INTEGER_BLOCKS(std::uint8_t, std::uint8_t, std::int32_t)
ROZURI_INTEGER_BLOCKS(std::uint16_t, std::uint16_t, std::int32_t)
ROZURI_INTEGER_BLOCKS(std::uint32_t, std::uint32_t, std::int64_t)
ROZURI_INTEGER_BLOCKS(UInt, std::uint64_t, std::int64_t)
ROZURI_INTEGER_BLOCKS(std::uint64_t, std::uint64_t, std::int64_t)
#undef ROZURI_INTEGER_BLOCKS

// Float80: rounded to the nearest Double on the way out, widened exactly on the way in.
OSCValueStaticTagEncoder<Float80> OSCValueTraits<Float80>::oscEncoding() {
    return {[](const Float80& v) {
        return OSCValueTraits<double>::oscEncoding().block(static_cast<double>(v));
    }};
}
OSCValueStaticTagDecoder<Float80> OSCValueTraits<Float80>::oscDecoding() {
    return {[](OSCValueDecoder& d) { return static_cast<Float80>(d.readDouble()); }};
}
std::string OSCValueTraits<Float80>::description(const Float80& v) {
    return describeFloat80(v);
}

// CGFloat is a Double.
OSCValueStaticTagEncoder<CGFloat> OSCValueTraits<CGFloat>::oscEncoding() {
    return {[](const CGFloat& v) { return OSCValueTraits<double>::oscEncoding().block(v.value); }};
}
OSCValueStaticTagDecoder<CGFloat> OSCValueTraits<CGFloat>::oscDecoding() {
    return {[](OSCValueDecoder& d) { return CGFloat(d.readDouble()); }};
}
std::string OSCValueTraits<CGFloat>::description(const CGFloat& v) {
    return describeDouble(v.value);
}

}  // namespace rozuri
