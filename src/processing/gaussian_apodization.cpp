#include "processing/gaussian_apodization.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdint>

#include "processing/window_series.h"
#include "processing/zpd_search.h"

namespace nadixq {

namespace {

// Distances whose weights are computed in one go. The weight of a distance
// serves the point that far after the ZPD and the point that far before it.
constexpr int kBlock = WindowSeries::kBlock;

// centre[-j] *= w[j] for j from first to last: the points before the ZPD,
// which meet the weights in the opposite order, on SSE2 vectors with each
// pair of weights swapped (the compiler leaves a loop that runs backwards
// through memory on single values).
void MultiplyBackwards(double* centre, const double* w, int first, int last) {
    int j = first;
    for (; last - j >= 1; j += 2) {
        double* pair = centre - j - 1;  // centre[-j - 1], centre[-j]
        const __m128d weights = _mm_loadu_pd(w + j);
        const __m128d swapped = _mm_shuffle_pd(weights, weights, 1);
        _mm_storeu_pd(pair, _mm_mul_pd(_mm_loadu_pd(pair), swapped));
    }
    for (; j <= last; ++j) centre[-j] *= w[j];
}

}  // namespace

int GaussianApodize(double* ifg, int pts, double width) noexcept {
    return GaussianApodizeOn(BestWindowPath(), ifg, pts, width);
}

int GaussianApodizeOn(WindowPath path, double* ifg, int pts, double width) noexcept {
    if (ifg == nullptr || pts < 1) return 0;
    // Written so that NaN fails both comparisons and is rejected too.
    if (!(width >= kApodizeMinWidth && width <= kApodizeMaxWidth)) return 0;
    const int z = FindZPD(ifg, pts, 0, -1, -1);
    // Without a ZPD a window "centred" on the failure value would quietly
    // attenuate the whole interferogram; leave it as it is instead.
    if (z < 0) return 0;

    const WindowDivisor divisor = MakeWindowDivisor(width * width);
    // The window is symmetric about the ZPD: one weight per distance serves
    // both sides. After the ZPD, once a weight has underflowed to 0 the
    // weights only fall, so every later point is set to 0.0 without its
    // weight being evaluated; before the ZPD each point gets its own weight
    // down to the first zero weight, which the points farther out share (the
    // weights fall with the distance, and so does their correct rounding).
    const int64_t after = int64_t{pts} - z;  // distances 0 .. after-1 lie at or after the ZPD
    const int64_t before = z;                // distances 1 .. before lie before it
    bool afterDone = false;
    bool beforeDone = false;
    WindowSeries series(path, divisor, 0.0);
    double w[kBlock];
    for (int64_t d0 = 0; (!afterDone && d0 < after) || (!beforeDone && d0 <= before);
         d0 += kBlock) {
        const bool positive = series.Next(w);

        if (!afterDone && d0 < after) {
            double* out = ifg + z + d0;
            const int count = static_cast<int>(std::min<int64_t>(kBlock, after - d0));
            if (positive) {
                for (int j = 0; j < count; ++j) out[j] *= w[j];
            } else {
                int j = 0;
                for (; j < count && w[j] > 0.0; ++j) out[j] *= w[j];
                if (j < count) {
                    // Set, not multiplied: a zero weight must give 0.0 even for an
                    // infinite or NaN sample. Distance 0 has the weight 1, so
                    // this point lies after the ZPD.
                    std::fill(out + j, ifg + pts, 0.0);
                    afterDone = true;
                }
            }
        }

        if (!beforeDone && std::max<int64_t>(d0, 1) <= before) {
            // Distances from max(d0, 1) up to the block's end or to z.
            const int first = d0 == 0 ? 1 : 0;
            const int last = static_cast<int>(std::min<int64_t>(kBlock - 1, before - d0));
            double* centre = ifg + z - d0;
            if (positive) {
                MultiplyBackwards(centre, w, first, last);
            } else {
                for (int j = first; j <= last; ++j) {
                    centre[-j] = w[j] > 0.0 ? centre[-j] * w[j] : 0.0;
                }
                if (w[kBlock - 1] == 0.0 && d0 + kBlock <= before) {
                    // Every point from here to the start has a zero weight too.
                    std::fill(ifg, centre - last, 0.0);
                    beforeDone = true;
                }
            }
        }
    }
    return 1;
}

}  // namespace nadixq
