// Only plain functions here: an inline function instantiated in this unit could be the copy the
// linker keeps, and would then carry AVX2 instructions into the rest of the test program.

#include "fma/FusedCaller.h"

namespace rozuri::numeric::fused {

bool available() {
    return true;
}

QuotientAndRemainder<float> libraryQuotientAndRemainder(float x, float d) {
    return quotientAndRemainder(x, d);
}
QuotientAndRemainder<double> libraryQuotientAndRemainder(double x, double d) {
    return quotientAndRemainder(x, d);
}
QuotientAndRemainder<long double> libraryQuotientAndRemainder(long double x, long double d) {
    return quotientAndRemainder(x, d);
}

float inlineRemainder(float x, float d) {
    return x - __builtin_truncf(x / d) * d;
}
double inlineRemainder(double x, double d) {
    return x - __builtin_trunc(x / d) * d;
}

}  // namespace rozuri::numeric::fused
