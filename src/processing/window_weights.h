// The window's weights a block of distances at a time: a fast evaluation on
// the widest vectors the processor has, each result certified correctly
// rounded by a rounding test, and the accurate evaluation of
// window_exponential.h for the few it cannot certify (about one in 8000 in
// the normal range, and every subnormal result). Every path therefore gives
// the same bits: those of WindowWeight.
#pragma once

#include "processing/window_exponential.h"

namespace nadixq {

// The evaluations, in rising order of vector width. kScalar is WindowWeight
// for every distance; the others run the fast evaluation on 2, 4 or 8 doubles
// at a time. kSse2 is the baseline of every x86 build; kAvx2 and kAvx512 exist
// on x86-64 only and are chosen at run time where the processor (and the
// system, for the wider registers' state) has them.
enum class WindowPath { kScalar, kSse2, kAvx2, kAvx512 };

bool WindowPathAvailable(WindowPath path) noexcept;
// The widest available path: what GaussianApodize uses.
WindowPath BestWindowPath() noexcept;
const char* WindowPathName(WindowPath path) noexcept;

// w[j] = WindowWeight(d0 + j, divisor) for j from 0 to count - 1, d0 >= 0 an
// integer, on the given path, which must be available, each distance by the
// fast evaluation (window_series.h steps most of them by a chain instead).
void PolynomialWindowWeights(WindowPath path, const WindowDivisor& divisor, double d0, int count,
                             double* w) noexcept;

}  // namespace nadixq
