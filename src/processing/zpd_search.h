// Zero-path-difference search: where the centre burst of an interferogram
// swings through zero between its largest and its smallest sample.
#pragma once

#include "interface/nadixq.h"

namespace nadixq {

// The one result for every failed search. Callers cannot tell the kinds of
// failure apart, on purpose: the host only ever asks "was there a ZPD?".
constexpr int kZpdNotFound = NADIXQ_NO_ZPD;

// A hint is trusted only inside this range (the centre burst of the boards
// sits near index 256); it then narrows the search to +/- kZpdHintReach.
constexpr int kZpdHintFirst = 207;
constexpr int kZpdHintLast = 305;
constexpr int kZpdHintReach = 30;

// The two extremes of a centre burst lie closer together than this.
constexpr int kZpdMaxExtremeDistance = 20;

// Index of the ZPD in ifg[start..end] (both included), or kZpdNotFound.
// A negative start means 0; an end not above start, or not below pts, means
// pts - 1; a hint from kZpdHintFirst to kZpdHintLast replaces the window by
// hint +/- kZpdHintReach. Reads only ifg[0..pts-1] and never writes.
int FindZPD(const double* ifg, int pts, int hint, int start, int end) noexcept;

}  // namespace nadixq
