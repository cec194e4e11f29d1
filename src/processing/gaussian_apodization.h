// Gaussian apodization: the interferogram multiplied by a Gaussian window
// centred on its zero-path-difference point.
#pragma once

#include "processing/window_weights.h"

namespace nadixq {

// Accepted window widths, in points, both ends included.
constexpr double kApodizeMinWidth = 1e-10;
constexpr double kApodizeMaxWidth = 1e10;

// Multiplies ifg[i] by exp(-(i - z)^2 / width^2), z being the ZPD found over
// the whole array; the weight is 1 at z and 1/e at width points from it.
// Points whose weight underflows become exactly 0.0. Each weight is the
// correctly rounded exponential of the exact argument -(i - z)^2 / v, v the
// double width * width (window_exponential.h), so the window is the same bits
// on every system and every processor. Returns 1 when the window was applied,
// 0 with the array untouched when ifg is null, pts < 1, width lies outside
// [kApodizeMinWidth, kApodizeMaxWidth] (or is NaN), or no ZPD is found (there
// is no centre to put the window on).
int GaussianApodize(double* ifg, int pts, double width) noexcept;

// The same with the weights computed on the given path (tests and
// benchmarks); GaussianApodize uses BestWindowPath().
int GaussianApodizeOn(WindowPath path, double* ifg, int pts, double width) noexcept;

}  // namespace nadixq
