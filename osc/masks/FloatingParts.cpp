// Compiled with -ffp-contract=off -fno-fast-math (see CMakeLists.txt): q * d is rounded before the
// subtraction whatever flags the library's callers use.

#include "osc/masks/FloatingParts.h"

#include <cmath>

namespace rozuri::numeric {

template <PartsFloatingPoint F>
QuotientAndRemainder<F> quotientAndRemainder(F x, std::type_identity_t<F> d) {
    const F q = std::trunc(x / d);
    const F product = q * d;
    return {q, x - product};
}

template <PartsFloatingPoint F>
IntegralAndFractionalParts<F> integralAndFractionalParts(F x) {
    const F i = std::trunc(x);
    return {i, x - i};
}

template QuotientAndRemainder<float> quotientAndRemainder<float>(float, float);
template QuotientAndRemainder<double> quotientAndRemainder<double>(double, double);
template QuotientAndRemainder<long double> quotientAndRemainder<long double>(long double,
                                                                             long double);
template IntegralAndFractionalParts<float> integralAndFractionalParts<float>(float);
template IntegralAndFractionalParts<double> integralAndFractionalParts<double>(double);
template IntegralAndFractionalParts<long double> integralAndFractionalParts<long double>(
    long double);

}  // namespace rozuri::numeric
