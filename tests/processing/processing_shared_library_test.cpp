// The processing calls as a host reaches them: found by their decorated names
// in the shared library and called through those.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "interface/nadixq.h"
#include "support/shared_library.h"
#include "support/synthetic_interferogram.h"

namespace {

using nadixq::test::SyntheticInterferogram;

// Through the library's exports the results are those of the same calls linked
// in directly.
TEST(ProcessingSharedLibrary, DecoratedExportsGiveTheSameResults) {
    nadixq::test::SharedLibrary library(NADIXQ_SHARED_LIBRARY);
    ASSERT_TRUE(library.Loaded()) << library.Error();
    using FindFn = int(NADIXQ_CALL*)(double*, int, int, int, int);
    using BaselineFn = int(NADIXQ_CALL*)(double*, int, int);
    using ApodizeFn = int(NADIXQ_CALL*)(double*, int, double);
    const nadixq::test::ProcessingExportNames names = nadixq::test::ProcessingExports();
    auto find = reinterpret_cast<FindFn>(library.Symbol(names.findZpd));
    auto baseline = reinterpret_cast<BaselineFn>(library.Symbol(names.baselineCorrectIfg));
    auto apodize = reinterpret_cast<ApodizeFn>(library.Symbol(names.gaussianApodize));
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
