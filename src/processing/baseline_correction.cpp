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
template <int kStep>
double Mean(const double* first, int n) {
    // The largest magnitude in four lanes, so that the pass vectorises.
    constexpr int kLanes = 4;
    double lanes[kLanes] = {0.0, 0.0, 0.0, 0.0};
    int i = 0;
    for (; i + kLanes <= n; i += kLanes) {
        for (int k = 0; k < kLanes; ++k) {
            const double magnitude = std::fabs(first[(i + k) * kStep]);
            lanes[k] = magnitude > lanes[k] ? magnitude : lanes[k];
        }
    }
    // The rest, at most kLanes - 1 values (a loop bounded by that, not by n,
    // which GCC's 32-bit builds misjudge when n is known).
    for (int k = 0; k < kLanes - 1; ++k) {
        if (i + k >= n) break;
        const double magnitude = std::fabs(first[(i + k) * kStep]);
        lanes[k] = magnitude > lanes[k] ? magnitude : lanes[k];
    }
    double largest = 0.0;
    for (double lane : lanes) largest = lane > largest ? lane : largest;
    double sum = 0.0;
    if (largest <= DBL_MAX / n) {
        for (int j = 0; j < n; ++j) sum += first[j * kStep];
        return sum / n;
    }
    constexpr double kScale = 0x1p-32;
    for (int j = 0; j < n; ++j) sum += first[j * kStep] * kScale;
    return sum / n / kScale;
}

void RemoveMean(double* ifg, int pts) {
    const double mean = Mean<1>(ifg, pts);
    for (int i = 0; i < pts; ++i) ifg[i] -= mean;
}

void RemoveLinearBaseline(double* ifg, int pts) {
    // Floating-point addition does not associate, so the summation order is
    // part of the result: the head is summed forwards, the tail backwards
    // from the last point.
    const double s = Mean<1>(ifg, kBaselineEndWindow);
    const double e = Mean<-1>(ifg + pts - 1, kBaselineEndWindow);

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
