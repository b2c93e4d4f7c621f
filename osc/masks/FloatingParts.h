#pragma once

// Whole and fractional parts of a floating value, and a truncated quotient with its remainder.
// Each step is one rounded operation of the type (trunc and a subtraction, not modf or fmod):
// integralAndFractionalParts(-3.0) is (-3.0, +0.0), of infinity (infinity, NaN); the remainder
// x - q * d is not exact for large quotients. NaN and infinities pass through IEEE arithmetic.
//
// The functions are compiled once, in the library, without contraction or fast-math: built
// inline in the caller, flags such as -march=x86-64-v3 let the compiler fuse x - q * d into one
// FMA and change the remainder. Hence only float, double and long double.

#include <concepts>
#include <type_traits>

namespace rozuri::numeric {

template <class F>
concept PartsFloatingPoint =
    std::same_as<F, float> || std::same_as<F, double> || std::same_as<F, long double>;

template <PartsFloatingPoint F>
struct QuotientAndRemainder {
    F quotient;
    F remainder;
    friend bool operator==(const QuotientAndRemainder&, const QuotientAndRemainder&) = default;
};

template <PartsFloatingPoint F>
struct IntegralAndFractionalParts {
    F integral;
    F fractional;
    friend bool operator==(const IntegralAndFractionalParts&,
                           const IntegralAndFractionalParts&) = default;
};

// Both are instantiated in FloatingParts.cpp for float, double and long double.
template <PartsFloatingPoint F>
QuotientAndRemainder<F> quotientAndRemainder(F x, std::type_identity_t<F> d);

template <PartsFloatingPoint F>
IntegralAndFractionalParts<F> integralAndFractionalParts(F x);

template <PartsFloatingPoint F>
F integralPart(F x) {
    return integralAndFractionalParts(x).integral;
}

template <PartsFloatingPoint F>
F fractionalPart(F x) {
    return integralAndFractionalParts(x).fractional;
}

}  // namespace rozuri::numeric
