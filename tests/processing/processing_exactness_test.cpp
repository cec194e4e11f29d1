// The processing results are the same bits in every build: the Linux library
// and the 32-bit and 64-bit DLLs compute in plain double arithmetic (SSE2 on
// 32-bit x86, never the x87 unit's extended precision), so the same input
// gives the same output. The inputs come from a seeded integer generator (no
// transcendental function of the C runtime is involved in making them), the
// outputs are reduced to digests of their bits, and the digests below were
// recorded once. Every build's suite checks the same numbers, through the
// exports as a host finds them.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "interface/nadixq.h"
#include "processing/high_low_combiner.h"
#include "support/shared_library.h"

namespace {

// xorshift64*: the same sequence on every compiler and system.
class Generator {
  public:
    explicit Generator(uint64_t seed) : _state(seed) {}
    uint64_t Next() {
        _state ^= _state >> 12;
        _state ^= _state << 25;
        _state ^= _state >> 27;
        return _state * 2685821657736338717ull;
    }
    // An integer in [lo, hi].
    int Between(int lo, int hi) { return lo + static_cast<int>(Next() % uint64_t(hi - lo + 1)); }
    // A value in [-1, 1) with 53 random bits: exact, no rounding involved.
    double Unit() { return static_cast<double>(Next() >> 11) * 0x1p-52 - 1.0; }

  private:
    uint64_t _state;
};

// FNV-1a over the bits of what it is given.
class Digest {
  public:
    void Add(const void* data, size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) _hash = (_hash ^ bytes[i]) * 1099511628211ull;
    }
    void Add(int value) { Add(&value, sizeof value); }
    void Add(const std::vector<double>& values) {
        Add(values.data(), values.size() * sizeof(double));
    }
    uint64_t Value() const { return _hash; }

  private:
    uint64_t _hash = 14695981039346656037ull;
};

// An interferogram-like array: an offset and a slope, a burst of alternating
// sign around `centre` whose amplitude falls off as 1/(1 + d^2), and noise.
std::vector<double> MakeInterferogram(Generator& random, int pts, int centre) {
    const double offset = 4.0 * random.Unit();
    const double slope = random.Unit() * 1e-4;
    const double amplitude = 1.0 + 8.0 * (random.Unit() + 1.0);
    const double noise = 1e-3 * (random.Unit() + 1.0);
    std::vector<double> ifg(pts);
    for (int i = 0; i < pts; ++i) {
        const double d = i - centre;
        const double sign = (i % 3 == 0) ? 1.0 : ((i % 3 == 1) ? -0.7 : 0.4);
        ifg[i] =
            offset + slope * i + amplitude * sign / (1.0 + d * d / 16.0) + noise * random.Unit();
    }
    return ifg;
}

class ProcessingExactness : public ::testing::Test {
  protected:
    using FindFn = int(NADIXQ_CALL*)(double*, int, int, int, int);
    using BaselineFn = int(NADIXQ_CALL*)(double*, int, int);
    using ApodizeFn = int(NADIXQ_CALL*)(double*, int, double);

    void SetUp() override {
        ASSERT_TRUE(_library.Loaded()) << _library.Error();
        const nadixq::test::ProcessingExportNames names = nadixq::test::ProcessingExports();
        _find = reinterpret_cast<FindFn>(_library.Symbol(names.findZpd));
        _baseline = reinterpret_cast<BaselineFn>(_library.Symbol(names.baselineCorrectIfg));
        _apodize = reinterpret_cast<ApodizeFn>(_library.Symbol(names.gaussianApodize));
        ASSERT_NE(_find, nullptr);
        ASSERT_NE(_baseline, nullptr);
        ASSERT_NE(_apodize, nullptr);
    }

    nadixq::test::SharedLibrary _library{NADIXQ_SHARED_LIBRARY};
    FindFn _find = nullptr;
    BaselineFn _baseline = nullptr;
    ApodizeFn _apodize = nullptr;
};

TEST_F(ProcessingExactness, BaselineAndZpdGiveTheRecordedBits) {
    Generator random(20261209);
    Digest baselines;
    Digest zpds;
    const int sizes[] = {32, 33, 100, 1000, 4096, 16384, 30000};
    int found = 0;
    for (int round = 0; round < 40; ++round) {
        const int pts = sizes[round % 7];
        const int centre = random.Between(0, pts - 1);
        std::vector<double> ifg = MakeInterferogram(random, pts, centre);
        zpds.Add(_find(ifg.data(), pts, 0, -1, -1));  // before the offset is gone
        ASSERT_EQ(_baseline(ifg.data(), pts, round % 2), 1);
        baselines.Add(ifg);
        for (int hint : {0, centre, centre + random.Between(-40, 40)}) {
            // Drawn in this order, one statement each: the order in which a call's
            // arguments are evaluated is the compiler's choice.
            const int end = random.Between(-5, pts);
            const int start = random.Between(-5, pts);
            const int zpd = _find(ifg.data(), pts, hint, start, end);
            found += zpd >= 0;
            zpds.Add(zpd);
        }
    }
    EXPECT_GT(found, 20);  // the digest covers found centres, not only failures
    EXPECT_EQ(baselines.Value(), 13144875719499187882u);
    EXPECT_EQ(zpds.Value(), 9632119882750360276u);
}

// The one crossing lies between 33 and 34; the product of the two tiny values
// at 32 and 33 is 1e-400, which is 0 in double precision and counts as a
// second crossing (an extended-precision product would not, and would give 33).
TEST_F(ProcessingExactness, AnUnderflowingProductCountsAsACrossing) {
    std::vector<double> ifg(64, 0.5);
    ifg[30] = 5.0;
    ifg[31] = 2.0;
    ifg[32] = 1e-200;
    ifg[33] = 1e-200;
    ifg[34] = -2.0;
    ifg[35] = -5.0;
    EXPECT_EQ(_find(ifg.data(), 64, 0, 25, 40), -3);
    ifg[33] = 1e-100;  // 1e-300 does not underflow: the one crossing is found
    EXPECT_EQ(_find(ifg.data(), 64, 0, 25, 40), 33);
}

// The window's weights are the correctly rounded exp(-(d * d) / v) of the
// exact argument, from the library's own exponential, not the C runtime's
// (whose last bit differs between systems), so the apodized arrays are the
// same bits everywhere too, on every evaluation path.
TEST_F(ProcessingExactness, ApodizationGivesTheRecordedBits) {
    Generator random(7);
    Digest apodized;
    for (double width : {0.5, 12.0, 700.0, 4096.0, 1e6}) {
        std::vector<double> ifg = MakeInterferogram(random, 4096, 300);
        ASSERT_EQ(_baseline(ifg.data(), 4096, 0), 1);
        ASSERT_EQ(_apodize(ifg.data(), 4096, width), 1);
        apodized.Add(ifg);
    }
    EXPECT_EQ(apodized.Value(), 8413956288247017879u);
}

// The dual boards' merge without clipping is the regression and the scale:
// sums, products and divisions only, the same bits everywhere.
TEST(MergeExactness, FitAndScaleGiveTheRecordedBits) {
    Generator random(42);
    Digest merged;
    static nadixq::HighLowCombiner combiner;
    for (int round = 0; round < 6; ++round) {
        const int pts = 1024 << round % 3;
        const int scans = round + 1;
        std::vector<double> high(pts), low(pts), out(pts);
        for (int i = 0; i < pts; ++i) {
            high[i] = 9000.0 * scans * random.Unit();
            low[i] = 0.126 * high[i] + 3.0 * random.Unit();
        }
        combiner.CombineHighLow(high.data(), low.data(), out.data(), pts, scans, 1);
        merged.Add(out);
        merged.Add(high);
    }
    EXPECT_EQ(merged.Value(), 2390248691740965449u);
}

}  // namespace
