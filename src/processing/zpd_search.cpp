#include "processing/zpd_search.h"

#include <emmintrin.h>

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
// The pass runs on SSE2 vectors (the baseline of every build), four of them
// side by side so that no comparison waits for the one before it;
// _mm_max_pd(v, m) is v > m ? v : m, which keeps m for a NaN v.
Extremes ExtremeValues(const double* ifg, int lo, int hi) {
    constexpr int kStride = 8;
    const __m128d first = _mm_set1_pd(ifg[lo]);
    // Named rather than an array, which GCC keeps in memory.
    __m128d max0 = first, max1 = first, max2 = first, max3 = first;
    __m128d min0 = first, min1 = first, min2 = first, min3 = first;
    int i = lo + 1;
    for (; hi - i >= kStride - 1; i += kStride) {
        const __m128d v0 = _mm_loadu_pd(ifg + i);
        const __m128d v1 = _mm_loadu_pd(ifg + i + 2);
        const __m128d v2 = _mm_loadu_pd(ifg + i + 4);
        const __m128d v3 = _mm_loadu_pd(ifg + i + 6);
        max0 = _mm_max_pd(v0, max0);
        max1 = _mm_max_pd(v1, max1);
        max2 = _mm_max_pd(v2, max2);
        max3 = _mm_max_pd(v3, max3);
        min0 = _mm_min_pd(v0, min0);
        min1 = _mm_min_pd(v1, min1);
        min2 = _mm_min_pd(v2, min2);
        min3 = _mm_min_pd(v3, min3);
    }
    double maxValues[kStride];
    double minValues[kStride];
    _mm_storeu_pd(maxValues, max0);
    _mm_storeu_pd(maxValues + 2, max1);
    _mm_storeu_pd(maxValues + 4, max2);
    _mm_storeu_pd(maxValues + 6, max3);
    _mm_storeu_pd(minValues, min0);
    _mm_storeu_pd(minValues + 2, min1);
    _mm_storeu_pd(minValues + 4, min2);
    _mm_storeu_pd(minValues + 6, min3);
    Extremes e{maxValues[0], minValues[0]};
    for (int k = 1; k < kStride; ++k) {
        e.max = maxValues[k] > e.max ? maxValues[k] : e.max;
        e.min = minValues[k] < e.min ? minValues[k] : e.min;
    }
    for (; i <= hi; ++i) {
        e.max = ifg[i] > e.max ? ifg[i] : e.max;
        e.min = ifg[i] < e.min ? ifg[i] : e.min;
    }
    return e;
}

struct Positions {
    int max;
    int min;
};

// The first indices in [lo, hi] holding e.max and e.min, which are there, in
// one pass: chunks of eight samples are compared on vectors, and only a chunk
// that has one of them is walked.
Positions FirstPositions(const double* ifg, int lo, int hi, Extremes e) {
    constexpr int kChunk = 8;
    const __m128d max = _mm_set1_pd(e.max);
    const __m128d min = _mm_set1_pd(e.min);
    Positions p{-1, -1};
    for (int i = lo; i <= hi && (p.max < 0 || p.min < 0); i += kChunk) {
        if (hi - i >= kChunk - 1) {
            const __m128d v0 = _mm_loadu_pd(ifg + i);
            const __m128d v1 = _mm_loadu_pd(ifg + i + 2);
            const __m128d v2 = _mm_loadu_pd(ifg + i + 4);
            const __m128d v3 = _mm_loadu_pd(ifg + i + 6);
            const __m128d hit0 = _mm_or_pd(_mm_cmpeq_pd(v0, max), _mm_cmpeq_pd(v0, min));
            const __m128d hit1 = _mm_or_pd(_mm_cmpeq_pd(v1, max), _mm_cmpeq_pd(v1, min));
            const __m128d hit2 = _mm_or_pd(_mm_cmpeq_pd(v2, max), _mm_cmpeq_pd(v2, min));
            const __m128d hit3 = _mm_or_pd(_mm_cmpeq_pd(v3, max), _mm_cmpeq_pd(v3, min));
            const __m128d hit = _mm_or_pd(_mm_or_pd(hit0, hit1), _mm_or_pd(hit2, hit3));
            if (_mm_movemask_pd(hit) == 0) continue;
        }
        for (int j = i; j <= hi && j < i + kChunk; ++j) {
            if (p.max < 0 && ifg[j] == e.max) p.max = j;
            if (p.min < 0 && ifg[j] == e.min) p.min = j;
        }
    }
    return p;
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
    const Positions positions = FirstPositions(ifg, w.lo, w.hi, e);
    const int maxPos = positions.max;
    const int minPos = positions.min;

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
