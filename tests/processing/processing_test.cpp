// The host's processing calls: ZPD search, baseline correction, apodization.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "interface/nadixq.h"
#include "processing/window_exponential.h"
#include "support/synthetic_interferogram.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// A small burst written sample by sample at `at`, on a quiet background.
std::vector<double> WithSamples(int pts, int at, std::vector<double> samples, double rest = 0.25) {
    std::vector<double> ifg(pts, rest);
    for (size_t k = 0; k < samples.size(); ++k) ifg[at + k] = samples[k];
    return ifg;
}

using nadixq::test::SyntheticInterferogram;

// A plain ramp from +peak at `from` to -peak at `to`, crossing zero once.
std::vector<double> Ramp(int pts, int from, int to) {
    std::vector<double> ifg(pts, 0.0);
    for (int i = from; i <= to; ++i) ifg[i] = 9.0 - 17.5 * (i - from) / (to - from);
    return ifg;
}

TEST(FindZPD, CrossingNearestToZeroBetweenTheExtremes) {
    // Maximum 9.0 at 102, minimum -8.0 at 105; the crossing lies between 103
    // and 104 and |-2.0| < |4.0|.
    auto ifg = WithSamples(4096, 100, {0.5, 3.0, 9.0, 4.0, -2.0, -8.0, -3.0});
    const auto before = ifg;
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, -1, -1), 104);
    EXPECT_EQ(ifg, before);
    // Nearer to zero on the earlier side.
    ifg = WithSamples(4096, 100, {0.5, 3.0, 9.0, 1.0, -2.0, -8.0, -3.0});
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, -1, -1), 103);
}

TEST(FindZPD, TieTakesTheLaterIndexInEitherDirection) {
    auto down = WithSamples(4096, 100, {9.0, 2.0, -2.0, -8.0});
    EXPECT_EQ(FindZPD(down.data(), 4096, 0, -1, -1), 102);
    auto up = WithSamples(4096, 100, {-9.0, -2.0, 2.0, 8.0});
    EXPECT_EQ(FindZPD(up.data(), 4096, 0, -1, -1), 102);
}

TEST(FindZPD, ExactZeroCountsOnBothSides) {
    auto between = WithSamples(4096, 100, {9.0, 0.0, -8.0});
    EXPECT_EQ(FindZPD(between.data(), 4096, 0, -1, -1), -3);
    auto sameSign = WithSamples(4096, 100, {9.0, 4.0, 0.0, 2.0, -8.0});
    EXPECT_EQ(FindZPD(sameSign.data(), 4096, 0, -1, -1), -3);
}

TEST(FindZPD, NoSignChangeOrFlatWindowFails) {
    auto offset = WithSamples(4096, 100, {9.0, 4.0, -2.0, -8.0});
    for (double& v : offset) v += 20.0;
    EXPECT_EQ(FindZPD(offset.data(), 4096, 0, -1, -1), -3);
    std::vector<double> flat(4096, 1.5);
    EXPECT_EQ(FindZPD(flat.data(), 4096, 0, -1, -1), -3);
    EXPECT_EQ(FindZPD(flat.data(), 1, 0, -1, -1), -3);
}

TEST(FindZPD, ExtremesMustLieFewerThan20PointsApart) {
    auto near = Ramp(4096, 100, 119);
    const int zpd = FindZPD(near.data(), 4096, 0, -1, -1);
    EXPECT_GT(zpd, 100);
    EXPECT_LE(zpd, 119);
    auto far = Ramp(4096, 100, 120);
    EXPECT_EQ(FindZPD(far.data(), 4096, 0, -1, -1), -3);
}

TEST(FindZPD, EachExtremeIsItsFirstOccurrence) {
    auto ifg = WithSamples(4096, 100, {9.0, 4.0, -2.0, -8.0});
    ifg[300] = -8.0;  // a later equal minimum does not move it
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, -1, -1), 102);
    ifg[50] = 9.0;  // an earlier equal maximum does: 53 points apart
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, -1, -1), -3);
}

TEST(FindZPD, StartAndEndRules) {
    // Two bursts: a large one at 1000 and a small one at 3000.
    auto ifg = WithSamples(4096, 998, {9.0, 4.0, -2.0, -8.0});
    ifg[2998] = 3.0;
    ifg[2999] = 1.0;
    ifg[3000] = -0.5;
    ifg[3001] = -2.0;
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, -5, -1), 1000);
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, 2000, 4095), 3000);
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, 2000, 100), 3000);   // end <= start: to the end
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, 2000, 4096), 3000);  // end == pts: to the end
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, -1, 2000), 1000);
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, 1002, 2500), -3);  // between the two: flat
}

TEST(FindZPD, HintIsUsedFrom207To305Only) {
    // Small bursts at 200 and 330, a large one at 1000.
    auto ifg = WithSamples(4096, 198, {3.0, 1.0, -0.5, -2.0});
    ifg[328] = -3.0;
    ifg[329] = -1.0;
    ifg[330] = 0.5;
    ifg[331] = 2.0;
    const double large[] = {9.0, 4.0, -2.0, -8.0};
    for (int k = 0; k < 4; ++k) ifg[998 + k] = large[k];
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, -1, -1), 1000);
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 206, -1, -1), 1000);
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 207, -1, -1), 200);
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 305, -1, -1), 330);
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 306, -1, -1), 1000);
    // The hint overrides start and end.
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 207, 500, 2000), 200);
}

TEST(FindZPD, HintWindowIs30PointsEachSide) {
    auto ifg = WithSamples(4096, 254, {9.0, 4.0, -2.0, -8.0});
    // Larger extremes just outside 226..286 would win if the window grew.
    ifg[225] = 100.0;
    ifg[287] = -100.0;
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 256, -1, -1), 256);
    ifg[225] = 0.25;
    ifg[226] = 100.0;  // inside: now the extremes are 31 points apart
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 256, -1, -1), -3);
}

TEST(FindZPD, BadArgumentsFailWithoutReadingPastTheArray) {
    auto ifg = WithSamples(4096, 100, {9.0, 4.0, -2.0, -8.0});
    EXPECT_EQ(FindZPD(nullptr, 4096, 0, -1, -1), -3);
    EXPECT_EQ(FindZPD(ifg.data(), 0, 0, -1, -1), -3);
    EXPECT_EQ(FindZPD(ifg.data(), -7, 0, -1, -1), -3);
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, 4096, -1), -3);
    EXPECT_EQ(FindZPD(ifg.data(), 4096, 0, 1 << 30, 1 << 30), -3);
    // A hint window beyond a short array; the burst behind `pts` is not seen.
    auto buffer = WithSamples(400, 254, {9.0, 4.0, -2.0, -8.0}, 0.0);
    EXPECT_EQ(FindZPD(buffer.data(), 226, 256, -1, -1), -3);
    EXPECT_EQ(FindZPD(buffer.data(), 256, 256, -1, -1), -3);   // window 226..255: burst cut
    EXPECT_EQ(FindZPD(buffer.data(), 258, 256, -1, -1), 256);  // clipped to 226..257
}

TEST(BaselineCorrectIfg, MeanRemoval) {
    std::vector<double> ifg = {1.0, 2.0, 3.0, 4.0};
    EXPECT_EQ(BaselineCorrectIfg(ifg.data(), 4, 1), 1);
    EXPECT_EQ(ifg, (std::vector<double>{-1.5, -0.5, 0.5, 1.5}));
    // Any non-zero mode removes the mean; one point becomes zero.
    ifg = {5.0, 7.0};
    EXPECT_EQ(BaselineCorrectIfg(ifg.data(), 2, -4), 1);
    EXPECT_EQ(ifg, (std::vector<double>{-1.0, 1.0}));
    ifg = {3.25};
    EXPECT_EQ(BaselineCorrectIfg(ifg.data(), 1, 1), 1);
    EXPECT_EQ(ifg[0], 0.0);
}

TEST(BaselineCorrectIfg, LinearBaselineThroughTheEndMeans) {
    std::vector<double> constant(100, 4.75);
    EXPECT_EQ(BaselineCorrectIfg(constant.data(), 100, 0), 1);
    for (double v : constant) EXPECT_EQ(v, 0.0);

    std::vector<double> line(100);
    for (int i = 0; i < 100; ++i) line[i] = 2.0 * i;
    EXPECT_EQ(BaselineCorrectIfg(line.data(), 100, 0), 1);
    // s = 31 at index 0, e = 167 at index 99: the line is not removed exactly.
    EXPECT_NEAR(line[0], -31.0, 1e-12);
    EXPECT_NEAR(line[99], 31.0, 1e-9);
    EXPECT_NEAR(line[50], 100.0 - (31.0 + 50 * 136.0 / 99), 1e-9);
}

TEST(BaselineCorrectIfg, BaselineIsAccumulatedByRepeatedAddition) {
    std::vector<double> ifg(1000);
    for (int i = 0; i < 1000; ++i) ifg[i] = 0.37 * i + std::sin(0.01 * i);
    auto expected = ifg;
    double s = 0.0, e = 0.0;
    for (int i = 0; i < 32; ++i) s += ifg[i];
    for (int i = 999; i >= 968; --i) e += ifg[i];
    s /= 32;
    e /= 32;
    const double step = (e - s) / 999;
    double baseline = s;
    bool differsFromProduct = false;
    for (int i = 0; i < 1000; ++i) {
        expected[i] -= baseline;
        differsFromProduct |= baseline != s + i * step;
        baseline += step;
    }
    ASSERT_TRUE(differsFromProduct);  // otherwise this test would not tell them apart
    EXPECT_EQ(BaselineCorrectIfg(ifg.data(), 1000, 0), 1);
    EXPECT_EQ(ifg, expected);
}

TEST(BaselineCorrectIfg, BadArgumentsLeaveTheArrayAlone) {
    EXPECT_EQ(BaselineCorrectIfg(nullptr, 100, 0), 0);
    EXPECT_EQ(BaselineCorrectIfg(nullptr, 100, 1), 0);
    std::vector<double> ifg(64, 2.0);
    ifg[40] = 1e6;  // behind `pts`: neither read nor written
    const auto before = ifg;
    EXPECT_EQ(BaselineCorrectIfg(ifg.data(), 0, 1), 0);
    EXPECT_EQ(BaselineCorrectIfg(ifg.data(), -3, 0), 0);
    EXPECT_EQ(BaselineCorrectIfg(ifg.data(), 31, 0), 0);
    EXPECT_EQ(ifg, before);
    EXPECT_EQ(BaselineCorrectIfg(ifg.data(), 32, 0), 1);
    for (int i = 0; i < 32; ++i) EXPECT_EQ(ifg[i], 0.0) << i;
    EXPECT_EQ(ifg[40], 1e6);
    EXPECT_EQ(BaselineCorrectIfg(ifg.data(), 40, 1), 1);
    EXPECT_EQ(ifg[40], 1e6);
}

TEST(GaussianApodize, WidthOutsideLimitsIsRejected) {
    auto ifg = WithSamples(4096, 254, {9.0, 4.0, -2.0, -8.0});
    const auto before = ifg;
    for (double width : {0.0, 1e-11, 9.99e-11, 1.0001e10, -5.0, kNaN, kInf}) {
        EXPECT_EQ(GaussianApodize(ifg.data(), 4096, width), 0) << width;
        EXPECT_EQ(ifg, before) << width;
    }
    // The narrowest width keeps the ZPD alone; the widest changes next to nothing.
    EXPECT_EQ(GaussianApodize(ifg.data(), 4096, 1e-10), 1);
    for (int i = 0; i < 4096; ++i) EXPECT_EQ(ifg[i], i == 256 ? -2.0 : 0.0) << i;
    ifg = before;
    EXPECT_EQ(GaussianApodize(ifg.data(), 4096, 1e10), 1);
    for (int i = 0; i < 4096; ++i) EXPECT_NEAR(ifg[i], before[i], 1e-12 * std::fabs(before[i]));
}

TEST(GaussianApodize, WeightIsOneAtTheZpdAndOneOverEAtWidth) {
    auto ifg = SyntheticInterferogram(4096, 256);
    ASSERT_EQ(BaselineCorrectIfg(ifg.data(), 4096, 0), 1);
    const int z = FindZPD(ifg.data(), 4096, 0, -1, -1);
    ASSERT_GE(z, 100);
    const auto before = ifg;
    EXPECT_EQ(GaussianApodize(ifg.data(), 4096, 50.0), 1);
    EXPECT_EQ(ifg[z], before[z]);
    EXPECT_EQ(ifg[z - 50], before[z - 50] * std::exp(-1.0));
    EXPECT_EQ(ifg[z + 50], before[z + 50] * std::exp(-1.0));
    EXPECT_EQ(ifg[z + 100], before[z + 100] * std::exp(-4.0));
}

TEST(GaussianApodize, UnderflowedWeightsGiveExactZeros) {
    auto ifg = SyntheticInterferogram(4096, 256);
    ASSERT_EQ(BaselineCorrectIfg(ifg.data(), 4096, 0), 1);
    const int z = FindZPD(ifg.data(), 4096, 0, -1, -1);
    ASSERT_GE(z, 100);
    // Far from the ZPD even a NaN sample becomes 0.0. (An infinite one would
    // be the maximum, and there would be no ZPD to centre the window on.)
    ifg[3001] = kNaN;
    ifg[5] = kNaN;
    EXPECT_EQ(GaussianApodize(ifg.data(), 4096, 3.0), 1);
    // exp() underflows to zero beyond ~27.3 widths from the ZPD.
    for (int i = z + 90; i < 4096; ++i) ASSERT_EQ(ifg[i], 0.0) << i;
    for (int i = 0; i < z - 90; ++i) ASSERT_EQ(ifg[i], 0.0) << i;
    EXPECT_NE(ifg[z + 70], 0.0);
    EXPECT_NE(ifg[z - 70], 0.0);
}

// The window point by point, as it is defined: each point multiplied by the
// weight of its distance to the ZPD, 0.0 where that weight is 0, and every
// point after the first zero weight past the ZPD 0.0. The library computes one
// weight per distance for both sides, in blocks; it must give the same bits.
std::vector<double> ApodizedPointByPoint(std::vector<double> ifg, int z, double width) {
    const int pts = static_cast<int>(ifg.size());
    const nadixq::WindowDivisor divisor = nadixq::MakeWindowDivisor(width * width);
    int i = 0;
    for (double d = -z; i < pts; ++i, d += 1.0) {
        const double g = nadixq::WindowWeight(d, divisor);
        if (g > 0.0) {
            ifg[i] *= g;
        } else {
            ifg[i] = 0.0;
            if (i > z) break;
        }
    }
    for (; i < pts; ++i) ifg[i] = 0.0;
    return ifg;
}

TEST(GaussianApodize, EveryPointGetsTheWeightOfItsDistance) {
    // Centres near the start, on either side of a block's end, in the middle
    // and near the end; widths whose weights underflow on both sides, on one,
    // or nowhere.
    for (int centre : {40, 255, 258, 513, 2048, 4000}) {
        for (double width : {3.0, 50.0, 160.0, 4096.0}) {
            auto ifg = SyntheticInterferogram(4096, centre);
            ASSERT_EQ(BaselineCorrectIfg(ifg.data(), 4096, 0), 1);
            const int z = FindZPD(ifg.data(), 4096, 0, -1, -1);
            ASSERT_GE(z, 0) << centre;
            // Far from the ZPD a NaN sample still becomes 0.0 under a zero weight.
            if (width < 100.0) ifg[z < 2048 ? 4090 : 5] = kNaN;
            const auto expected = ApodizedPointByPoint(ifg, z, width);
            ASSERT_EQ(GaussianApodize(ifg.data(), 4096, width), 1);
            EXPECT_EQ(std::memcmp(ifg.data(), expected.data(), sizeof(double) * 4096), 0)
                << "centre " << centre << ", width " << width;
        }
    }
}

TEST(GaussianApodize, WithoutZpdOrPointsNothingChanges) {
    auto offset = SyntheticInterferogram(4096, 256);  // not baseline-corrected
    ASSERT_EQ(FindZPD(offset.data(), 4096, 0, -1, -1), -3);
    const auto before = offset;
    EXPECT_EQ(GaussianApodize(offset.data(), 4096, 500.0), 0);
    EXPECT_EQ(offset, before);
    EXPECT_EQ(GaussianApodize(nullptr, 4096, 500.0), 0);
    EXPECT_EQ(GaussianApodize(offset.data(), 0, 500.0), 0);
    EXPECT_EQ(GaussianApodize(offset.data(), -1, 500.0), 0);
    EXPECT_EQ(offset, before);
}

// Baseline correction, ZPD search and apodization one after the other, as a
// host prepares an interferogram for its transform.
TEST(Processing, SyntheticInterferogramEndToEnd) {
    auto ifg = SyntheticInterferogram(16384, 256);
    EXPECT_EQ(FindZPD(ifg.data(), 16384, 0, -1, -1), -3);  // the offset hides it
    ASSERT_EQ(BaselineCorrectIfg(ifg.data(), 16384, 0), 1);
    const int z = FindZPD(ifg.data(), 16384, 0, -1, -1);
    EXPECT_NEAR(z, 256, 2);
    EXPECT_EQ(FindZPD(ifg.data(), 16384, 256, -1, -1), z);
    const auto corrected = ifg;
    ASSERT_EQ(GaussianApodize(ifg.data(), 16384, 4000.0), 1);
    EXPECT_EQ(ifg[z], corrected[z]);
    EXPECT_NEAR(ifg[z + 4000] / corrected[z + 4000], std::exp(-1.0), 1e-12);
    EXPECT_LT(std::fabs(ifg[16000]), std::fabs(corrected[16000]) * 1e-6);
    EXPECT_EQ(FindZPD(ifg.data(), 16384, 0, -1, -1), z);  // the window keeps the burst
}

// The calls keep no state: arrays processed on several threads at once come
// out as they do one at a time.
TEST(Processing, ConcurrentCallsDoNotInterfere) {
    auto reference = SyntheticInterferogram(8192, 256);
    BaselineCorrectIfg(reference.data(), 8192, 0);
    GaussianApodize(reference.data(), 8192, 700.0);
    std::vector<std::vector<double>> arrays(4, SyntheticInterferogram(8192, 256));
    std::vector<std::thread> threads;
    for (auto& a : arrays) {
        threads.emplace_back([&a] {
            for (int round = 0; round < 3; ++round) {
                auto copy = SyntheticInterferogram(8192, 256);
                BaselineCorrectIfg(copy.data(), 8192, 0);
                GaussianApodize(copy.data(), 8192, 700.0);
                a = copy;
            }
        });
    }
    for (auto& t : threads) t.join();
    for (const auto& a : arrays) EXPECT_EQ(a, reference);
}

}  // namespace
