#include "processing/window_weights.h"

#include <cstdint>
#include <cstring>

#include "processing/window_exponential_table.h"

namespace nadixq {

namespace {

using namespace window_table;

// The fast evaluation covers distances below 2^26, whose squares are exact
// doubles below 2^52, and results in the normal range, which it scales by 2^m
// exactly: q = d^2 / v up to kFastLimit (exp(-708) > 2^-1022).
constexpr double kFastDistanceLimit = 0x1p26;
constexpr double kFastLimit = 708.0;
// exp(-q) is below half the smallest subnormal for every q above this.
constexpr double kZeroBeyond = 745.14;

// The fast evaluation's error is below 2^-69 absolute on its result in
// [0.998, 2) (see FastWeights); a result is certified when every real within
// this bound of the approximation rounds to the same double.
constexpr double kFastBound = 0x1p-67;

// Adding and subtracting 1.5 * 2^p rounds a double of magnitude below 2^(p-1)
// to a multiple of 2^(p - 52).
constexpr double kRoundToInteger = 0x1.8p52;
constexpr double kRoundTo2p26 = 0x1.8p78;
constexpr double kRoundTo2m35 = 0x1.8p17;

// ln 2 / 256 - kLn2Hi as one double: k times it rounds, which costs less than
// 2^-77 for |k| < 2^19.
constexpr double kLn2Rest = kLn2Mid + kLn2Low;

// 1/n! for the fast polynomial, as doubles.
constexpr double kF3 = kC3Hi;
constexpr double kF4 = kC4Hi;
constexpr double kF5 = kC5;
constexpr double kF6 = kC6;

// k + kBias >= 0 for every k of the fast range, and a multiple of 256 apart
// from it, so that the exponent comes from an unsigned shift (64-bit
// arithmetic shifts are not in SSE2 or AVX2).
constexpr uint64_t kExponentBias = 2048;
constexpr uint64_t kBias = kExponentBias << 8;

inline uint64_t Bits(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

inline double FromBits(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// The fast evaluation of w[j] = exp(-(d0 + j)^2 / v), branch-free so that the
// loop runs on vectors: the certified weight, 0 where q is beyond
// kZeroBeyond, and -1 where the accurate evaluation must decide.
//
// q = d^2 / v as qh + ql: qh = d^2 * (1/v) rounded, ql its exact error
// (Dekker's product with both factors in 26-bit halves) plus d^2 times the
// rest of 1/v. -q = k ln 2 / 256 + r with r = high + low, high a multiple of
// 2^-35 below 2^-9 (26 bits), so that its product with the table's 27-bit
// upper part is exact. exp(r) = 1 + high + low + t, t = r^2/2 + ... + r^6/6!
// evaluated at r rounded. The result 2^(j/256) exp(r) = h + l, and h + l
// within 2^-69 of the exact value: the error of t (2^-71), of the final sums
// (4 roundings of 2^-72 or less) and of the reduction (2^-77).
__attribute__((always_inline)) inline void FastWeights(const WindowDivisor& divisor, double d0,
                                                       int count, double* w) {
    const double inverse = divisor.inverse;
    const double inverseLow = divisor.inverseLow;
    const double upper = divisor.inverseUpper;
    const double lower = divisor.inverseLower;
    for (int j = 0; j < count; ++j) {
        const double d = d0 + j;
        const double d2 = d * d;
        const double d2Upper = (d2 + kRoundTo2p26) - kRoundTo2p26;
        const double d2Lower = d2 - d2Upper;
        const double qh = d2 * inverse;
        const double err =
            ((d2Upper * upper - qh) + d2Upper * lower + d2Lower * upper) + d2Lower * lower;
        const double ql = err + d2 * inverseLow;

        // Beyond the fast range the computation goes on with q clamped, so
        // that every intermediate stays an ordinary number.
        const bool fast = qh <= kFastLimit;
        const double q = fast ? qh : kFastLimit;
        const double kd = kRoundToInteger - q * kInvLn2;
        const double k = kd - kRoundToInteger;
        const double head = -q - k * kLn2Hi;  // exact
        const double tail = -ql - k * kLn2Rest;
        const double rs = head + tail;
        const double high = (rs + kRoundTo2m35) - kRoundTo2m35;
        const double low = (head - high) + tail;  // head - high is exact

        const double r2 = rs * rs;
        double p = kF5 + rs * kF6;
        p = kF4 + rs * p;
        p = kF3 + rs * p;
        p = 0.5 + rs * p;
        const double t = r2 * p;

        const uint64_t biased = Bits(kd) - Bits(kRoundToInteger) + kBias;
        const uint64_t index = biased & 255;
        const double th = kPowers[index].hi;
        const double tm = kPowers[index].mid;
        const double scale = FromBits(((biased >> 8) - kExponentBias + 1023) << 52);

        const double product = th * high;  // exact
        const double small = th * (low + t) + (tm + tm * (rs + t));
        const double s = th + product;
        const double e1 = product - (s - th);
        const double lo = e1 + small;
        const double h = s + lo;
        const double l = lo - (h - s);
        const double up = h + (l + kFastBound);
        const double down = h + (l - kFastBound);
        const bool certified = fast & (up == down);
        const double undecided = qh > kZeroBeyond ? 0.0 : -1.0;
        w[j] = certified ? up * scale : undecided;
    }
}

void FastWeightsSse2(const WindowDivisor& divisor, double d0, int count, double* w) {
    FastWeights(divisor, d0, count, w);
}

__attribute__((target("avx2"))) void FastWeightsAvx2(const WindowDivisor& divisor, double d0,
                                                     int count, double* w) {
    FastWeights(divisor, d0, count, w);
}

__attribute__((target("avx512f,prefer-vector-width=512"))) void FastWeightsAvx512(
    const WindowDivisor& divisor, double d0, int count, double* w) {
    FastWeights(divisor, d0, count, w);
}

struct Processor {
    bool avx2;
    bool avx512;
};

// What the processor and the system offer, found once. The wide paths are
// for x86-64 only: the 32-bit library keeps to its SSE2 baseline.
const Processor& ThisProcessor() {
    static const Processor processor = [] {
        constexpr bool kWideBuild = sizeof(void*) == 8;
        __builtin_cpu_init();
        return Processor{kWideBuild && __builtin_cpu_supports("avx2") != 0,
                         kWideBuild && __builtin_cpu_supports("avx512f") != 0};
    }();
    return processor;
}

}  // namespace

bool WindowPathAvailable(WindowPath path) noexcept {
    switch (path) {
        case WindowPath::kScalar:
        case WindowPath::kSse2:
            return true;
        case WindowPath::kAvx2:
            return ThisProcessor().avx2;
        case WindowPath::kAvx512:
            return ThisProcessor().avx512;
    }
    return false;
}

WindowPath BestWindowPath() noexcept {
    static const WindowPath best = WindowPathAvailable(WindowPath::kAvx512) ? WindowPath::kAvx512
                                   : WindowPathAvailable(WindowPath::kAvx2) ? WindowPath::kAvx2
                                                                            : WindowPath::kSse2;
    return best;
}

const char* WindowPathName(WindowPath path) noexcept {
    switch (path) {
        case WindowPath::kScalar:
            return "scalar";
        case WindowPath::kSse2:
            return "SSE2";
        case WindowPath::kAvx2:
            return "AVX2";
        case WindowPath::kAvx512:
            return "AVX-512";
    }
    return "?";
}

void WindowWeights(WindowPath path, const WindowDivisor& divisor, double d0, int count,
                   double* w) noexcept {
    if (path == WindowPath::kScalar || d0 + count > kFastDistanceLimit) {
        for (int j = 0; j < count; ++j) w[j] = WindowWeight(d0 + j, divisor);
        return;
    }
    switch (path) {
        case WindowPath::kAvx512:
            FastWeightsAvx512(divisor, d0, count, w);
            break;
        case WindowPath::kAvx2:
            FastWeightsAvx2(divisor, d0, count, w);
            break;
        default:
            FastWeightsSse2(divisor, d0, count, w);
            break;
    }
    for (int j = 0; j < count; ++j) {
        if (w[j] < 0.0) w[j] = WindowWeight(d0 + j, divisor);
    }
}

}  // namespace nadixq
