#include "processing/gaussian_apodization.h"

#include <cmath>

#include "processing/zpd_search.h"

namespace nadixq {

int GaussianApodize(double* ifg, int pts, double width) noexcept {
    if (ifg == nullptr || pts < 1) return 0;
    // Written so that NaN fails both comparisons and is rejected too.
    if (!(width >= kApodizeMinWidth && width <= kApodizeMaxWidth)) return 0;
    const int z = FindZPD(ifg, pts, 0, -1, -1);
    // Without a ZPD a window "centred" on the failure value would quietly
    // attenuate the whole interferogram; leave it as it is instead.
    if (z < 0) return 0;

    const double v = width * width;
    // The distance to the ZPD is carried along in a double rather than
    // converted from i each time; it stays an exact integer throughout.
    double d = -static_cast<double>(z);
    int i = 0;
    for (; i < pts; ++i, d += 1.0) {
        // One exponential per point. A multiplicative recurrence from point
        // to point would be several times faster, but its weights drift from
        // exp() in the last digits and underflow at other points; the window
        // is defined as exp() rounded to double.
        const double g = std::exp(-(d * d) / v);
        if (g > 0.0) {
            ifg[i] *= g;
        } else {
            // Set, not multiplied: a zero weight must give 0.0 even for an
            // infinite or NaN sample.
            ifg[i] = 0.0;
            // After the ZPD the weights only fall, so once one has underflowed
            // the rest are zero too; skip their exponentials. Before the ZPD a
            // zero weight says nothing about the next point.
            if (i > z) break;
        }
    }
    for (; i < pts; ++i) ifg[i] = 0.0;
    return 1;
}

}  // namespace nadixq
