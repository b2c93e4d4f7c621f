#pragma once

// Calls made from a translation unit compiled as a caller with FMA would compile it
// (-O2 -march=x86-64-v3 -ffp-contract=fast). Call them only where the CPU has FMA and AVX2.

#include "osc/masks/FloatingParts.h"

namespace rozuri::numeric::fused {

// True when this build has the FMA-compiled unit at all (x86-64 only).
bool available();

QuotientAndRemainder<float> libraryQuotientAndRemainder(float x, float d);
QuotientAndRemainder<double> libraryQuotientAndRemainder(double x, double d);
QuotientAndRemainder<long double> libraryQuotientAndRemainder(long double x, long double d);

// x - trunc(x / d) * d written in the caller, which the compiler may fuse: the control that
// shows the flags are in effect.
float inlineRemainder(float x, float d);
double inlineRemainder(double x, double d);

}  // namespace rozuri::numeric::fused
