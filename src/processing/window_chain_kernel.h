// The chain's steps, written once over a table of vector operations (the
// instruction set's): included by window_chain_sse2.cpp, window_chain_avx2.cpp
// and window_chain_avx512.cpp, each compiled for its own instruction set.
// Everything here has internal linkage, so that no code built for a wider
// instruction set can stand in for the baseline's at link time.
#pragma once

#include "processing/window_chain.h"

namespace nadixq {
namespace {

// The rounding test's bound relative to the weight (see window_chain.h).
constexpr double kChainBound = 0x1p-71;

// a * b for double-doubles, normalised: hi the sum rounded to nearest.
template <class T>
__attribute__((always_inline)) inline void ChainMultiply(typename T::V& ah, typename T::V& al,
                                                         typename T::V bh, typename T::V bl) {
    using V = typename T::V;
    const V p = T::Mul(ah, bh);
    const V e = T::ProductError(ah, bh, p);  // ah bh - p, exactly
    const V lo = T::Add(e, T::Add(T::Mul(ah, bl), T::Mul(al, bh)));
    const V hi = T::Add(p, lo);
    al = T::Sub(lo, T::Sub(hi, p));
    ah = hi;
}

template <class T>
__attribute__((always_inline)) inline bool ChainStepsOn(WindowChain& chain, int steps, double* w) {
    using V = typename T::V;
    constexpr int kWidth = T::kWidth;
    constexpr int kGroup = T::kGroup;  // vectors stepped side by side
    constexpr int kVectors = kChainLanes / kWidth;
    static_assert(kVectors % kGroup == 0, "groups cover the lanes");
    const V ch = T::Set(chain.ch);
    const V cl = T::Set(chain.cl);
    const V bound = T::Set(kChainBound);
    const V undecided = T::Set(-1.0);
    V lowest = T::Set(1.0);
    for (int g = 0; g < kVectors; g += kGroup) {
        V fh[kGroup], fl[kGroup], rh[kGroup], rl[kGroup];
        for (int i = 0; i < kGroup; ++i) {
            const int lane = (g + i) * kWidth;
            fh[i] = T::Load(chain.fh + lane);
            fl[i] = T::Load(chain.fl + lane);
            rh[i] = T::Load(chain.rh + lane);
            rl[i] = T::Load(chain.rl + lane);
        }
        for (int k = 0; k < steps; ++k) {
            double* out = w + k * kChainLanes + g * kWidth;
            for (int i = 0; i < kGroup; ++i) {
                // Certified when both ends of the error interval round alike
                // (fl +- b is exact to 2^-106 of the weight, well inside the
                // margin between the bound and the error).
                const V b = T::Mul(fh[i], bound);
                const V up = T::Add(fh[i], T::Add(fl[i], b));
                const V down = T::Add(fh[i], T::Sub(fl[i], b));
                const V weight = T::SelectEqual(up, down, undecided);
                T::Store(out + i * kWidth, weight);
                lowest = T::Min(lowest, weight);
                ChainMultiply<T>(fh[i], fl[i], rh[i], rl[i]);
                ChainMultiply<T>(rh[i], rl[i], ch, cl);
            }
        }
        for (int i = 0; i < kGroup; ++i) {
            const int lane = (g + i) * kWidth;
            T::Store(chain.fh + lane, fh[i]);
            T::Store(chain.fl + lane, fl[i]);
            T::Store(chain.rh + lane, rh[i]);
            T::Store(chain.rl + lane, rl[i]);
        }
    }
    double lanes[kWidth];
    T::Store(lanes, lowest);
    bool decided = true;
    for (int j = 0; j < kWidth; ++j) decided = decided && lanes[j] > 0.0;
    return decided;
}

}  // namespace
}  // namespace nadixq
