#include "processing/baseline_correction.h"

#include <cfloat>
#include <cmath>

namespace nadixq {

namespace {

// The mean of n values from first on, step apart (1 forwards, -1 backwards),
// summed in that order. A sum of n values each at most DBL_MAX / n in
// magnitude cannot overflow; larger ones are summed scaled by 2^-32, which
// gives the same mean (scaling by a power of 2 commutes with rounding) except
// where values below 2^-990 would have counted beside them, and raises no
// overflow where the mean itself is a double.
double Mean(const double* first, int n, int step) {
    double largest = 0.0;
    for (int i = 0; i < n; ++i) {
        const double magnitude = std::fabs(first[i * step]);
        largest = magnitude > largest ? magnitude : largest;
    }
    const double scale = largest <= DBL_MAX / n ? 1.0 : 0x1p-32;
    double sum = 0.0;
    for (int i = 0; i < n; ++i) sum += first[i * step] * scale;
    return sum / n / scale;
}

void RemoveMean(double* ifg, int pts) {
    const double mean = Mean(ifg, pts, 1);
    for (int i = 0; i < pts; ++i) ifg[i] -= mean;
}

void RemoveLinearBaseline(double* ifg, int pts) {
    // Floating-point addition does not associate, so the summation order is
    // part of the result: the head is summed forwards, the tail backwards
    // from the last point.
    const double s = Mean(ifg, kBaselineEndWindow, 1);
    const double e = Mean(ifg + pts - 1, kBaselineEndWindow, -1);

    // The end means sit on the first and last index, not on the centres of
    // their windows. The baseline is advanced by repeated addition of the
    // step rather than recomputed from i; that fixes how its rounding
    // accumulates along the array, so corrected data are reproducible to the
    // last bit. pts >= kBaselineEndWindow here, so pts - 1 is never 0.
    // e - s overflows where both ends lie beyond DBL_MAX / 2 with opposite
    // signs; halved first, the step is the same bits and finite.
    const bool halve = std::fabs(e) > DBL_MAX / 2 || std::fabs(s) > DBL_MAX / 2;
    const double step = halve ? (0.5 * e - 0.5 * s) / (pts - 1) * 2.0 : (e - s) / (pts - 1);
    double baseline = s;
    for (int i = 0; i < pts; ++i) {
        ifg[i] -= baseline;
        baseline += step;
    }
}

}  // namespace

int BaselineCorrectIfg(double* ifg, int pts, int mode) noexcept {
    if (ifg == nullptr || pts < 1) return 0;
    if (mode != 0) {
        RemoveMean(ifg, pts);
        return 1;
    }
    if (pts < kBaselineEndWindow) return 0;
    RemoveLinearBaseline(ifg, pts);
    return 1;
}

}  // namespace nadixq
