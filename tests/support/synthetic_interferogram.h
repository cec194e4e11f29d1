// A made-up interferogram for the processing tests and benchmarks.
#pragma once

#include <cmath>
#include <vector>

namespace nadixq::test {

// A centre burst of five cosines under a Gaussian envelope, not symmetric
// about its centre (as a real one is not), on a slowly drifting offset.
inline std::vector<double> SyntheticInterferogram(int pts, int centre) {
    const double freqs[] = {0.11, 0.15, 0.19, 0.23, 0.27};
    const double amps[] = {0.6, 1.0, 0.8, 0.5, 0.3};
    const double twoPi = 2.0 * std::acos(-1.0);
    std::vector<double> ifg(pts);
    for (int i = 0; i < pts; ++i) {
        const double x = i - centre;
        double burst = 0.0;
        for (int k = 0; k < 5; ++k) burst += amps[k] * std::cos(twoPi * freqs[k] * x + 1.2);
        ifg[i] =
            2.5 + 1e-5 * i + burst * std::exp(-(x / 12.0) * (x / 12.0)) + 0.002 * std::sin(0.7 * i);
    }
    return ifg;
}

}  // namespace nadixq::test
