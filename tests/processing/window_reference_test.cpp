// The window's weights against exact ones: tests/data/window_reference.txt
// holds, for 768 sweeps of distances (11 million weights as GaussianApodize
// evaluates them for widths from 1 to 20000 and up to 65536 points, the
// subnormal results and the underflow to 0 of 300 widths, results just below
// 1 for widths from 1e5 to 1e10, and widths below 1), the digest of the
// correctly rounded weights, computed once from mpmath by
// scripts/window_reference.py. Every evaluation path the processor has must
// give those bits, and the same bits as the scalar evaluation block by block.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "processing/baseline_correction.h"
#include "processing/gaussian_apodization.h"
#include "processing/window_series.h"
#include "support/synthetic_interferogram.h"

namespace {

using nadixq::WindowPath;

constexpr WindowPath kPaths[] = {WindowPath::kScalar, WindowPath::kSse2, WindowPath::kAvx2,
                                 WindowPath::kAvx512};

struct Sweep {
    double width;
    long first;
    long count;
    long positive;
    uint64_t digest;
    std::string kind;
};

double FromBits(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

uint64_t Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

std::vector<Sweep> ReadSweeps() {
    std::ifstream file(NADIXQ_TEST_DATA_DIR "/window_reference.txt");
    std::vector<Sweep> sweeps;
    std::string line;
    while (std::getline(file, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream fields(line);
        std::string widthBits, digest;
        Sweep s{};
        fields >> widthBits >> s.first >> s.count >> s.positive >> digest >> s.kind;
        s.width = FromBits(std::stoull(widthBits, nullptr, 16));
        s.digest = std::stoull(digest, nullptr, 16);
        sweeps.push_back(s);
    }
    return sweeps;
}

std::string Skipped() {
    std::string skipped;
    for (WindowPath path : kPaths) {
        if (!nadixq::WindowPathAvailable(path)) {
            skipped += std::string(skipped.empty() ? "" : ", ") + nadixq::WindowPathName(path);
        }
    }
    return skipped;
}

TEST(WindowReference, EveryPathGivesTheRecordedCorrectlyRoundedWeights) {
    const std::vector<Sweep> sweeps = ReadSweeps();
    ASSERT_EQ(sweeps.size(), 768u) << "tests/data/window_reference.txt is missing or short";
    const std::string skipped = Skipped();
    if (!skipped.empty())
        std::printf("this processor lacks (paths skipped): %s\n", skipped.c_str());

    // Blocks as long as a chain runs from its start to its last step.
    constexpr int kBlock = 16384;
    std::vector<double> scalarWeights(kBlock), otherWeights(kBlock);
    double* scalar = scalarWeights.data();
    double* other = otherWeights.data();
    long weights = 0;
    for (const Sweep& s : sweeps) {
        const nadixq::WindowDivisor divisor = nadixq::MakeWindowDivisor(s.width * s.width);
        uint64_t digest = 14695981039346656037ull;
        long positive = 0;
        for (long d0 = s.first; d0 < s.first + s.count; d0 += kBlock) {
            const int n = static_cast<int>(std::min<long>(kBlock, s.first + s.count - d0));
            const double first = static_cast<double>(d0);
            nadixq::WindowWeights(WindowPath::kScalar, divisor, first, n, scalar);
            for (int j = 0; j < n; ++j) {
                digest = (digest ^ Bits(scalar[j])) * 1099511628211ull;
                positive += scalar[j] > 0.0;
            }
            // The vector paths: the scalar path's bits, and so the recorded ones.
            for (WindowPath path : kPaths) {
                if (path == WindowPath::kScalar || !nadixq::WindowPathAvailable(path)) continue;
                nadixq::WindowWeights(path, divisor, first, n, other);
                for (int j = 0; j < n; ++j) {
                    ASSERT_EQ(Bits(other[j]), Bits(scalar[j]))
                        << nadixq::WindowPathName(path) << " differs from the scalar path at width "
                        << s.width << ", distance " << d0 + j;
                }
            }
        }
        EXPECT_EQ(positive, s.positive) << s.kind << " sweep of width " << s.width;
        EXPECT_EQ(digest, s.digest)
            << s.kind << " sweep of width " << s.width << " from " << s.first;
        weights += std::min(s.count, s.positive + 1);
    }
    EXPECT_GE(weights, 10000000);
}

// The apodized array through each path is the scalar path's, bit for bit,
// for windows that underflow on both sides, on one, or nowhere.
TEST(WindowReference, GaussianApodizeIsTheSameOnEveryPath) {
    for (double width : {0.7, 3.0, 150.0, 4096.0, 1e9}) {
        for (int centre : {40, 300, 3000}) {
            auto pristine = nadixq::test::SyntheticInterferogram(4096, centre);
            ASSERT_EQ(nadixq::BaselineCorrectIfg(pristine.data(), 4096, 0), 1);
            auto expected = pristine;
            ASSERT_EQ(nadixq::GaussianApodizeOn(WindowPath::kScalar, expected.data(), 4096, width),
                      1);
            for (WindowPath path : kPaths) {
                if (!nadixq::WindowPathAvailable(path)) continue;
                auto ifg = pristine;
                ASSERT_EQ(nadixq::GaussianApodizeOn(path, ifg.data(), 4096, width), 1);
                EXPECT_EQ(std::memcmp(ifg.data(), expected.data(), 4096 * sizeof(double)), 0)
                    << nadixq::WindowPathName(path) << ", width " << width << ", centre " << centre;
            }
        }
    }
}

}  // namespace
