#include "processing/window_weights.h"

#include <immintrin.h>

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

// The upper two parts of 2^(j/256) side by side, 16 bytes apart: one load of
// 16 bytes per lane brings both, which costs less than gathering them.
struct PowerPair {
    alignas(16) double hi;
    double mid;
};
struct PowerPairs {
    PowerPair entry[256];
};
constexpr PowerPairs MakePowerPairs() {
    PowerPairs pairs{};
    for (int j = 0; j < 256; ++j) pairs.entry[j] = {kPowers[j].hi, kPowers[j].mid};
    return pairs;
}
alignas(64) constexpr PowerPairs kPowerPairs = MakePowerPairs();

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
//
// Three passes over a block, so that the table's lookups are loads of their
// own, two doubles per lane at once (the compiler would gather them one by
// one): the reduction, the lookups, the result.
constexpr int kFastBlock = 256;

struct Reduced {
    alignas(64) double qh[kFastBlock];
    alignas(64) double rs[kFastBlock];
    alignas(64) double high[kFastBlock];
    alignas(64) double low[kFastBlock];
    alignas(64) double t[kFastBlock];
    alignas(64) double scale[kFastBlock];
    alignas(64) uint64_t index[kFastBlock];  // j of 2^(j/256)
    alignas(64) double th[kFastBlock];
    alignas(64) double tm[kFastBlock];
};

__attribute__((always_inline)) inline void Reduce(const WindowDivisor& divisor, double d0,
                                                  int count, Reduced& r) {
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
        // Beyond the fast range the computation goes on with q clamped, so
        // that every intermediate stays an ordinary number (and the result is
        // left undecided, below).
        const bool fast = qh <= kFastLimit;
        const double q = fast ? qh : kFastLimit;
        const double ql = fast ? err + d2 * inverseLow : 0.0;
        const double kd = kRoundToInteger - q * kInvLn2;
        const double k = kd - kRoundToInteger;
        const double head = -q - k * kLn2Hi;  // exact
        const double tail = -ql - k * kLn2Rest;
        const double rs = head + tail;
        const double high = (rs + kRoundTo2m35) - kRoundTo2m35;
        r.low[j] = (head - high) + tail;  // head - high is exact
        r.high[j] = high;
        r.rs[j] = rs;
        r.qh[j] = qh;

        const double r2 = rs * rs;
        double p = kF5 + rs * kF6;
        p = kF4 + rs * p;
        p = kF3 + rs * p;
        p = 0.5 + rs * p;
        r.t[j] = r2 * p;

        const uint64_t biased = Bits(kd) - Bits(kRoundToInteger) + kBias;
        r.index[j] = biased & 255;
        r.scale[j] = FromBits(((biased >> 8) - kExponentBias + 1023) << 52);
    }
}

inline __m128d Pair(const Reduced& r, int j) {
    return _mm_load_pd(&kPowerPairs.entry[r.index[j]].hi);
}

__attribute__((always_inline)) inline void LookUpTail(int j, int count, Reduced& r) {
    for (; j < count; ++j) {
        r.th[j] = kPowerPairs.entry[r.index[j]].hi;
        r.tm[j] = kPowerPairs.entry[r.index[j]].mid;
    }
}

__attribute__((always_inline)) inline void Finish(int count, const Reduced& r, double* w) {
    for (int j = 0; j < count; ++j) {
        const double th = r.th[j];
        const double tm = r.tm[j];
        const double rs = r.rs[j];
        const double t = r.t[j];
        const double product = th * r.high[j];  // exact
        const double small = th * (r.low[j] + t) + (tm + tm * (rs + t));
        const double s = th + product;
        const double e1 = product - (s - th);
        const double lo = e1 + small;
        // Outside the fast range a bound of 1 leaves every result undecided.
        // (Conditions as masks on the bits: the compiler keeps the loop off
        // the vectors where it sees a branch.)
        const double qh = r.qh[j];
        const double bound = qh <= kFastLimit ? kFastBound : 1.0;
        const double up = s + (lo + bound);
        const double down = s + (lo - bound);
        const double undecided = qh > kZeroBeyond ? 0.0 : -1.0;
        w[j] = up == down ? up * r.scale[j] : undecided;
    }
}

void FastWeightsSse2(const WindowDivisor& divisor, double d0, double* w) {
    constexpr int count = kFastBlock;
    Reduced r;
    Reduce(divisor, d0, count, r);
    int j = 0;
    for (; j + 2 <= count; j += 2) {
        const __m128d p0 = Pair(r, j);
        const __m128d p1 = Pair(r, j + 1);
        _mm_store_pd(r.th + j, _mm_unpacklo_pd(p0, p1));
        _mm_store_pd(r.tm + j, _mm_unpackhi_pd(p0, p1));
    }
    LookUpTail(j, count, r);
    Finish(count, r, w);
}

__attribute__((target("avx2"))) void FastWeightsAvx2(const WindowDivisor& divisor, double d0,
                                                     double* w) {
    constexpr int count = kFastBlock;
    Reduced r;
    Reduce(divisor, d0, count, r);
    int j = 0;
    for (; j + 4 <= count; j += 4) {
        // [p0 | p2] and [p1 | p3]: the unpacks, which work within each half,
        // then give the four upper parts and the four middle ones in order.
        const __m256d a = _mm256_set_m128d(Pair(r, j + 2), Pair(r, j));
        const __m256d b = _mm256_set_m128d(Pair(r, j + 3), Pair(r, j + 1));
        _mm256_store_pd(r.th + j, _mm256_unpacklo_pd(a, b));
        _mm256_store_pd(r.tm + j, _mm256_unpackhi_pd(a, b));
    }
    LookUpTail(j, count, r);
    Finish(count, r, w);
}

// [low high] from two halves (inserted into zeros: GCC 12 warns of the
// undefined upper half of a cast).
__attribute__((target("avx512f"))) inline __m512d Join(__m256d low, __m256d high) {
    const __m512d zero = _mm512_setzero_pd();
    return _mm512_mask_insertf64x4(zero, 0xFF, _mm512_mask_insertf64x4(zero, 0xFF, zero, low, 0),
                                   high, 1);
}

__attribute__((target("avx512f"))) void FastWeightsAvx512(const WindowDivisor& divisor, double d0,
                                                          double* w) {
    constexpr int count = kFastBlock;
    Reduced r;
    Reduce(divisor, d0, count, r);
    const __m512i even = _mm512_set_epi64(14, 12, 10, 8, 6, 4, 2, 0);
    const __m512i odd = _mm512_set_epi64(15, 13, 11, 9, 7, 5, 3, 1);
    int j = 0;
    for (; j + 8 <= count; j += 8) {
        // [p0 p1 p2 p3] and [p4 p5 p6 p7], then the upper parts from the even
        // places of both and the middle ones from the odd places.
        const __m512d a = Join(_mm256_set_m128d(Pair(r, j + 1), Pair(r, j)),
                               _mm256_set_m128d(Pair(r, j + 3), Pair(r, j + 2)));
        const __m512d b = Join(_mm256_set_m128d(Pair(r, j + 5), Pair(r, j + 4)),
                               _mm256_set_m128d(Pair(r, j + 7), Pair(r, j + 6)));
        _mm512_store_pd(r.th + j, _mm512_permutex2var_pd(a, even, b));
        _mm512_store_pd(r.tm + j, _mm512_permutex2var_pd(a, odd, b));
    }
    LookUpTail(j, count, r);
    Finish(count, r, w);
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

void PolynomialWindowWeights(WindowPath path, const WindowDivisor& divisor, double d0, int count,
                             double* w) noexcept {
    // The fast evaluation works on whole blocks (their length known to the
    // compiler); a shorter one goes through a block of its own.
    if (path == WindowPath::kScalar || d0 + count + kFastBlock > kFastDistanceLimit) {
        for (int j = 0; j < count; ++j) w[j] = WindowWeight(d0 + j, divisor);
        return;
    }
    for (int first = 0; first < count; first += kFastBlock) {
        const int n = count - first < kFastBlock ? count - first : kFastBlock;
        double block[kFastBlock];
        double* out = n == kFastBlock ? w + first : block;
        switch (path) {
            case WindowPath::kAvx512:
                FastWeightsAvx512(divisor, d0 + first, out);
                break;
            case WindowPath::kAvx2:
                FastWeightsAvx2(divisor, d0 + first, out);
                break;
            default:
                FastWeightsSse2(divisor, d0 + first, out);
                break;
        }
        if (out == block) std::memcpy(w + first, block, sizeof(double) * n);
    }
    // The undecided results are rare: one pass that vectorises finds whether
    // there are any before a second looks for them.
    double lowest = 0.0;
    for (int j = 0; j < count; ++j) lowest = w[j] < lowest ? w[j] : lowest;
    if (lowest < 0.0) {
        for (int j = 0; j < count; ++j) {
            if (w[j] < 0.0) w[j] = WindowWeight(d0 + j, divisor);
        }
    }
}

}  // namespace nadixq
