// The Gaussian window's weights, exp(-(d * d) / v), correctly rounded.
//
// The argument is the exact real -(d * d) / v of the double inputs: the
// distance d (an integer held in a double) and v = width * width (a double,
// rounded once where the window is set up). Neither d * d nor the quotient is
// rounded on the way: the weight is the double nearest to that real's
// exponential (ties to even, which exact values never meet), also in the
// subnormal range, and 0 where the exponential lies below half the smallest
// subnormal. Every system that rounds doubles as IEEE 754 prescribes gives
// the same bits, without the C runtime's exp(), whose last bit differs from
// one system to the next.
//
// The evaluation here is the accurate one: the quotient as a double-double,
// the reduction by ln 2 / 256 in three parts, 2^(j/256) to 2^-130, a degree-9
// polynomial in double-double arithmetic, and a result whose error is below
// 2^-93 relative. Its rounding is then decided against that bound, with the
// subnormal grid where the result is subnormal. An exact value within 2^-90
// relative of a rounding midpoint would stay undecided and get the rounding of
// the approximation; that happens to about one argument in 2^37, and to none
// of the recorded set (tests/processing/window_reference_test.cpp, whose data record how
// near to a midpoint its exact values come). The block evaluation of
// window_weights.h is a faster path whose results this function backs.
#pragma once

namespace nadixq {

// What the weights of one window need of v: v itself, and 1/v as a
// double-double whose upper part is split in two halves of 26 bits.
struct WindowDivisor {
    double v;
    double inverse;       // 1/v rounded
    double inverseLow;    // 1/v - inverse, rounded
    double inverseUpper;  // inverse in two halves whose products with a
    double inverseLower;  // 26-bit number are exact
};

// v from 1e-20 to 1e20 (widths from 1e-10 to 1e10).
WindowDivisor MakeWindowDivisor(double v) noexcept;

// exp(-(d * d) / v) correctly rounded, for any finite d.
double WindowWeight(double d, const WindowDivisor& divisor) noexcept;

// exp(-n / v) to more than double precision, for starting a recurrence of
// weights: hi + lo within 2^-90 relative of the exact value, hi the sum
// rounded to nearest, both normal numbers. n >= 0 is an integer held exactly in a
// double, with n / v at most kWindowExtendedLimit.
struct WindowExtended {
    double hi;
    double lo;
};
constexpr double kWindowExtendedLimit = 640.0;
WindowExtended WindowExpExtended(double n, const WindowDivisor& divisor) noexcept;
// a * b, normalised, adding at most 2^-102 relative: a recurrence's step on
// such values.
WindowExtended WindowExtendedProduct(WindowExtended a, WindowExtended b) noexcept;

// exp(x) correctly rounded for a double x <= 0 (the argument exactly as given);
// exp(-0.0) = 1, exp(-infinity) = 0.
double WindowExp(double x) noexcept;

}  // namespace nadixq
