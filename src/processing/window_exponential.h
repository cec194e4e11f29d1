// The exponential of the Gaussian window, exp(x) for x from -746 to 0, written
// out in double additions and multiplications and integer operations on the
// bits: no call into the C runtime and no branch. A loop over an array of
// arguments therefore vectorises, and every system that rounds doubles as
// IEEE 754 prescribes (x86-64, and i686 with SSE2 arithmetic) gives the same
// bits, where the C runtimes' exp() differ from one system to the next in the
// last bit.
//
// Every result lies within 1 ulp of exp(x) rounded to the nearest double
// (tests/window_exponential_test.cpp checks a million arguments across the
// range); nearly all are that rounded value itself. exp(-0.0) and exp(0.0) are
// exactly 1. WindowWeight adds the arguments below -746, where exp() rounds to
// 0, and gives 0 for them. Positive arguments lie outside the window and are
// not handled.
#pragma once

#include <cstdint>
#include <cstring>

namespace nadixq {

namespace window_exp {

// exp(x) = 2^(k/32) * exp(r), with k = round(x * 32 / ln 2) and |r| <= ln 2 / 64.
// 2^(k/32) is 2^m * 2^(j/32), j = k mod 32, the latter from the table below.
constexpr int kTableBits = 5;
constexpr uint64_t kTableMask = (uint64_t{1} << kTableBits) - 1;
constexpr double kScaledInvLn2 = 0x1.71547652b82fep+5;  // 32 / ln 2
// ln 2 / 32 in two parts: the upper one has its 21 lowest bits clear, so that
// k times it is exact for every k of the range.
constexpr double kScaledLn2Hi = 0x1.62e42fee00000p-6;
constexpr double kScaledLn2Lo = 0x1.a39ef35793c76p-38;
// Adding 1.5 * 2^52 rounds a double of magnitude below 2^51 to an integer and
// leaves that integer, in two's complement, in the low bits of the sum.
constexpr double kRoundShift = 0x1.8p52;
// k + kBias is positive for every k of the range and a multiple of 32 apart
// from it, so that shifts and masks on it need no sign.
constexpr uint64_t kExponentBias = 2048;
constexpr uint64_t kBias = kExponentBias << kTableBits;
// The result is built as 2^64 times too large, where it is a normal double
// for every argument of the range, and brought down by one multiplication.
constexpr uint64_t kScaleUp = 64;
constexpr double kScaleDown = 0x1p-64;

// 1/n! for n = 2 to 6: exp(r) - 1 = r + r^2 * (c2 + r * c3 + r^2 * (c4 + ...)).
// The first term left out, r^7 / 7!, is below 0.03 ulp over the reduced range.
constexpr double kC2 = 1.0 / 2.0;
constexpr double kC3 = 1.0 / 6.0;
constexpr double kC4 = 1.0 / 24.0;
constexpr double kC5 = 1.0 / 120.0;
constexpr double kC6 = 1.0 / 720.0;

// 2^(j/32) for j = 0 to 31 as the nearest double and the rest: hi + lo is the
// power to about 2^-107.
alignas(64) constexpr double kPowers[2 * 32] = {
    0x1.0000000000000p+0, 0x0.0p+0,                // 2^(0/32)
    0x1.059b0d3158574p+0, 0x1.d73e2a475b465p-55,   // 2^(1/32)
    0x1.0b5586cf9890fp+0, 0x1.8a62e4adc610bp-54,   // 2^(2/32)
    0x1.11301d0125b51p+0, -0x1.6c51039449b3ap-54,  // 2^(3/32)
    0x1.172b83c7d517bp+0, -0x1.19041b9d78a76p-55,  // 2^(4/32)
    0x1.1d4873168b9aap+0, 0x1.e016e00a2643cp-54,   // 2^(5/32)
    0x1.2387a6e756238p+0, 0x1.9b07eb6c70573p-54,   // 2^(6/32)
    0x1.29e9df51fdee1p+0, 0x1.612e8afad1255p-55,   // 2^(7/32)
    0x1.306fe0a31b715p+0, 0x1.6f46ad23182e4p-55,   // 2^(8/32)
    0x1.371a7373aa9cbp+0, -0x1.63aeabf42eae2p-54,  // 2^(9/32)
    0x1.3dea64c123422p+0, 0x1.ada0911f09ebcp-55,   // 2^(10/32)
    0x1.44e086061892dp+0, 0x1.89b7a04ef80d0p-59,   // 2^(11/32)
    0x1.4bfdad5362a27p+0, 0x1.d4397afec42e2p-56,   // 2^(12/32)
    0x1.5342b569d4f82p+0, -0x1.07abe1db13cadp-55,  // 2^(13/32)
    0x1.5ab07dd485429p+0, 0x1.6324c054647adp-54,   // 2^(14/32)
    0x1.6247eb03a5585p+0, -0x1.383c17e40b497p-54,  // 2^(15/32)
    0x1.6a09e667f3bcdp+0, -0x1.bdd3413b26456p-54,  // 2^(16/32)
    0x1.71f75e8ec5f74p+0, -0x1.16e4786887a99p-55,  // 2^(17/32)
    0x1.7a11473eb0187p+0, -0x1.41577ee04992fp-55,  // 2^(18/32)
    0x1.82589994cce13p+0, -0x1.d4c1dd41532d8p-54,  // 2^(19/32)
    0x1.8ace5422aa0dbp+0, 0x1.6e9f156864b27p-54,   // 2^(20/32)
    0x1.93737b0cdc5e5p+0, -0x1.75fc781b57ebcp-57,  // 2^(21/32)
    0x1.9c49182a3f090p+0, 0x1.c7c46b071f2bep-56,   // 2^(22/32)
    0x1.a5503b23e255dp+0, -0x1.d2f6edb8d41e1p-54,  // 2^(23/32)
    0x1.ae89f995ad3adp+0, 0x1.7a1cd345dcc81p-54,   // 2^(24/32)
    0x1.b7f76f2fb5e47p+0, -0x1.5584f7e54ac3bp-56,  // 2^(25/32)
    0x1.c199bdd85529cp+0, 0x1.11065895048ddp-55,   // 2^(26/32)
    0x1.cb720dcef9069p+0, 0x1.503cbd1e949dbp-56,   // 2^(27/32)
    0x1.d5818dcfba487p+0, 0x1.2ed02d75b3707p-55,   // 2^(28/32)
    0x1.dfc97337b9b5fp+0, -0x1.1a5cd4f184b5cp-54,  // 2^(29/32)
    0x1.ea4afa2a490dap+0, -0x1.e9c23179c2893p-54,  // 2^(30/32)
    0x1.f50765b6e4540p+0, 0x1.9d3e12dd8a18bp-54,   // 2^(31/32)
};

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

}  // namespace window_exp

// Below this the exact exp() is under half the smallest subnormal, so 0.
constexpr double kWindowExpLowest = -746.0;

// exp(x) for x from kWindowExpLowest to 0. For other arguments the result is
// meaningless (but no memory outside the table is read).
inline double WindowExp(double x) noexcept {
    using namespace window_exp;
    // k = round(32 x / ln 2), as a double and in the low bits of kd.
    const double kd = x * kScaledInvLn2 + kRoundShift;
    const double k = kd - kRoundShift;
    // r = x - k ln 2 / 32. x - k * kScaledLn2Hi is exact; the rounding of r
    // itself stays below 2^-60 and below 0.01 ulp of the result.
    const double r = (x - k * kScaledLn2Hi) - k * kScaledLn2Lo;

    // exp(r) - 1.
    const double r2 = r * r;
    const double em1 = r + r2 * ((kC2 + kC3 * r) + r2 * (kC4 + kC5 * r + r2 * kC6));

    // k + kBias = 32 (m + kExponentBias) + j, and 2^(k/32) = 2^m 2^(j/32).
    const uint64_t biased = Bits(kd) - Bits(kRoundShift) + kBias;
    const uint64_t j = biased & kTableMask;
    const double tableHi = kPowers[2 * j];
    const double tableLo = kPowers[2 * j + 1];
    // 2^(j/32) exp(r), between 0.98 and 2: only the last addition rounds at
    // the result's precision.
    const double p = tableHi + (tableLo + tableHi * em1);

    // p 2^(m + 64) by adding m + 64 to the exponent field (m reaches -1077,
    // where 2^m is not a normal double), then one multiplication by 2^-64,
    // which rounds once, into the subnormal range where the result lies there.
    const uint64_t exponentShift = ((biased >> kTableBits) - kExponentBias + kScaleUp) << 52;
    return FromBits(Bits(p) + exponentShift) * kScaleDown;
}

// The Gaussian window's weight for the argument x = -(d * d) / v: exp(x), and 0
// for every x below kWindowExpLowest. Within 1 ulp of exp() rounded to
// double for every x from -infinity to 0.
inline double WindowWeight(double x) noexcept {
    const double weight = WindowExp(x);
    return x < kWindowExpLowest ? 0.0 : weight;
}

}  // namespace nadixq
