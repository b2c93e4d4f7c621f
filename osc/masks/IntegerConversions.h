#pragma once

// Integer to fixed-width integer and integer to floating point, for any BinaryInteger source
// (128-bit included).
//
// Plain forms (int8Value, ...): the caller guarantees x lies in the target's range; outside it the
// result is x truncated to the target's width. Exact forms (int8ValueExactly, ...): empty when x
// does not lie in the range. intValue/uintValue are the 64-bit forms under a second name.
// Floating forms round to nearest, ties to even; their exact forms are empty unless the result
// equals x. float80Value is exact for every source of up to 64 bits.

#include <cmath>
#include <cstdint>
#include <optional>

#include "osc/core/NumericTypes.h"
#include "osc/masks/BinaryInteger.h"

namespace rozuri::numeric {

// Whether x, compared as a mathematical integer, lies in T's range. Only the comparisons that can
// fail for the pair of types are made.
template <BinaryInteger T, BinaryInteger X>
constexpr bool fitsIn(X x) {
    using XI = IntegerInfo<X>;
    using TI = IntegerInfo<T>;
    if constexpr (XI::isSigned && (!TI::isSigned || XI::bitWidth > TI::bitWidth)) {
        if (x < X(TI::min)) return false;
    }
    if constexpr (XI::bitWidth > TI::bitWidth ||
                  (XI::bitWidth == TI::bitWidth && !XI::isSigned && TI::isSigned)) {
        if (x > X(TI::max)) return false;
    }
    return true;
}

// x truncated to T's width (the value itself when it fits).
template <BinaryInteger T, BinaryInteger X>
constexpr T truncatingValue(X x) {
    return static_cast<T>(x);
}

template <BinaryInteger T, BinaryInteger X>
constexpr std::optional<T> exactValue(X x) {
    if (!fitsIn<T>(x)) return std::nullopt;
    return static_cast<T>(x);
}

// clang-format off
template <BinaryInteger X> constexpr std::int64_t intValue(X x) { return truncatingValue<std::int64_t>(x); }
template <BinaryInteger X> constexpr std::int8_t int8Value(X x) { return truncatingValue<std::int8_t>(x); }
template <BinaryInteger X> constexpr std::int16_t int16Value(X x) { return truncatingValue<std::int16_t>(x); }
template <BinaryInteger X> constexpr std::int32_t int32Value(X x) { return truncatingValue<std::int32_t>(x); }
template <BinaryInteger X> constexpr std::int64_t int64Value(X x) { return truncatingValue<std::int64_t>(x); }
template <BinaryInteger X> constexpr std::uint64_t uintValue(X x) { return truncatingValue<std::uint64_t>(x); }
template <BinaryInteger X> constexpr std::uint8_t uint8Value(X x) { return truncatingValue<std::uint8_t>(x); }
template <BinaryInteger X> constexpr std::uint16_t uint16Value(X x) { return truncatingValue<std::uint16_t>(x); }
template <BinaryInteger X> constexpr std::uint32_t uint32Value(X x) { return truncatingValue<std::uint32_t>(x); }
template <BinaryInteger X> constexpr std::uint64_t uint64Value(X x) { return truncatingValue<std::uint64_t>(x); }

template <BinaryInteger X> constexpr std::optional<std::int64_t> intValueExactly(X x) { return exactValue<std::int64_t>(x); }
template <BinaryInteger X> constexpr std::optional<std::int8_t> int8ValueExactly(X x) { return exactValue<std::int8_t>(x); }
template <BinaryInteger X> constexpr std::optional<std::int16_t> int16ValueExactly(X x) { return exactValue<std::int16_t>(x); }
template <BinaryInteger X> constexpr std::optional<std::int32_t> int32ValueExactly(X x) { return exactValue<std::int32_t>(x); }
template <BinaryInteger X> constexpr std::optional<std::int64_t> int64ValueExactly(X x) { return exactValue<std::int64_t>(x); }
template <BinaryInteger X> constexpr std::optional<std::uint64_t> uintValueExactly(X x) { return exactValue<std::uint64_t>(x); }
template <BinaryInteger X> constexpr std::optional<std::uint8_t> uint8ValueExactly(X x) { return exactValue<std::uint8_t>(x); }
template <BinaryInteger X> constexpr std::optional<std::uint16_t> uint16ValueExactly(X x) { return exactValue<std::uint16_t>(x); }
template <BinaryInteger X> constexpr std::optional<std::uint32_t> uint32ValueExactly(X x) { return exactValue<std::uint32_t>(x); }
template <BinaryInteger X> constexpr std::optional<std::uint64_t> uint64ValueExactly(X x) { return exactValue<std::uint64_t>(x); }
// clang-format on

// x rounded to F (to nearest, ties to even; beyond F's range: infinity with x's sign). Sources of
// up to 64 bits go through one 64-bit hardware conversion.
template <std::floating_point F, BinaryInteger X>
F floatingValue(X x) {
    if constexpr (IntegerInfo<X>::bitWidth <= 64) {
        if constexpr (IntegerInfo<X>::isSigned) {
            return static_cast<F>(static_cast<std::int64_t>(x));
        } else {
            return static_cast<F>(static_cast<std::uint64_t>(x));
        }
    } else {
        return static_cast<F>(x);
    }
}

// The rounded result when it equals x. Converting a floating value outside X's range back to X is
// undefined, so the range is checked first, in Float80, which holds every bound exactly.
template <std::floating_point F, BinaryInteger X>
std::optional<F> floatingValueExactly(X x) {
    const F f = floatingValue<F>(x);
    if (!std::isfinite(f)) return std::nullopt;
    const Float80 wide = f;
    constexpr int valueBits = IntegerInfo<X>::bitWidth - (IntegerInfo<X>::isSigned ? 1 : 0);
    const Float80 upper = std::ldexp(Float80(1), valueBits);  // exclusive
    const Float80 lower = IntegerInfo<X>::isSigned ? -upper : Float80(0);
    if (wide >= upper || wide < lower) return std::nullopt;
    if (static_cast<X>(f) != x) return std::nullopt;
    return f;
}

template <BinaryInteger X>
double doubleValue(X x) {
    return floatingValue<double>(x);
}
template <BinaryInteger X>
std::optional<double> doubleValueExactly(X x) {
    return floatingValueExactly<double>(x);
}
template <BinaryInteger X>
float floatValue(X x) {
    return floatingValue<float>(x);
}
template <BinaryInteger X>
float float32Value(X x) {
    return floatingValue<float>(x);
}
template <BinaryInteger X>
std::optional<float> floatValueExactly(X x) {
    return floatingValueExactly<float>(x);
}
template <BinaryInteger X>
Float80 float80Value(X x) {
    return floatingValue<Float80>(x);
}

}  // namespace rozuri::numeric
