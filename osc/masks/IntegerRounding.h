#pragma once

// Rounding an integer to a multiple of m, in x's own type:
//   roundedUp           toward plus infinity
//   roundedDown         toward minus infinity
//   roundedAwayFromZero the magnitude rounded up, with x's sign
// Each returns x unchanged when m is 0 or negative, and when the rounded result does not fit x's
// type (roundedUp(INT64_MAX, 10), roundedDown(INT8_MIN + 1, 10)). A signed type's minimum is a
// valid x: the work starts from x % m and never negates x.

#include <type_traits>

#include "osc/masks/BinaryInteger.h"

namespace rozuri::numeric {

namespace detail {

enum class RoundingDirection { up, down, awayFromZero };

template <RoundingDirection direction, BinaryInteger T>
constexpr T rounded(T x, T m) {
    if (!(m > T(0))) return x;
    // x % m has x's sign; x - rem is the multiple next to x toward zero and always fits.
    const T rem = static_cast<T>(x % m);
    if (rem == T(0)) return x;
    const T towardZero = static_cast<T>(x - rem);
    const bool negative = isNegative(rem);
    const bool awayFromZero = direction == RoundingDirection::awayFromZero ||
                              (direction == RoundingDirection::up) != negative;
    if (!awayFromZero) return towardZero;
    T out;
    const bool overflow = negative ? __builtin_sub_overflow(towardZero, m, &out)
                                   : __builtin_add_overflow(towardZero, m, &out);
    return overflow ? x : out;
}

}  // namespace detail

template <BinaryInteger T>
constexpr T roundedUp(T x, std::type_identity_t<T> m) {
    return detail::rounded<detail::RoundingDirection::up>(x, m);
}
template <BinaryInteger T>
constexpr T roundedDown(T x, std::type_identity_t<T> m) {
    return detail::rounded<detail::RoundingDirection::down>(x, m);
}
template <BinaryInteger T>
constexpr T roundedAwayFromZero(T x, std::type_identity_t<T> m) {
    return detail::rounded<detail::RoundingDirection::awayFromZero>(x, m);
}

}  // namespace rozuri::numeric
