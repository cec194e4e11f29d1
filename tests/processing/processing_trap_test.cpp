// The processing calls in a host that unmasks the floating-point exceptions:
// on finite input none of them may raise an invalid operation, a division by
// zero or an overflow (inexact and underflow are the honest results of
// rounding). Through the exports, as a host calls them, on a table of inputs
// that reach every branch: narrow windows far from the ZPD, the extreme
// widths, single points, huge and tiny samples. (A corrected sample that lies
// beyond the double range, such as -DBL_MAX less a positive mean, overflows
// honestly; the huge samples here stay within it.)
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <string>
#include <vector>

#include "interface/nadixq.h"
#include "support/floating_point_traps.h"
#include "support/synthetic_interferogram.h"

namespace {

using nadixq::test::RunsWithoutFloatingPointTraps;

struct Case {
    std::string name;
    std::vector<double> ifg;
    std::vector<double> widths;
};

// A burst whose extremes are 1e200 apart in sign: the product of two samples
// next to each other overflows a double.
std::vector<double> HugeBurst(int pts, int centre, double scale) {
    std::vector<double> ifg(pts, 0.25 * scale);
    for (int i = 0; i < pts; ++i) ifg[i] = (i % 2 ? 0.25 : -0.25) * scale;
    ifg[centre - 2] = 4.0 * scale;
    ifg[centre - 1] = 2.0 * scale;
    ifg[centre] = 1.0 * scale;
    ifg[centre + 1] = -2.0 * scale;
    ifg[centre + 2] = -4.0 * scale;
    return ifg;
}

std::vector<double> Scaled(std::vector<double> ifg, double scale) {
    for (double& x : ifg) x *= scale;
    return ifg;
}

std::vector<Case> Cases() {
    std::vector<Case> cases;
    const std::vector<double> extremes = {1e-10, 1e-5, 0.5, 1.0, 3.0, 100.0, 4096.0, 1e5, 1e10};
    // Every width from 1 to 20000 in steps of 7 on 16384 points with the ZPD
    // at 300: the weights underflow far before the ZPD for the narrow ones.
    std::vector<double> many;
    for (int w = 1; w <= 20000; w += 7) many.push_back(w);
    for (double w : extremes) many.push_back(w);
    cases.push_back(
        {"16384 points, ZPD near 300", nadixq::test::SyntheticInterferogram(16384, 300), many});
    cases.push_back({"4096 points, ZPD near the end",
                     nadixq::test::SyntheticInterferogram(4096, 4000), extremes});
    cases.push_back({"65536 points, ZPD in the middle",
                     nadixq::test::SyntheticInterferogram(65536, 32768), extremes});
    cases.push_back({"samples near 1e300",
                     Scaled(nadixq::test::SyntheticInterferogram(4096, 900), 1e300), extremes});
    cases.push_back({"samples near DBL_MAX / 8",
                     Scaled(nadixq::test::SyntheticInterferogram(32768, 900), DBL_MAX / 8),
                     extremes});
    cases.push_back({"a burst of +-1e200", HugeBurst(2048, 1000, 1e200), extremes});
    cases.push_back({"a burst of +-DBL_MAX / 2", HugeBurst(2048, 1000, DBL_MAX / 8), extremes});
    cases.push_back({"subnormal samples",
                     Scaled(nadixq::test::SyntheticInterferogram(4096, 500), 1e-310), extremes});
    cases.push_back({"one point", {1.0}, extremes});
    cases.push_back({"two points", {1.0, -1.0}, extremes});
    cases.push_back({"a constant", std::vector<double>(100, DBL_MAX), extremes});
    cases.push_back({"zeros", std::vector<double>(100, 0.0), extremes});
    return cases;
}

struct Work {
    const Case* c;
    std::vector<double> work;
};

void Process(void* context) {
    Work& run = *static_cast<Work*>(context);
    const Case& c = *run.c;
    const int pts = static_cast<int>(c.ifg.size());
    run.work = c.ifg;
    FindZPD(run.work.data(), pts, 0, -1, -1);
    FindZPD(run.work.data(), pts, 256, 10, pts - 10);
    for (int mode : {1, 0}) {
        run.work = c.ifg;
        BaselineCorrectIfg(run.work.data(), pts, mode);
    }
    const std::vector<double> corrected = run.work;  // linear baseline removed
    for (double width : c.widths) {
        run.work = corrected;
        GaussianApodize(run.work.data(), pts, width);
    }
    // Widths that are refused, NaN among them: the check is a quiet one.
    for (double width : {0.0, -1.0, 1e-11, 1e11, std::nan("")}) {
        GaussianApodize(run.work.data(), pts, width);
    }
}

void Divide(void* context) {
    volatile double zero = 0.0;
    *static_cast<double*>(context) = 1.0 / zero;
}

void SetNanResolution(void*) {
    spectrometer_setResolution(std::nan(""));
}

TEST(ProcessingTraps, NoInvalidDivideOrOverflowOnFiniteInput) {
    // The harness itself catches a trap.
    double result = 0.0;
    ASSERT_FALSE(RunsWithoutFloatingPointTraps(Divide, &result))
        << "a division by zero did not trap: the traps are not enabled";

    int traps = 0;
    for (const Case& c : Cases()) {
        Work run{&c, {}};
        if (!RunsWithoutFloatingPointTraps(Process, &run)) {
            ADD_FAILURE() << "a floating-point trap in the processing calls on " << c.name;
            ++traps;
        }
    }
    EXPECT_EQ(traps, 0);
    // A NaN resolution is the host's error, but it is told apart quietly.
    EXPECT_TRUE(RunsWithoutFloatingPointTraps(SetNanResolution, nullptr));
    spectrometer_setResolution(4.0);
}

}  // namespace
