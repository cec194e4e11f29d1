#include "processing/baseline_correction.h"

namespace nadixq {

namespace {

void RemoveMean(double* ifg, int pts) {
    double sum = 0.0;
    for (int i = 0; i < pts; ++i) sum += ifg[i];
    const double mean = sum / pts;
    for (int i = 0; i < pts; ++i) ifg[i] -= mean;
}

void RemoveLinearBaseline(double* ifg, int pts) {
    double headSum = 0.0;
    for (int i = 0; i < kBaselineEndWindow; ++i) headSum += ifg[i];
    // Floating-point addition does not associate, so the summation order is
    // part of the result: the head is summed forwards, the tail backwards
    // from the last point.
    double tailSum = 0.0;
    for (int i = pts - 1; i >= pts - kBaselineEndWindow; --i) tailSum += ifg[i];
    const double s = headSum / kBaselineEndWindow;
    const double e = tailSum / kBaselineEndWindow;

    // The end means sit on the first and last index, not on the centres of
    // their windows. The baseline is advanced by repeated addition of the
    // step rather than recomputed from i; that fixes how its rounding
    // accumulates along the array, so corrected data are reproducible to the
    // last bit. pts >= kBaselineEndWindow here, so pts - 1 is never 0.
    const double step = (e - s) / (pts - 1);
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
