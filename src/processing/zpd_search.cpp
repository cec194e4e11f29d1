#include "processing/zpd_search.h"

#include <cmath>

namespace nadixq {

namespace {

struct Window {
    int lo;
    int hi;
};

Window SearchWindow(int pts, int hint, int start, int end) {
    if (hint >= kZpdHintFirst && hint <= kZpdHintLast) {
        // hint + kZpdHintReach cannot overflow: hint is at most kZpdHintLast.
        Window w{hint - kZpdHintReach, hint + kZpdHintReach};
        if (w.hi >= pts) w.hi = pts - 1;
        return w;
    }
    Window w{start < 0 ? 0 : start, end};
    if (end <= w.lo || end >= pts) w.hi = pts - 1;
    return w;
}

struct Extremes {
    double max;
    double min;
};

// The largest and the smallest sample of ifg[lo..hi] as a walk from ifg[lo]
// with strict comparisons finds them: NaN samples never replace an extreme.
Extremes ExtremeValues(const double* ifg, int lo, int hi) {
    // Two lanes: the pass then runs as one vector of two.
    constexpr int kLanes = 2;
    double maxLane[kLanes];
    double minLane[kLanes];
    for (int k = 0; k < kLanes; ++k) maxLane[k] = minLane[k] = ifg[lo];
    int i = lo + 1;
    for (; hi - i >= kLanes - 1; i += kLanes) {
        for (int k = 0; k < kLanes; ++k) {
            const double v = ifg[i + k];
            maxLane[k] = v > maxLane[k] ? v : maxLane[k];
            minLane[k] = v < minLane[k] ? v : minLane[k];
        }
    }
    Extremes e{maxLane[0], minLane[0]};
    for (int k = 1; k < kLanes; ++k) {
        e.max = maxLane[k] > e.max ? maxLane[k] : e.max;
        e.min = minLane[k] < e.min ? minLane[k] : e.min;
    }
    for (; i <= hi; ++i) {
        e.max = ifg[i] > e.max ? ifg[i] : e.max;
        e.min = ifg[i] < e.min ? ifg[i] : e.min;
    }
    return e;
}

// The crossing test is the sign of the product of two samples, an
// underflow to 0 included. Samples beyond 2^500 in magnitude are brought to
// 2^500 first: the product keeps its sign, is 0 exactly when the unclamped
// one underflows (a clamped factor times the smallest subnormal is still
// about 2^-574), and can no longer overflow, which would raise the overflow
// exception in a host that traps it.
double ClampedForProduct(double x) {
    constexpr double kLargest = 0x1p500;
    const double below = x > kLargest ? kLargest : x;
    return below < -kLargest ? -kLargest : below;
}

}  // namespace

int FindZPD(const double* ifg, int pts, int hint, int start, int end) noexcept {
    if (ifg == nullptr || pts < 1) return kZpdNotFound;
    const Window w = SearchWindow(pts, hint, start, end);
    // A start beyond the array, or a hint window on a short array, leaves
    // nothing inside it to search; refuse rather than read past the end.
    if (w.lo < 0 || w.lo >= pts || w.hi < w.lo) return kZpdNotFound;

    // The extremes' values first, in a pass that vectorises, then the first
    // index holding each: that is where a walk with strict comparisons would
    // have found it (every earlier sample is smaller, or NaN). The walk keeps
    // the first sample when it is NaN, which no comparison displaces; the
    // lanes start from it too.
    const Extremes e = ExtremeValues(ifg, w.lo, w.hi);
    if (!(e.max > e.min)) return kZpdNotFound;  // a flat window, or a NaN at its start
    int maxPos = -1;
    int minPos = -1;
    for (int i = w.lo; i <= w.hi && (maxPos < 0 || minPos < 0); ++i) {
        if (maxPos < 0 && ifg[i] == e.max) maxPos = i;
        if (minPos < 0 && ifg[i] == e.min) minPos = i;
    }

    const int a = maxPos < minPos ? maxPos : minPos;
    const int b = maxPos < minPos ? minPos : maxPos;
    if (b - a >= kZpdMaxExtremeDistance) return kZpdNotFound;

    // Exactly one sign change between the extremes. An exact zero counts on
    // both of its sides, so a zero sample between opposite signs is two
    // crossings and makes the burst ambiguous.
    int crossings = 0;
    int zpd = kZpdNotFound;
    for (int i = a + 1; i <= b; ++i) {
        const double prev = ifg[i - 1];
        const double cur = ifg[i];
        if (std::islessequal(ClampedForProduct(cur) * ClampedForProduct(prev), 0.0)) {
            if (++crossings > 1) return kZpdNotFound;
            zpd = std::fabs(prev) < std::fabs(cur) ? i - 1 : i;
        }
    }
    return crossings == 1 ? zpd : kZpdNotFound;
}

}  // namespace nadixq
