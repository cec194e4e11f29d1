// The window's weights for consecutive blocks of distances, as GaussianApodize
// walks them outwards from the ZPD. Where a whole block's weights are above
// exp(-600) they come from a chain (window_chain.h), started once and stepped
// on from block to block; farther out from the fast evaluation of
// window_weights.h; the few results either leaves undecided from
// WindowWeight. Every weight is WindowWeight's, on every path.
#pragma once

#include "processing/window_chain.h"
#include "processing/window_exponential.h"
#include "processing/window_weights.h"

namespace nadixq {

class WindowSeries {
  public:
    static constexpr int kBlock = 1024;  // distances a call of Next gives
    static_assert(kBlock % kChainLanes == 0, "a block is whole steps of the chain");

    // Distances from `first` (an integer >= 0) on, on the given path, which
    // must be available.
    WindowSeries(WindowPath path, const WindowDivisor& divisor, double first) noexcept;

    // w[j] = WindowWeight(d + j, divisor) for j below kBlock, d the first
    // distance not yet given; true when all of them are above 0.
    bool Next(double* w) noexcept;

  private:
    bool InChainRange(double end) const noexcept;
    void StartChain() noexcept;
    bool StepChain(double* w) noexcept;

    WindowPath _path;
    WindowDivisor _divisor;
    double _next;         // the first distance of the next block
    int _chainSteps = 0;  // steps since the chain started
    bool _chainLive = false;
    WindowChain _chain{};
};

// w[j] = WindowWeight(d0 + j, divisor) for j from 0 to count - 1, d0 >= 0 an
// integer, through a series on the given path, which must be available.
void WindowWeights(WindowPath path, const WindowDivisor& divisor, double d0, int count,
                   double* w) noexcept;

}  // namespace nadixq
