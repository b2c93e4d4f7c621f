// Stand-in where the FMA-compiled unit cannot be built (not x86-64).

#include "fma/FusedCaller.h"

namespace rozuri::numeric::fused {

bool available() {
    return false;
}
QuotientAndRemainder<float> libraryQuotientAndRemainder(float, float) {
    return {};
}
QuotientAndRemainder<double> libraryQuotientAndRemainder(double, double) {
    return {};
}
QuotientAndRemainder<long double> libraryQuotientAndRemainder(long double, long double) {
    return {};
}
float inlineRemainder(float, float) {
    return 0;
}
double inlineRemainder(double, double) {
    return 0;
}

}  // namespace rozuri::numeric::fused
