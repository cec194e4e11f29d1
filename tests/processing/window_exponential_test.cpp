// The Gaussian window's own exponential, correctly rounded over the window's
// whole range, and the same bits on every system. (The recorded exact weights
// are tests/processing/window_reference_test.cpp's; this checks exp() of double
// arguments against the long double exponential, which itself rounds twice.)
#include "processing/window_exponential.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

using nadixq::WindowExp;

uint64_t Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// exp(x) rounded to double, from the long double exponential: its error is
// far below a double's ulp, so this is the correctly rounded value but where
// the exact value lies within about 2^-64 of a tie (some 0.05% of arguments),
// where it may be its neighbour.
double RoundedExp(double x) {
    return static_cast<double>(std::exp(static_cast<long double>(x)));
}

// The argument set: a million points, half of them across the whole range of
// the window's arguments down to where exp() is 0, half near 0, where the
// results cross 1 and their ulp halves. Exact on every system.
constexpr int kHalf = 500000;
double Argument(int n) {
    if (n < kHalf) return -750.0 * n / kHalf;
    return -1.0 * (n - kHalf) / kHalf;
}

TEST(WindowExponential, WithinOneUlpOfTheRoundedExpAcrossTheWindowsRange) {
    if (std::numeric_limits<long double>::digits <= 53) {
        GTEST_SKIP() << "the reference needs a long double wider than double";
    }
    int exact = 0;
    int worst = 0;
    uint64_t digest = 1469598103934665603ull;  // FNV-1a over the results' bits
    for (int n = 0; n < 2 * kHalf; ++n) {
        const double x = Argument(n);
        const double ours = WindowExp(x);
        const double reference = RoundedExp(x);
        // Both are non-negative, so the distance of their bit patterns counts
        // the doubles between them, across the subnormals down to 0.
        const uint64_t a = Bits(ours);
        const uint64_t b = Bits(reference);
        const int distance = static_cast<int>(a > b ? a - b : b - a);
        ASSERT_LE(distance, 1) << "x= " << x << " ours= " << ours << " reference= " << reference;
        if (distance == 0) ++exact;
        if (distance > worst) worst = distance;
        for (int byte = 0; byte < 8; ++byte) {
            digest = (digest ^ ((a >> (8 * byte)) & 0xFF)) * 1099511628211ull;
        }
    }
    // Every result is the correctly rounded value; the twice-rounded reference
    // differs from it near ties only.
    EXPECT_GT(exact, 2 * kHalf - 2 * kHalf / 1000) << "worst distance " << worst;
    // The same bits on every system the library is built for: this digest was
    // taken on x86-64 Linux. A different one means a compiler fused or
    // reordered the arithmetic (or the code changed: then take it anew).
    EXPECT_EQ(digest, 0x199b2b55c3a90485ull);
}

TEST(WindowExponential, EndsOfTheRange) {
    EXPECT_EQ(WindowExp(0.0), 1.0);
    EXPECT_EQ(WindowExp(-0.0), 1.0);
    // The smallest subnormal where exp() rounds to it, 0 below.
    EXPECT_EQ(WindowExp(-745.0), RoundedExp(-745.0));
    EXPECT_GT(WindowExp(-745.0), 0.0);
    EXPECT_EQ(WindowExp(-745.2), 0.0);
    EXPECT_EQ(WindowExp(-746.5), 0.0);
    EXPECT_EQ(WindowExp(-1e300), 0.0);
    EXPECT_EQ(WindowExp(-std::numeric_limits<double>::infinity()), 0.0);
}

}  // namespace
