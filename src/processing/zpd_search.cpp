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

}  // namespace

int FindZPD(const double* ifg, int pts, int hint, int start, int end) noexcept {
    if (ifg == nullptr || pts < 1) return kZpdNotFound;
    const Window w = SearchWindow(pts, hint, start, end);
    // A start beyond the array, or a hint window on a short array, leaves
    // nothing inside it to search; refuse rather than read past the end.
    if (w.lo < 0 || w.lo >= pts || w.hi < w.lo) return kZpdNotFound;

    // Strict comparisons keep the first occurrence of each extreme.
    int maxPos = w.lo;
    int minPos = w.lo;
    double maxVal = ifg[w.lo];
    double minVal = ifg[w.lo];
    for (int i = w.lo + 1; i <= w.hi; ++i) {
        const double v = ifg[i];
        if (v > maxVal) {
            maxVal = v;
            maxPos = i;
        }
        if (v < minVal) {
            minVal = v;
            minPos = i;
        }
    }
    if (maxVal == minVal) return kZpdNotFound;

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
        if (cur * prev <= 0.0) {
            if (++crossings > 1) return kZpdNotFound;
            zpd = std::fabs(prev) < std::fabs(cur) ? i - 1 : i;
        }
    }
    return crossings == 1 ? zpd : kZpdNotFound;
}

}  // namespace nadixq
