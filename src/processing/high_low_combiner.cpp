#include "processing/high_low_combiner.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "diagnostics/log_file.h"

namespace nadixq {
namespace {

constexpr double kHalfPi = 1.5707963267948966;

// Samples the backward clip scan looks at in one go.
constexpr int32_t kClipScanBlock = 64;

// Whether one of kClipScanBlock samples may exceed `cl` in magnitude: false
// only when none does (|x| > cl is x > cl or x < -cl; NaN is neither). The
// extremes run in two lanes so that the pass vectorises.
bool BlockMayClip(const double* ifg, double cl) {
    double largest[2] = {0.0, 0.0};
    double smallest[2] = {0.0, 0.0};
    for (int32_t k = 0; k < kClipScanBlock; k += 2) {
        for (int32_t lane = 0; lane < 2; ++lane) {
            const double v = ifg[k + lane];
            largest[lane] = v > largest[lane] ? v : largest[lane];
            smallest[lane] = v < smallest[lane] ? v : smallest[lane];
        }
    }
    return largest[0] > cl || largest[1] > cl || smallest[0] < -cl || smallest[1] < -cl;
}

// The threshold as the log line prints it: a whole number, saturated so that
// an absurd scan count cannot overflow the conversion.
int WholeNumber(double value) {
    if (!(value > std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    if (!(value < std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    return static_cast<int>(value);
}

}  // namespace

void IFG_TransitionLimits(const double* ifg, int32_t n, double cl, int32_t& m1, int32_t& m2,
                          int32_t& m3, int32_t& m4, int32_t tl, bool verbose) {
    m1 = m2 = m3 = m4 = 0;
    bool clipped = false;
    for (int32_t i = 0; i < n; ++i) {
        if (std::fabs(ifg[i]) > cl) {
            m2 = i - kClipGuard < 0 ? 0 : i - kClipGuard;
            m1 = m2 - tl < 0 ? 0 : m2 - tl;
            clipped = true;
            break;
        }
    }
    // The backward scan stops above m2: a clipped sample at index 0 alone
    // leaves no region, and the scan never crosses the forward one. It mostly
    // crosses the unclipped wing, so it skips whole blocks where no sample
    // can clip and walks the rest.
    if (clipped) {
        int32_t j = n - 1;
        while (j - kClipScanBlock >= m2 && !BlockMayClip(ifg + j - kClipScanBlock + 1, cl)) {
            j -= kClipScanBlock;
        }
        for (; j > m2; --j) {
            if (std::fabs(ifg[j]) > cl) {
                m3 = j + kClipGuard > n ? n : j + kClipGuard;
                m4 = m3 + tl > n ? n : m3 + tl;
                break;
            }
        }
    }
    if (verbose) {
        TheLog().Write(
            "KORAVEL: DualADC::IFG_TransitionLimits: n= %d, cl=%d, m1=%d, m2= %d, m3=%d, m4=%d, "
            "tl=%d",
            n, WholeNumber(cl), m1, m2, m3, m4, tl);
    }
}

void IFG_TransitionWeights(double* w, int32_t count, int32_t m1, int32_t m2, int32_t m3,
                           int32_t m4) {
    // A ramp that holds no point needs no factor (and must not divide by 0).
    const double rise = m2 > m1 ? kHalfPi / (m2 - m1) : 0.0;
    const double fall = m4 > m3 ? kHalfPi / (m4 - m3) : 0.0;
    // Each point belongs to the first region whose end lies beyond it, so that
    // limits handed in by hand in any order still give each point exactly one
    // weight: the regions end at m1, then at the larger of that and m2, and so
    // on, within [0, count].
    auto end = [count](int32_t from, int32_t limit) {
        return std::clamp(limit > from ? limit : from, int32_t{0}, count);
    };
    const int32_t zeroEnd = end(0, m1);
    const int32_t riseEnd = end(zeroEnd, m2);
    const int32_t oneEnd = end(riseEnd, m3);
    const int32_t fallEnd = end(oneEnd, m4);
    int32_t i = 0;
    for (; i < zeroEnd; ++i) w[i] = 0.0;
    for (; i < riseEnd; ++i) {
        const double s = std::sin((i - m1) * rise);
        w[i] = s * s;
    }
    for (; i < oneEnd; ++i) w[i] = 1.0;
    for (; i < fallEnd; ++i) {
        const double c = std::cos((i - m3) * fall);
        w[i] = c * c;
    }
    for (; i < count; ++i) w[i] = 0.0;
}

void IFG_LinearRegression(const double* x, const double* y, int32_t pts, double& slope,
                          double& intercept, int32_t excludeFrom, int32_t excludeTo, bool verbose) {
    if (verbose) TheLog().Write("KORAVEL: DualADC::IFG_LinearRegression: pts= %d", pts);
    slope = 0.0;
    intercept = 0.0;
    if (pts <= 0) return;

    double sx = 0.0, sxx = 0.0, sy = 0.0, sxy = 0.0;
    int32_t included = 0;
    for (int32_t i = 0; i < pts; ++i) {
        if (i >= excludeFrom && i <= excludeTo) continue;
        sx += x[i];
        sxx += x[i] * x[i];
        sy += y[i];
        sxy += x[i] * y[i];
        ++included;
    }

    // The full point count divides every sum, whatever was excluded; with an
    // excluded range the line therefore differs slightly from the
    // least-squares line through the included points, by definition of the
    // merge.
    const double n = static_cast<double>(pts);
    const double X = sx / n, XX = sxx / n, Y = sy / n, XY = sxy / n;
    // The formula holds wherever it has a finite answer, however small the
    // spread of x: a large offset with a small swing is a well-defined fit.
    const double divisor = X * X - XX;
    if (included > 0 && divisor != 0.0) {
        const double s = (Y * X - XY) / divisor;
        const double c = (XY * X - Y * XX) / divisor;
        if (std::isfinite(s) && std::isfinite(c)) {
            slope = s;
            intercept = c;
            return;
        }
    }

    // No spread in x: a line through the origin that maps the mean of x onto
    // the mean of y still puts the high-gain channel on the low-gain scale.
    if (included > 0 && sx != 0.0) {
        const double s = sy / sx;
        if (std::isfinite(s)) {
            slope = s;
            return;
        }
    }

    // Nothing usable in x: the best constant is the mean of y, over the
    // included points, or over all of them when everything was excluded.
    double mean = 0.0;
    if (included > 0) {
        mean = sy / included;
    } else {
        for (int32_t i = 0; i < pts; ++i) mean += y[i];
        mean /= n;
    }
    intercept = std::isfinite(mean) ? mean : 0.0;
}

void IFG_ScaleInterferogram(double* ifg, int32_t pts, double slope, double intercept,
                            bool verbose) {
    if (verbose) TheLog().Write("KORAVEL: IFG_ScaleInterferogram: pts= %d", pts);
    for (int32_t i = 0; i < pts; ++i) ifg[i] = slope * ifg[i] + intercept;
}

void IFG_BlendInterferograms(const double* a, const double* b, const double* w, int32_t pts,
                             double* out, bool verbose) {
    if (verbose) TheLog().Write("KORAVEL: IFG_BlendInterferograms: pts= %d", pts);
    for (int32_t i = 0; i < pts; ++i) out[i] = a[i] * w[i] + (1.0 - w[i]) * b[i];
}

void HighLowCombiner::CombineHighLow(double* high, const double* low, double* out, int32_t pts,
                                     int32_t scount, int32_t findLimits, bool verbose) {
    if (verbose) {
        TheLog().Write("KORAVEL: DualADC::CombineHighLow: pts= %d; scount= %d\n", pts, scount);
    }
    if (pts > NADIXQ_MAX_POINTS) pts = NADIXQ_MAX_POINTS;
    if (pts < 0) pts = 0;
    const double cl = scount * kClipLevelPerScan;

    if (findLimits != 0 || pts != _limitsPoints) {
        IFG_TransitionLimits(high, pts, cl, m1, m2, m3, m4, kTransitionLength, verbose);
        IFG_TransitionWeights(_blendWeights, pts, m1, m2, m3, m4);
        _limitsPoints = pts;
    }

    // The fit predicts the low-gain value from the high-gain one, over the
    // points outside the clipped region.
    double slope = 0.0;
    double intercept = 0.0;
    IFG_LinearRegression(high, low, pts, slope, intercept, m2, m3, verbose);
    IFG_ScaleInterferogram(high, pts, slope, intercept, verbose);
    IFG_BlendInterferograms(low, high, _blendWeights, pts, out, verbose);
}

}  // namespace nadixq
