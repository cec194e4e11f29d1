// The window's weights by recurrence, where they are all normal numbers.
//
// For f(d) = exp(-d^2 / v) and a stride s, f(d + s) = f(d) r(d) with
// r(d) = exp(-(2 s d + s^2) / v), and r(d + s) = r(d) c with c = exp(-2 s^2 / v).
// A chain holds f and r for kChainLanes consecutive distances, one lane each,
// as double-doubles, and steps every lane by the stride s = kChainLanes: two
// double-double products per weight instead of an exponential. Each product
// adds at most 2^-102 relative. A chain started from f within 2^-80.9, r
// within 2^-85 and c within 2^-90 of the exact values (WindowSeries's start)
// is, after k steps, within 2^-80.9 + k 2^-85 + (k^2 / 2) (2^-90 + 2^-102) +
// k 2^-102 of the exact weights: below 2^-72.8 for k up to kChainSteps. Each
// weight is certified correctly rounded by a rounding test against a bound
// above that, 2^-71, so every path gives the bits of WindowWeight whatever
// its arithmetic; the few the test cannot decide (about one in 2^17) are
// marked for the accurate evaluation.
//
// The products stay exact and normal as long as the weights and the ratios
// do not fall below about 2^-920: the chain is for weights above exp(-600)
// (kChainLimit), whose neighbours a stride on are above exp(-640).
#pragma once

namespace nadixq {

constexpr int kChainLanes = 32;
// Steps a chain may take from its start before the bound above is exceeded.
constexpr int kChainSteps = 512;
constexpr double kChainLimit = 600.0;

struct WindowChain {
    // Lane l holds f and r of the distance d + l, d being the chain's.
    double fh[kChainLanes];
    double fl[kChainLanes];
    double rh[kChainLanes];
    double rl[kChainLanes];
    double ch;
    double cl;
};

// Takes `steps` steps: w[l + kChainLanes k] is the weight of lane l after k of
// them, correctly rounded, or -1 where the rounding test left it undecided.
// Returns true when no weight is undecided. One function per instruction set;
// the wider ones exist on x86-64 only and need a processor that has them.
bool ChainStepsSse2(WindowChain& chain, int steps, double* w) noexcept;
bool ChainStepsAvx2(WindowChain& chain, int steps, double* w) noexcept;
bool ChainStepsAvx512(WindowChain& chain, int steps, double* w) noexcept;

}  // namespace nadixq
