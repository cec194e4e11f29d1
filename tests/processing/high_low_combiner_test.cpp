#include "processing/high_low_combiner.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "support/trace_capture.h"

namespace {

using nadixq::HighLowCombiner;
using nadixq::IFG_BlendInterferograms;
using nadixq::IFG_LinearRegression;
using nadixq::IFG_ScaleInterferogram;
using nadixq::IFG_TransitionLimits;
using nadixq::IFG_TransitionWeights;

struct Limits {
    int32_t m1 = -1, m2 = -1, m3 = -1, m4 = -1;
};

// Limits of an n-point array that is 10 everywhere but `cl` + 1 on
// [clipFrom, clipTo] (no clipping when clipFrom > clipTo).
Limits LimitsOf(int32_t n, int32_t clipFrom, int32_t clipTo, double cl = 1000.0) {
    std::vector<double> ifg(n, 10.0);
    for (int32_t i = clipFrom; i <= clipTo && i < n; ++i) ifg[i] = (i % 2 ? -1 : 1) * (cl + 1);
    Limits l;
    IFG_TransitionLimits(ifg.data(), n, cl, l.m1, l.m2, l.m3, l.m4, 64);
    return l;
}

TEST(TransitionLimits, LimitCases) {
    // Nothing clips.
    Limits none = LimitsOf(1024, 1, 0);
    EXPECT_EQ(none.m1, 0);
    EXPECT_EQ(none.m2, 0);
    EXPECT_EQ(none.m3, 0);
    EXPECT_EQ(none.m4, 0);

    // Only index 0 clips: the backward scan stops above it.
    Limits first = LimitsOf(1024, 0, 0);
    EXPECT_EQ(first.m1, 0);
    EXPECT_EQ(first.m2, 0);
    EXPECT_EQ(first.m3, 0);
    EXPECT_EQ(first.m4, 0);

    // Clipping from 0, 1 or 2: no rising ramp; from 30: a ramp of 28.
    for (int32_t start : {0, 1, 2}) {
        Limits l = LimitsOf(1024, start, 500);
        EXPECT_EQ(l.m1, 0) << start;
        EXPECT_EQ(l.m2, 0) << start;
        EXPECT_EQ(l.m3, 502) << start;
        EXPECT_EQ(l.m4, 566) << start;
    }
    Limits thirty = LimitsOf(1024, 30, 500);
    EXPECT_EQ(thirty.m1, 0);
    EXPECT_EQ(thirty.m2, 28);

    // Clipping to the last or the next-to-last point: no falling ramp.
    for (int32_t end : {1023, 1022}) {
        Limits l = LimitsOf(1024, 600, end);
        EXPECT_EQ(l.m3, 1024) << end;
        EXPECT_EQ(l.m4, 1024) << end;
    }

    Limits example = LimitsOf(1024, 100, 200);
    EXPECT_EQ(example.m1, 34);
    EXPECT_EQ(example.m2, 98);
    EXPECT_EQ(example.m3, 202);
    EXPECT_EQ(example.m4, 266);
}

TEST(TransitionLimits, MagnitudeEqualToThresholdIsNotClipped) {
    std::vector<double> ifg(256, 0.0);
    ifg[100] = -40000.0;
    ifg[150] = 40000.0;
    ifg[120] = 40000.001;
    Limits l;
    IFG_TransitionLimits(ifg.data(), 256, 40000.0, l.m1, l.m2, l.m3, l.m4, 64);
    EXPECT_EQ(l.m2, 118);
    EXPECT_EQ(l.m3, 122);
}

TEST(TransitionWeights, ExampleRampsAndUntouchedTail) {
    std::vector<double> w(1100, -7.0);
    IFG_TransitionWeights(w.data(), 1024, 34, 98, 202, 266);
    for (int i = 0; i <= 34; ++i) EXPECT_EQ(w[i], 0.0) << i;
    EXPECT_NEAR(w[66], 0.5, 1e-12);
    for (int i = 35; i < 98; ++i) {
        EXPECT_GT(w[i], w[i - 1]) << i;
        EXPECT_LT(w[i], 1.0) << i;
    }
    for (int i = 98; i <= 202; ++i) EXPECT_EQ(w[i], 1.0) << i;
    EXPECT_NEAR(w[234], 0.5, 1e-12);
    for (int i = 203; i < 266; ++i) EXPECT_LT(w[i], w[i - 1]) << i;
    for (int i = 266; i < 1024; ++i) EXPECT_EQ(w[i], 0.0) << i;
    for (int i = 1024; i < 1100; ++i) EXPECT_EQ(w[i], -7.0) << i;
}

TEST(TransitionWeights, EmptyRampsDoNotDivideByZero) {
    std::vector<double> w(64, -1.0);
    IFG_TransitionWeights(w.data(), 64, 0, 0, 64, 64);
    for (double v : w) EXPECT_EQ(v, 1.0);
    IFG_TransitionWeights(w.data(), 64, 0, 0, 0, 0);
    for (double v : w) EXPECT_EQ(v, 0.0);
}

TEST(LinearRegression, RecoversAKnownLine) {
    std::vector<double> x(1000), y(1000);
    for (int i = 0; i < 1000; ++i) {
        x[i] = std::sin(i * 0.37) * 3000.0 + i;
        y[i] = 2.5 * x[i] - 7.0;
    }
    double slope = 0, intercept = 0;
    IFG_LinearRegression(x.data(), y.data(), 1000, slope, intercept, -1, -1);
    EXPECT_NEAR(slope, 2.5, 1e-12);
    EXPECT_NEAR(intercept, -7.0, 1e-8);
}

TEST(LinearRegression, SumsAreDividedByTheFullPointCount) {
    // Over the included points (0..2) the least-squares line is y = 2x + 1;
    // dividing by all 4 points gives 25/11 and 6/11.
    const double x[] = {0, 1, 2, 3};
    const double y[] = {1, 3, 5, 100};
    double slope = 0, intercept = 0;
    IFG_LinearRegression(x, y, 4, slope, intercept, 3, 3);
    EXPECT_NEAR(slope, 25.0 / 11.0, 1e-12);
    EXPECT_NEAR(intercept, 6.0 / 11.0, 1e-12);
}

TEST(LinearRegression, SmallSwingOnALargeOffsetIsFittedNotReplaced) {
    // The spread of x is tiny next to its mean square, yet the fit is
    // defined: the line follows the data (up to the cancellation in X*X - XX,
    // of the order of 1%), where the ratio of the means would give 0.0125
    // and 0.
    std::vector<double> x(8192), y(8192);
    for (int i = 0; i < 8192; ++i) {
        x[i] = 1e6 + std::sin(0.01 * i);
        y[i] = 0.0625 * x[i] - 50000.0;
    }
    double slope = 0, intercept = 0;
    IFG_LinearRegression(x.data(), y.data(), 8192, slope, intercept, -1, -1);
    EXPECT_NEAR(slope, 0.0625, 0.002);
    EXPECT_NEAR(intercept, -50000.0, 2000.0);
}

TEST(LinearRegression, DegenerateFitsStayFinite) {
    double slope = -1, intercept = -1;

    // Every high-gain value the same: the ratio of the channel means.
    std::vector<double> x(512, 5.0), y(512);
    for (int i = 0; i < 512; ++i) y[i] = (i % 7) * 3.0;
    double meanY = 0;
    for (double v : y) meanY += v;
    meanY /= 512;
    IFG_LinearRegression(x.data(), y.data(), 512, slope, intercept, -1, -1);
    EXPECT_NEAR(slope, meanY / 5.0, 1e-12);
    EXPECT_NEAR(intercept, 0.0, 1e-9);

    // The same with one point excluded: the divisor is no longer 0, and the
    // line agrees with the fallback.
    IFG_LinearRegression(x.data(), y.data(), 512, slope, intercept, 0, 0);
    double meanRest = (meanY * 512 - y[0]) / 511;
    EXPECT_NEAR(slope, meanRest / 5.0, 1e-9);
    EXPECT_NEAR(intercept, 0.0, 1e-6);

    // A silent high-gain channel: slope 0 and the low-gain mean.
    std::vector<double> zero(512, 0.0);
    IFG_LinearRegression(zero.data(), y.data(), 512, slope, intercept, -1, -1);
    EXPECT_EQ(slope, 0.0);
    EXPECT_NEAR(intercept, meanY, 1e-12);

    // The excluded range covers every point: slope 0 and the low-gain mean.
    for (int i = 0; i < 512; ++i) x[i] = i * 1.5;
    IFG_LinearRegression(x.data(), y.data(), 512, slope, intercept, 0, 511);
    EXPECT_EQ(slope, 0.0);
    EXPECT_NEAR(intercept, meanY, 1e-12);
    IFG_LinearRegression(x.data(), y.data(), 512, slope, intercept, -5, 600);
    EXPECT_EQ(slope, 0.0);
    EXPECT_NEAR(intercept, meanY, 1e-12);
}

TEST(ScaleAndBlend, FollowTheirFormulas) {
    double ifg[] = {1.0, -2.0, 4.0};
    IFG_ScaleInterferogram(ifg, 3, 0.5, 3.0);
    EXPECT_EQ(ifg[0], 3.5);
    EXPECT_EQ(ifg[1], 2.0);
    EXPECT_EQ(ifg[2], 5.0);

    const double a[] = {10, 10, 10, 10};
    const double b[] = {20, 20, 20, 20};
    const double w[] = {1.0, 0.0, 0.25, 0.5};
    double out[5] = {0, 0, 0, 0, 99};
    IFG_BlendInterferograms(a, b, w, 4, out);
    EXPECT_EQ(out[0], 10.0);
    EXPECT_EQ(out[1], 20.0);
    EXPECT_EQ(out[2], 17.5);
    EXPECT_EQ(out[3], 15.0);
    EXPECT_EQ(out[4], 99.0);
}

// A centre burst on a slow wave: the low-gain channel never clips, the
// high-gain one (8 x low + offset) exceeds the threshold around the burst.
struct Channels {
    std::vector<double> high, low;
};

Channels Burst(int32_t n, int32_t centre, int scans) {
    Channels c{std::vector<double>(n), std::vector<double>(n)};
    for (int32_t i = 0; i < n; ++i) {
        const double d = i - centre;
        const double l =
            3000.0 * std::exp(-d * d / 200.0) * std::cos(d * 0.4) + 40.0 * std::sin(i * 0.05);
        c.low[i] = scans * l;
        c.high[i] = scans * std::fmax(-32767.0, std::fmin(32767.0, 8.0 * l));
    }
    return c;
}

TEST(CombineHighLow, MergesOntoTheLowGainScaleWithoutSteps) {
    auto combiner = std::make_unique<HighLowCombiner>();
    const int32_t n = 2048;
    Channels c = Burst(n, 700, 4);
    const std::vector<double> lowBefore = c.low;
    std::vector<double> out(n, 0.0);
    combiner->CombineHighLow(c.high.data(), c.low.data(), out.data(), n, 4, 1);

    EXPECT_GT(combiner->m2, combiner->m1);
    EXPECT_GT(combiner->m3, combiner->m2);
    EXPECT_LT(combiner->m2, 700);
    EXPECT_GT(combiner->m3, 700);
    EXPECT_EQ(c.low, lowBefore);
    // The high-gain channel is exactly 8 x low outside the clipped region, so
    // the merge gives back the low-gain channel everywhere, ramps included.
    for (int32_t i = 0; i < n; ++i) EXPECT_NEAR(out[i], lowBefore[i], 1e-6) << i;
    // `high` now holds the fitted high-gain interferogram.
    EXPECT_NEAR(c.high[10], lowBefore[10], 1e-6);
}

TEST(CombineHighLow, WithoutClippingTheResultIsTheFittedHighGain) {
    auto combiner = std::make_unique<HighLowCombiner>();
    std::vector<double> high(300), low(300), out(300);
    for (int i = 0; i < 300; ++i) {
        low[i] = 100.0 * std::sin(i * 0.1);
        high[i] = 3.0 * low[i];
    }
    high[0] = 5000.0;  // excluded from the fit ([0, 0]), still fitted and used
    combiner->CombineHighLow(high.data(), low.data(), out.data(), 300, 1, 1);
    EXPECT_EQ(combiner->m2, 0);
    EXPECT_EQ(combiner->m3, 0);
    for (int i = 0; i < 300; ++i) EXPECT_EQ(combiner->_blendWeights[i], 0.0);
    EXPECT_NEAR(out[0], 5000.0 / 3.0, 1e-9);
    for (int i = 1; i < 300; ++i) EXPECT_NEAR(out[i], low[i], 1e-9) << i;
}

TEST(CombineHighLow, ReusesLimitsUnlessAskedOrThePointCountChanged) {
    auto combiner = std::make_unique<HighLowCombiner>();
    Channels first = Burst(2048, 700, 1);
    std::vector<double> out(2048);
    combiner->CombineHighLow(first.high.data(), first.low.data(), out.data(), 2048, 1, 1);
    const int32_t m2 = combiner->m2, m3 = combiner->m3;

    // Same count, not asked: the burst has moved but the limits stay.
    Channels moved = Burst(2048, 1200, 1);
    combiner->CombineHighLow(moved.high.data(), moved.low.data(), out.data(), 2048, 1, 0);
    EXPECT_EQ(combiner->m2, m2);
    EXPECT_EQ(combiner->m3, m3);

    // More points than the table was computed for: recomputed, so no weight
    // of the old table survives past the old count.
    Channels longer = Burst(4096, 3000, 1);
    combiner->CombineHighLow(longer.high.data(), longer.low.data(), out.data(), 2048, 1, 0);
    std::vector<double> longOut(4096);
    combiner->CombineHighLow(longer.high.data(), longer.low.data(), longOut.data(), 4096, 1, 0);
    EXPECT_GT(combiner->m2, 2048);
    EXPECT_EQ(combiner->_limitsPoints, 4096);
    for (int i = 0; i < 2048; ++i) EXPECT_EQ(combiner->_blendWeights[i], 0.0) << i;
}

TEST(CombineHighLow, FirstUseComputesTheTable) {
    // A table never computed would feed clipped high-gain samples through.
    auto combiner = std::make_unique<HighLowCombiner>();
    Channels c = Burst(1024, 400, 2);
    std::vector<double> out(1024);
    combiner->CombineHighLow(c.high.data(), c.low.data(), out.data(), 1024, 2, 0);
    EXPECT_GT(combiner->m3, combiner->m2);
    EXPECT_EQ(combiner->_blendWeights[400], 1.0);
}

TEST(CombineHighLow, VerboseWritesItsLines) {
    nadixq::test::TraceCapture trace;
    auto combiner = std::make_unique<HighLowCombiner>();
    std::vector<double> high(1024, 10.0), low(1024, 1.0), out(1024);
    for (int i = 100; i <= 200; ++i) high[i] = 30000.0;
    combiner->CombineHighLow(high.data(), low.data(), out.data(), 1024, 1, 1, false);
    EXPECT_TRUE(trace.TextsStartingWith("KORAVEL").empty());

    for (int i = 100; i <= 200; ++i) high[i] = 30000.0;
    combiner->CombineHighLow(high.data(), low.data(), out.data(), 1024, 1, 1, true);
    EXPECT_TRUE(trace.Contains("KORAVEL: DualADC::CombineHighLow: pts= 1024; scount= 1\n"));
    EXPECT_TRUE(
        trace.Contains("KORAVEL: DualADC::IFG_TransitionLimits: n= 1024, cl=20000, m1=34, m2= "
                       "98, m3=202, m4=266, tl=64"));
    EXPECT_TRUE(trace.Contains("KORAVEL: DualADC::IFG_LinearRegression: pts= 1024"));
    EXPECT_TRUE(trace.Contains("KORAVEL: IFG_ScaleInterferogram: pts= 1024"));
    EXPECT_TRUE(trace.Contains("KORAVEL: IFG_BlendInterferograms: pts= 1024"));
}

}  // namespace
