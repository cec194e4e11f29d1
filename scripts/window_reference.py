#!/usr/bin/python3
"""Exact reference data for the Gaussian window's weights.

Two outputs, each written once and kept in the repository:

  --table FILE      the constants of the library's exponential
                    (src/processing/window_exponential_table.h): 2^(j/256)
                    for j = 0..255 in three parts, ln 2 / 256 in three parts,
                    256 / ln 2, and the Taylor coefficients.
  --reference FILE  the correctly rounded weights of a set of sweeps
                    (tests/data/window_reference.txt), which
                    tests/processing/window_reference_test.cpp recomputes and compares.

A weight is exp(-(d * d) / v) for an integer distance d and the double
v = width * width, taken as exact reals, rounded to the nearest double (ties
to even, the subnormal range included; below half the smallest subnormal it
is 0). A sweep is what GaussianApodize evaluates for one call: every distance
from a first one on, for one width.

The reference: exp(-d0^2/v), exp(-(2 d0 + 1)/v) and exp(-2/v) from mpmath at
1400 bits, then every following weight of the sweep by the recurrence
exp(-(d+1)^2/v) = exp(-d^2/v) * exp(-(2d+1)/v), in integer fixed point with
1300 fraction bits. Its error stays below 2^-1220 absolute, some 2^-140
relative to the smallest subnormal; each value's distance from the nearest
rounding midpoint is checked against that bound (a closer one would be
recomputed from scratch at a higher precision), and the smallest distance
met is written into the file's header.

Each line of the reference holds one sweep: the width's bits, the first
distance, the number of distances, how many weights are above 0, and a 64-bit
digest of the weights' bits (h = (h ^ bits) * 1099511628211 mod 2^64, from
14695981039346656037).

Usage: window_reference.py --table FILE | --reference FILE [--seed N]
"""
import argparse
import math
import random
import struct
import sys

import mpmath

FRACTION = 1300
PRECISION = 1400
# The recurrence's error in units of 2^-FRACTION: two truncations per step
# and their propagation over at most 2^17 steps, with a wide margin.
ERROR_UNITS = 1 << 40


def bits_of(x):
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def fixed(y):
    """floor(y * 2^FRACTION) for an mpf y."""
    return int(mpmath.floor(mpmath.ldexp(y, FRACTION)))


class Rounder:
    def __init__(self):
        self.closest = None  # smallest relative distance from a midpoint, log2

    def round(self, x):
        """The nearest double to x * 2^-FRACTION, x a non-negative integer."""
        if x == 0:
            return 0.0
        e = x.bit_length() - 1 - FRACTION  # x * 2^-FRACTION is in [2^e, 2^(e+1))
        grid = max(e, -1022) - 52
        shift = FRACTION + grid
        n = x >> shift
        rem = x - (n << shift)
        half = 1 << (shift - 1)
        distance = abs(rem - half)
        if distance <= ERROR_UNITS:
            raise ArithmeticError("a weight lies too near a rounding midpoint")
        rel = distance.bit_length() - x.bit_length()
        if self.closest is None or rel < self.closest:
            self.closest = rel
        if rem > half:
            n += 1
        return math.ldexp(n, grid)


def sweep_digest(width, first, count, rounder):
    """The digest of the weights of distances first .. first+count-1 and how
    many of them are above 0."""
    mpmath.mp.prec = PRECISION
    v = mpmath.mpf(width * width)  # the double product, exactly
    d0 = mpmath.mpf(first)
    e = fixed(mpmath.exp(-(d0 * d0) / v))
    f = fixed(mpmath.exp(-(2 * d0 + 1) / v))
    b = fixed(mpmath.exp(-2 / v))
    digest = 14695981039346656037
    positive = 0
    for _ in range(count):
        w = rounder.round(e)
        if w == 0.0:
            break
        positive += 1
        digest = ((digest ^ bits_of(w)) * 1099511628211) & 0xFFFFFFFFFFFFFFFF
        e = (e * f) >> FRACTION
        f = (f * b) >> FRACTION
    # The weights fall from here on: the rest are 0.
    for _ in range(count - positive):
        digest = (digest * 1099511628211) & 0xFFFFFFFFFFFFFFFF
    return digest, positive


def sweeps(seed):
    """(kind, width, first distance, count), drawn once."""
    rng = random.Random(seed)
    out = []
    # As GaussianApodize draws them: widths 1..20000, up to 65536 points, any
    # ZPD; the distances 0 .. max(z, pts - 1 - z). Until 10.5 million of them
    # are at or before the first zero weight.
    evaluated = 0
    while evaluated < 10_500_000:
        width = rng.uniform(1.0, 20000.0)
        pts = rng.randint(1, 65536)
        z = rng.randint(0, pts - 1)
        count = max(z, pts - 1 - z) + 1
        out.append(("apodize", width, 0, count))
        # The first zero lies near 27.3 widths.
        evaluated += min(count, int(27.4 * width) + 2)
    # The subnormal results and the underflow to 0: distances from 26.5 to
    # 27.4 widths (arguments -702 to -751).
    for _ in range(300):
        width = rng.uniform(1.0, 2000.0)
        first = int(26.5 * width)
        out.append(("subnormal", width, first, int(27.4 * width) + 2 - first))
    # Tiny arguments, results just below 1: widths 1e5 to 1e10.
    for width in [1e5, 1e6, 1e7, 1e8, 1e9, 1e10] + [10 ** rng.uniform(5, 10) for _ in range(14)]:
        out.append(("tiny", width, 0, 20000))
    # Widths below 1: the weights fall to 0 within a few points.
    for width in [1e-10, 1e-3, 0.1, 0.5] + [rng.uniform(0.01, 1.0) for _ in range(6)]:
        out.append(("narrow", width, 0, 40))
    return out


def write_reference(path, seed):
    rounder = Rounder()
    lines = []
    total = 0
    plan = sweeps(seed)
    for n, (kind, width, first, count) in enumerate(plan):
        digest, positive = sweep_digest(width, first, count, rounder)
        total += min(count, positive + 1)
        lines.append(f"{bits_of(width):016x} {first} {count} {positive} {digest:016x} {kind}")
        if n % 50 == 0:
            print(f"{n}/{len(plan)} sweeps", file=sys.stderr)
    with open(path, "w") as f:
        f.write("# Correctly rounded exp(-(d*d)/(width*width)), written by scripts/window_reference.py\n")
        f.write(f"# seed {seed}; {len(plan)} sweeps; {total} weights up to each sweep's first zero\n")
        f.write(f"# nearest approach of an exact weight to a rounding midpoint: 2^{rounder.closest} relative\n")
        f.write("# width bits, first distance, distances, weights above 0, digest, kind\n")
        f.write("\n".join(lines) + "\n")
    print(f"{len(plan)} sweeps, {total} weights, nearest midpoint 2^{rounder.closest}", file=sys.stderr)


def split(x, bits):
    """x rounded to a double of at most `bits` significant bits, and the rest."""
    mpmath.mp.prec = bits
    hi = mpmath.mpf(x)  # mpmath rounds to nearest at the working precision
    mpmath.mp.prec = PRECISION
    return float(hi), x - hi


def hexf(x):
    return float.hex(float(x)).replace("0x1.", "0x1.").replace("+", "+")


def write_table(path):
    mpmath.mp.prec = PRECISION
    rows = []
    for j in range(256):
        t = mpmath.power(2, mpmath.mpf(j) / 256)
        hi, rest = split(t, 27)
        mpmath.mp.prec = 53
        mid = mpmath.mpf(rest)
        mpmath.mp.prec = PRECISION
        low = float(rest - mid)
        rows.append(f"    {{{hexf(hi)}, {hexf(float(mid))}, {hexf(low)}}},  // 2^({j}/256)")
    ln2 = mpmath.log(2) / 256
    l1, rest = split(ln2, 34)
    l2, rest = split(rest, 34)
    mpmath.mp.prec = 53
    l3 = float(mpmath.mpf(rest))
    mpmath.mp.prec = PRECISION
    inv = float(256 / mpmath.log(2))

    def dd(x):
        mpmath.mp.prec = 53
        hi = mpmath.mpf(x)
        mpmath.mp.prec = PRECISION
        return float(hi), float(x - hi)

    c3 = dd(mpmath.mpf(1) / 6)
    c4 = dd(mpmath.mpf(1) / 24)
    singles = [float(mpmath.mpf(1) / mpmath.factorial(n)) for n in range(5, 10)]
    text = f"""// Generated by scripts/window_reference.py --table; do not edit.
// The constants of the window's exponential (window_exponential.cpp).
#pragma once

namespace nadixq {{
namespace window_table {{

// 2^(j/256) = hi + mid + low to about 2^-130: hi has 27 significant bits, so
// that its product with a 26-bit number is exact.
struct Power {{
    double hi;
    double mid;
    double low;
}};
alignas(64) constexpr Power kPowers[256] = {{
{chr(10).join(rows)}
}};

// ln 2 / 256 = kLn2Hi + kLn2Mid + kLn2Low; the first two have 34 significant
// bits, so that k times either is exact for |k| < 2^19.
constexpr double kLn2Hi = {hexf(l1)};
constexpr double kLn2Mid = {hexf(l2)};
constexpr double kLn2Low = {hexf(l3)};
constexpr double kInvLn2 = {hexf(inv)};  // 256 / ln 2

// 1/n!: 1/6 and 1/24 as double-doubles, 1/120 to 1/9! as doubles.
constexpr double kC3Hi = {hexf(c3[0])};
constexpr double kC3Lo = {hexf(c3[1])};
constexpr double kC4Hi = {hexf(c4[0])};
constexpr double kC4Lo = {hexf(c4[1])};
constexpr double kC5 = {hexf(singles[0])};
constexpr double kC6 = {hexf(singles[1])};
constexpr double kC7 = {hexf(singles[2])};
constexpr double kC8 = {hexf(singles[3])};
constexpr double kC9 = {hexf(singles[4])};

}}  // namespace window_table
}}  // namespace nadixq
"""
    with open(path, "w") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--table")
    parser.add_argument("--reference")
    parser.add_argument("--seed", type=int, default=20261209)
    args = parser.parse_args()
    if args.table:
        write_table(args.table)
    if args.reference:
        write_reference(args.reference, args.seed)
    if not args.table and not args.reference:
        parser.error("nothing to write")


if __name__ == "__main__":
    main()
