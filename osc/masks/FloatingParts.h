#pragma once

// Whole and fractional parts of a floating value, and a truncated quotient with its remainder.
// Each step is one rounded operation of the type (trunc and a subtraction, not modf or fmod):
// integralAndFractionalParts(-3.0) is (-3.0, +0.0), of infinity (infinity, NaN); the remainder
// x - q * d is not exact for large quotients. NaN and infinities pass through IEEE arithmetic.
// Needs strict floating point: no -ffast-math, no contraction of x - q * d into a fused op.

#include <cmath>
#include <concepts>
#include <type_traits>

namespace rozuri::numeric {

template <std::floating_point F>
struct QuotientAndRemainder {
    F quotient;
    F remainder;
    friend bool operator==(const QuotientAndRemainder&, const QuotientAndRemainder&) = default;
};

template <std::floating_point F>
struct IntegralAndFractionalParts {
    F integral;
    F fractional;
    friend bool operator==(const IntegralAndFractionalParts&,
                           const IntegralAndFractionalParts&) = default;
};

template <std::floating_point F>
QuotientAndRemainder<F> quotientAndRemainder(F x, std::type_identity_t<F> d) {
    const F q = std::trunc(x / d);
    const F product = q * d;
    return {q, x - product};
}

template <std::floating_point F>
IntegralAndFractionalParts<F> integralAndFractionalParts(F x) {
    const F i = std::trunc(x);
    return {i, x - i};
}

template <std::floating_point F>
F integralPart(F x) {
    return integralAndFractionalParts(x).integral;
}

template <std::floating_point F>
F fractionalPart(F x) {
    return integralAndFractionalParts(x).fractional;
}

}  // namespace rozuri::numeric
