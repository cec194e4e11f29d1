#include "processing/window_series.h"

#include <cstring>

namespace nadixq {

WindowSeries::WindowSeries(WindowPath path, const WindowDivisor& divisor, double first) noexcept
    : _path(path), _divisor(divisor), _next(first) {}

// The chain serves the block ending before `end` when the weights up to a
// stride beyond it are above exp(-kChainLimit) (q = d^2 / v rounded, with a
// margin for its rounding), and the distances are small enough for d^2 and
// the ratios' arguments to be exact doubles.
bool WindowSeries::InChainRange(double end) const noexcept {
    const double last = end + kChainLanes;
    return _path != WindowPath::kScalar && last < 0x1p24 &&
           last * last * _divisor.inverse <= kChainLimit * (1.0 - 0x1p-40);
}

// The lanes' start from six accurate evaluations: f along the lanes by a
// chain of stride 1 (f(d + 1) = f(d) h(d), h(d + 1) = h(d) exp(-2 / v)), r by
// r(d + 1) = r(d) exp(-2 s / v). 31 steps leave f within 2^-80.9 and r
// within 2^-85 of the exact values, which keeps the chain's bound (window_chain.h).
void WindowSeries::StartChain() noexcept {
    constexpr double s = kChainLanes;
    const double d = _next;
    // f, h and r of lane l as the loop reaches it.
    WindowExtended f = WindowExpExtended(d * d, _divisor);
    WindowExtended h = WindowExpExtended(2.0 * d + 1.0, _divisor);
    WindowExtended r = WindowExpExtended(2.0 * s * d + s * s, _divisor);
    const WindowExtended hStep = WindowExpExtended(2.0, _divisor);
    const WindowExtended rStep = WindowExpExtended(2.0 * s, _divisor);
    const WindowExtended c = WindowExpExtended(2.0 * s * s, _divisor);
    for (int l = 0; l < kChainLanes; ++l) {
        _chain.fh[l] = f.hi;
        _chain.fl[l] = f.lo;
        _chain.rh[l] = r.hi;
        _chain.rl[l] = r.lo;
        f = WindowExtendedProduct(f, h);
        h = WindowExtendedProduct(h, hStep);
        r = WindowExtendedProduct(r, rStep);
    }
    _chain.ch = c.hi;
    _chain.cl = c.lo;
    _chainSteps = 0;
    _chainLive = true;
}

bool WindowSeries::StepChain(double* w) noexcept {
    constexpr int kSteps = kBlock / kChainLanes;
    if (!_chainLive || _chainSteps + kSteps > kChainSteps) StartChain();
    _chainSteps += kSteps;
    switch (_path) {
        case WindowPath::kAvx512:
            return ChainStepsAvx512(_chain, kSteps, w);
        case WindowPath::kAvx2:
            return ChainStepsAvx2(_chain, kSteps, w);
        default:
            return ChainStepsSse2(_chain, kSteps, w);
    }
}

bool WindowSeries::Next(double* w) noexcept {
    const double d0 = _next;
    if (InChainRange(d0 + kBlock)) {
        if (!StepChain(w)) {
            for (int j = 0; j < kBlock; ++j) {
                if (w[j] < 0.0) w[j] = WindowWeight(d0 + j, _divisor);
            }
        }
        _next += kBlock;
        // Every weight of the chain's range is above exp(-600).
        return true;
    }
    // Beyond the chain's range (the weights fall with the distance, so for
    // good): the distances are evaluated one by one.
    _chainLive = false;
    PolynomialWindowWeights(_path, _divisor, d0, kBlock, w);
    _next += kBlock;
    // The smallest weight, in two lanes so that the pass vectorises.
    constexpr int kLanes = 2;
    double smallest[kLanes] = {w[0], w[1]};
    for (int j = kLanes; j < kBlock; j += kLanes) {
        for (int k = 0; k < kLanes; ++k) {
            smallest[k] = w[j + k] < smallest[k] ? w[j + k] : smallest[k];
        }
    }
    return smallest[0] > 0.0 && smallest[1] > 0.0;
}

void WindowWeights(WindowPath path, const WindowDivisor& divisor, double d0, int count,
                   double* w) noexcept {
    WindowSeries series(path, divisor, d0);
    for (int first = 0; first < count; first += WindowSeries::kBlock) {
        if (count - first >= WindowSeries::kBlock) {
            series.Next(w + first);
        } else {
            double block[WindowSeries::kBlock];
            series.Next(block);
            std::memcpy(w + first, block, sizeof(double) * (count - first));
        }
    }
}

}  // namespace nadixq
