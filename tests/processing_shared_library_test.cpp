// The processing calls as a host reaches them: found by their decorated names
// in the shared library and called through those.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "interface/nadixq.h"
#include "support/shared_library.h"

namespace {

// A centre burst of five cosines under a Gaussian envelope, not symmetric
// about its centre (as a real one is not), on a slowly drifting offset.
std::vector<double> SyntheticInterferogram(int pts, int centre) {
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

// Through the library's exports the results are those of the same calls linked
// in directly.
TEST(ProcessingSharedLibrary, DecoratedExportsGiveTheSameResults) {
    nadixq::test::SharedLibrary library(NADIXQ_SHARED_LIBRARY);
    ASSERT_TRUE(library.Loaded()) << library.Error();
    using FindFn = int (*)(double*, int, int, int, int);
    using BaselineFn = int (*)(double*, int, int);
    using ApodizeFn = int (*)(double*, int, double);
    auto find = reinterpret_cast<FindFn>(library.Symbol("_Z7FindZPDPdiiii"));
    auto baseline = reinterpret_cast<BaselineFn>(library.Symbol("_Z18BaselineCorrectIfgPdii"));
    auto apodize = reinterpret_cast<ApodizeFn>(library.Symbol("_Z15GaussianApodizePdid"));
    ASSERT_NE(find, nullptr);
    ASSERT_NE(baseline, nullptr);
    ASSERT_NE(apodize, nullptr);

    auto ifg = SyntheticInterferogram(16384, 256);
    auto local = ifg;
    EXPECT_EQ(find(ifg.data(), 16384, 0, -1, -1), -3);
    EXPECT_EQ(baseline(ifg.data(), 16384, 0), 1);
    EXPECT_EQ(find(ifg.data(), 16384, 0, -1, -1), 256);
    EXPECT_EQ(apodize(ifg.data(), 16384, 2000.0), 1);
    BaselineCorrectIfg(local.data(), 16384, 0);
    GaussianApodize(local.data(), 16384, 2000.0);
    EXPECT_EQ(ifg, local);
}

}  // namespace
