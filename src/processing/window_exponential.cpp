#include "processing/window_exponential.h"

#include <cstdint>
#include <cstring>

#include "processing/window_exponential_table.h"

namespace nadixq {

namespace {

using namespace window_table;

// A double-double: hi + lo, |lo| at most half an ulp of hi.
struct Pair {
    double hi;
    double lo;
};

// The exact sum of two doubles, the first at least as large as the second.
Pair FastTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// The exact sum of two doubles of any sizes.
Pair TwoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// a as two halves of at most 26 significant bits each (Veltkamp).
Pair Split(double a) {
    constexpr double kSplitter = 0x1p27 + 1.0;
    const double c = kSplitter * a;
    const double hi = c - (c - a);
    return {hi, a - hi};
}

// The exact product of two doubles (Dekker), without a fused multiply-add:
// the builds must not depend on whether the processor has one.
Pair TwoProduct(double a, double b) {
    const double p = a * b;
    const Pair x = Split(a);
    const Pair y = Split(b);
    return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

Pair Add(Pair a, Pair b) {
    Pair s = TwoSum(a.hi, b.hi);
    const Pair t = TwoSum(a.lo, b.lo);
    s = FastTwoSum(s.hi, s.lo + t.hi);
    return FastTwoSum(s.hi, s.lo + t.lo);
}

Pair Multiply(Pair a, Pair b) {
    const Pair p = TwoProduct(a.hi, b.hi);
    return FastTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

Pair Multiply(Pair a, double b) {
    const Pair p = TwoProduct(a.hi, b);
    return FastTwoSum(p.hi, p.lo + a.lo * b);
}

double FromBits(uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// 2^e for e from -1022 to 1023.
double Power2(int e) {
    return FromBits(uint64_t(e + 1023) << 52);
}

// exp(-q) < 2^-1075 (half the smallest subnormal) for every q above this:
// ln 2^-1075 = -745.1332...
constexpr double kZeroBeyond = 745.14;

// The bound of the approximation's error relative to its result, with a wide
// margin over the analysis (below 2^-93: the quotient's error, about 2^-94.5
// relative to q of at most 745, dominates; the polynomial's, the table's and
// the double-double operations' add less than 2^-100).
constexpr double kErrorBound = 0x1p-90;

// exp(-q) as 2^m (h + l), h in [1, 2), within kErrorBound relative of it, for
// q = qh + ql >= 0 a double-double to about 2^-104 relative and qh at most
// kZeroBeyond.
struct Approximation {
    double h;
    double l;
    int m;
};

Approximation Approximate(double qh, double ql) {
    // -q = k ln 2 / 256 + r, |r| <= ln 2 / 512, and 2^(k/256) = 2^m 2^(j/256).
    constexpr double kShift = 0x1.8p52;
    const double k = (kShift - qh * kInvLn2) - kShift;
    // k * kLn2Hi and k * kLn2Mid are exact (|k| < 2^19, 34-bit constants);
    // so is -qh - k * kLn2Hi, the two being within a factor 2 of each other.
    const double head = -qh - k * kLn2Hi;
    const Pair a = TwoSum(head, -(k * kLn2Mid));
    const Pair r = TwoSum(a.hi, (a.lo - ql) - k * kLn2Low);

    // exp(r) - 1 = r + r^2/2 + ... + r^9/9!: the terms from r^5 on in double,
    // the rest in double-double. The first term left out is below 2^-116.
    double p = kC9;
    p = kC8 + r.hi * p;
    p = kC7 + r.hi * p;
    p = kC6 + r.hi * p;
    p = kC5 + r.hi * p;
    Pair e = Add({kC4Hi, kC4Lo}, Multiply(r, p));
    e = Add({kC3Hi, kC3Lo}, Multiply(r, e));
    e = Add({0.5, 0.0}, Multiply(r, e));
    e = Add({1.0, 0.0}, Multiply(r, e));
    e = Multiply(r, e);

    const int64_t ki = static_cast<int64_t>(k);
    const int j = static_cast<int>(ki & 255);
    int m = static_cast<int>((ki - j) / 256);
    const Power& power = kPowers[j];
    Pair t = FastTwoSum(power.hi, power.mid);
    t.lo += power.low;
    // y = 2^(j/256) exp(r), between 0.998 and 1.998; as [1, 2) from here on.
    const Pair y = Add(t, Multiply(t, e));
    double h = y.hi;
    double l = y.lo;
    if (h < 1.0) {
        h *= 2.0;
        l *= 2.0;
        --m;
    }
    return {h, l, m};
}

// exp(-q) correctly rounded, q = qh + ql >= 0 as a double-double to about
// 2^-104 relative.
double ExpOfNegative(double qh, double ql) {
    if (!(qh <= kZeroBeyond)) return 0.0;
    const Approximation a = Approximate(qh, ql);
    const double h = a.h;
    const double l = a.l;
    const int m = a.m;
    // The result is 2^m (h + l), within kErrorBound * 2 of it in these units.
    constexpr double kBound = 2 * kErrorBound;

    if (m >= -1022) {
        // A normal result: h's own grid. h == 1 with l < 0 at m = -1022 lies
        // within a quarter of the subnormal spacing below 2^-1022: that.
        if (m == -1022 && h == 1.0 && l < 0.0) return Power2(-1022);
        const double up = h + (l + kBound);
        const double down = h + (l - kBound);
        // Undecided (up != down): the approximation's own rounding, h.
        return (up == down ? up : h) * Power2(m);
    }

    // A subnormal result (or 0): the grid is g = 2^(-1074 - m) in these units,
    // from 2^-51 up. Adding c = 2^52 g rounds h to that grid: c + h lies in
    // [c, 2c), where the spacing is g.
    const double g = Power2(-1074 - m);
    const double c = Power2(-1022 - m);
    const double s = c + h;
    double rounded = s - c;           // h on the grid, ties to even; exact
    const double rest = h - rounded;  // exact, at most g/2
    // l is below half h's ulp, and every multiple of h's ulp other than +-g/2
    // lies at least an ulp inside the rounding interval: only a tie of h
    // itself leaves the rounding to l.
    if (rest == 0.5 * g && l > kBound) rounded += g;
    if (rest == -0.5 * g && l < -kBound) rounded -= g;
    // rounded 2^m is a multiple of 2^-1074: both scalings are exact.
    return rounded * Power2(m + 128) * 0x1p-128;
}

}  // namespace

WindowDivisor MakeWindowDivisor(double v) noexcept {
    WindowDivisor divisor{};
    divisor.v = v;
    divisor.inverse = 1.0 / v;
    // 1 - inverse * v exactly, then divided by v: the rest of 1/v.
    const Pair p = TwoProduct(divisor.inverse, v);
    divisor.inverseLow = ((1.0 - p.hi) - p.lo) / v;
    const Pair halves = Split(divisor.inverse);
    divisor.inverseUpper = halves.hi;
    divisor.inverseLower = halves.lo;
    return divisor;
}

double WindowWeight(double d, const WindowDivisor& divisor) noexcept {
    // d * d exactly, then the quotient by v as a double-double: the remainder
    // n - qh v is exact (qh v lies within an ulp of n).
    const Pair n = TwoProduct(d, d);
    const double v = divisor.v;
    const double qh = n.hi / v;
    if (!(qh <= kZeroBeyond)) return 0.0;
    const Pair p = TwoProduct(qh, v);
    const double ql = (((n.hi - p.hi) - p.lo) + n.lo) / v;
    return ExpOfNegative(qh, ql);
}

WindowExtended WindowExpExtended(double n, const WindowDivisor& divisor) noexcept {
    // The quotient as in WindowWeight, n being exact.
    const double v = divisor.v;
    const double qh = n / v;
    const Pair p = TwoProduct(qh, v);
    const double ql = ((n - p.hi) - p.lo) / v;
    const Approximation a = Approximate(qh, ql);
    // 2^m is at least 2^-924 for q up to 640, so both scalings are exact and
    // l * 2^m is still a normal number.
    const double scale = Power2(a.m);
    return {a.h * scale, a.l * scale};
}

WindowExtended WindowExtendedProduct(WindowExtended a, WindowExtended b) noexcept {
    const Pair p = Multiply(Pair{a.hi, a.lo}, Pair{b.hi, b.lo});
    return {p.hi, p.lo};
}

double WindowExp(double x) noexcept {
    return ExpOfNegative(-x, 0.0);
}

}  // namespace nadixq
