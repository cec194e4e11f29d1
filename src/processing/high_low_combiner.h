// Merging the two channels of a dual-converter board. The high-gain channel
// resolves the weak wings of an interferogram but clips around the centre
// burst; the low-gain channel never clips. The merge maps the high-gain sum
// onto the low-gain scale with a straight line fitted over its unclipped
// points, and blends the low-gain sum in over the clipped region with smooth
// sin^2/cos^2 ramps on either side, so that no step appears at the seams.
//
// The five steps are free functions so that each can be tested on its own;
// HighLowCombiner orders them and keeps the limits and the weight table that
// one board class reuses from file to file (each class owns one instance).
// Everything runs on the scan thread, in one pass per step, with no
// allocation. With `verbose` set each step but the weight table writes its
// line to the log file.
#pragma once

#include <cstdint>

#include "interface/nadixq.h"

namespace nadixq {

// Clip threshold of one scan: a co-added high-gain value beyond
// scans x 20000 counts as clipped.
constexpr double kClipLevelPerScan = 20000.0;
// Length of the ramps on either side of the clipped region.
constexpr int32_t kTransitionLength = 64;
// Unclipped points kept between the last good sample and the clipped region.
constexpr int32_t kClipGuard = 2;
// Finds the clipped region of `ifg` (n points): m2 is the first and m3 one
// past the last clipped index, each widened by the guard; m1 starts the
// rising ramp and m4 ends the falling ramp, `tl` points away where the ends
// of the array allow. A sample equal to `cl` is not clipped. All four are 0
// when nothing clips.
void IFG_TransitionLimits(const double* ifg, int32_t n, double cl, int32_t& m1, int32_t& m2,
                          int32_t& m3, int32_t& m4, int32_t tl, bool verbose = false);

// Fills w[0..count-1] with the share of the low-gain channel: 0 before m1, a
// sin^2 rise over [m1, m2), 1 over [m2, m3), a cos^2 fall over [m3, m4), 0
// from m4 on. Entries from `count` on are left alone.
void IFG_TransitionWeights(double* w, int32_t count, int32_t m1, int32_t m2, int32_t m3,
                           int32_t m4);

// Fits y = slope * x + intercept over the points outside [excludeFrom,
// excludeTo] (both ends excluded). The sums are divided by the full `pts`,
// not by the number of points that entered them. Never yields NaN or
// infinity: where the formula has no finite answer (every included x equal,
// nothing included, sums beyond the range of a double) it falls back to the
// ratio of the means of y and x over the included points, and, when that is
// undefined too, to slope 0 and the mean of y.
void IFG_LinearRegression(const double* x, const double* y, int32_t pts, double& slope,
                          double& intercept, int32_t excludeFrom, int32_t excludeTo,
                          bool verbose = false);

// ifg[i] = slope * ifg[i] + intercept for i < pts.
void IFG_ScaleInterferogram(double* ifg, int32_t pts, double slope, double intercept,
                            bool verbose = false);

// out[i] = a[i] * w[i] + (1 - w[i]) * b[i] for i < pts.
void IFG_BlendInterferograms(const double* a, const double* b, const double* w, int32_t pts,
                             double* out, bool verbose = false);

// The limits and weight table of one dual board class, shared by every board
// object of that class and kept across files and acquisitions. Zero at load
// (constant-initialised, so it may live in static storage).
class HighLowCombiner {
  public:
    // Merges the co-added channels `high` and `low` of `scount` scans into
    // `out` on the low-gain scale; `high` ends up holding the fitted
    // high-gain interferogram, `low` is not changed. The limits and weights
    // are recomputed from `high` when `findLimits` is nonzero, and also when
    // `pts` differs from the point count they were computed for (a table
    // computed for another count would blend stale weights into the new
    // points); otherwise those of an earlier call are reused. A `pts` above
    // the capacity is treated as the capacity.
    void CombineHighLow(double* high, const double* low, double* out, int32_t pts, int32_t scount,
                        int32_t findLimits, bool verbose = false);

    int32_t m1 = 0;
    int32_t m2 = 0;
    int32_t m3 = 0;
    int32_t m4 = 0;
    // Point count of the last recomputation; 0 before the first one.
    int32_t _limitsPoints = 0;
    double _blendWeights[NADIXQ_MAX_POINTS] = {};
};

}  // namespace nadixq
