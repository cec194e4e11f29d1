#!/usr/bin/python3
"""Ratio lines for the processing benchmark.

GaussianApodize against numpy: the Gaussian window written the obvious numpy
way,
    x *= np.exp(-((i - z)**2) / w**2),
and the library's GaussianApodize (called through its decorated export in
libnadixq.so) are timed side by side, alternating call by call on the same
32768-point interferogram that bench/processing_bench.cpp uses, so that a
change in the machine's load hits both alike. Each call gets a fresh copy of
the array, outside the timing. Times are process CPU time; the ratio is the
ratio of the medians. Both results are also compared, to show that the two
compute the same window.

FindZPD and BaselineCorrectIfg against one plain streaming pass over the array
(a sum loop): from the medians in processing_bench's JSON output.

Usage: processing_compare.py BENCH_JSON LIBRARY
"""
import argparse
import ctypes
import json
import statistics
import sys
import time

import numpy as np

POINTS = 32768
CENTRE = 256
WIDTHS = (256.0, 4096.0, 16384.0)
ROUNDS = 301
APODIZE_TARGET = 4.0  # the library at least this many times faster than numpy
PASS_TARGET = 2.0  # FindZPD and BaselineCorrectIfg within this many sum passes


def interferogram():
    """The benchmark's array: a burst at CENTRE on a drifting offset, with the
    linear baseline through the means of its two 32-point ends removed."""
    i = np.arange(POINTS, dtype=np.float64)
    x = i - CENTRE
    freqs = [0.11, 0.15, 0.19, 0.23, 0.27]
    amps = [0.6, 1.0, 0.8, 0.5, 0.3]
    burst = sum(a * np.cos(2.0 * np.pi * f * x + 1.2) for a, f in zip(amps, freqs))
    ifg = 2.5 + 1e-5 * i + burst * np.exp(-((x / 12.0) ** 2)) + 0.002 * np.sin(0.7 * i)
    s = ifg[:32].mean()
    e = ifg[-32:].mean()
    return ifg - (s + (e - s) / (POINTS - 1) * i)


def zpd(ifg):
    """Where the burst crosses zero between its extremes, nearer sample, the
    later one on a tie: the centre the library puts its window on."""
    a, b = sorted((int(np.argmax(ifg)), int(np.argmin(ifg))))
    seg = ifg[a : b + 1]
    k = int(np.nonzero(seg[1:] * seg[:-1] <= 0.0)[0][0]) + 1
    return a + k - 1 if abs(seg[k - 1]) < abs(seg[k]) else a + k


def library_apodize(path):
    lib = ctypes.CDLL(path)
    fn = getattr(lib, "_Z15GaussianApodizePdid")
    fn.argtypes = [ctypes.POINTER(ctypes.c_double), ctypes.c_int, ctypes.c_double]
    fn.restype = ctypes.c_int
    return fn


def apodize_side_by_side(apodize, pristine, width):
    """Median CPU seconds of numpy's window and of the library's, and the
    largest difference of their results relative to the largest sample."""
    z = zpd(pristine)
    i = np.arange(POINTS, dtype=np.float64)
    theirs = pristine.copy()
    ours = pristine.copy()
    ours_ptr = ours.ctypes.data_as(ctypes.POINTER(ctypes.c_double))
    t_theirs, t_ours = [], []
    clock = time.process_time_ns
    for _ in range(ROUNDS):
        theirs[:] = pristine
        t0 = clock()
        theirs *= np.exp(-((i - z) ** 2) / width**2)
        t1 = clock()
        ours[:] = pristine
        t2 = clock()
        result = apodize(ours_ptr, POINTS, width)
        t3 = clock()
        if result != 1:
            raise RuntimeError(f"GaussianApodize returned {result} for width {width:g}")
        t_theirs.append(t1 - t0)
        t_ours.append(t3 - t2)
    diff = float(np.max(np.abs(ours - theirs)) / np.max(np.abs(pristine)))
    return statistics.median(t_theirs) * 1e-9, statistics.median(t_ours) * 1e-9, diff


def cpu_medians(bench_json):
    """run name -> median CPU time in seconds, from Google Benchmark's JSON."""
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    with open(bench_json) as f:
        runs = json.load(f)["benchmarks"]
    out = {}
    for run in runs:
        if run.get("run_type") == "aggregate" and run.get("aggregate_name") != "median":
            continue
        out[run["run_name"]] = run["cpu_time"] * scale[run["time_unit"]]
    return out


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bench_json")
    parser.add_argument("library")
    args = parser.parse_args()

    cpp = cpu_medians(args.bench_json)
    sum_pass = cpp.get("BM_SumPass")
    for name, label in (
        ("BM_FindZPD", "FindZPD"),
        ("BM_BaselineCorrectIfg/mode:0", "BaselineCorrectIfg mode 0"),
        ("BM_BaselineCorrectIfg/mode:1", "BaselineCorrectIfg mode 1"),
    ):
        if sum_pass is None or name not in cpp:
            continue
        ratio = cpp[name] / sum_pass
        print(
            f"ratio {label} / sum pass ({POINTS} points): {ratio:.2f} "
            f"({cpp[name] * 1e6:.1f} us vs {sum_pass * 1e6:.1f} us; "
            f"target <= {PASS_TARGET:g}) {'ok' if ratio <= PASS_TARGET else 'MISSED'}"
        )

    apodize = library_apodize(args.library)
    pristine = interferogram()
    same = True
    for width in WIDTHS:
        theirs, ours, diff = apodize_side_by_side(apodize, pristine, width)
        ratio = theirs / ours
        same &= diff < 1e-12
        print(
            f"ratio numpy / GaussianApodize ({POINTS} points, width {width:g}): "
            f"{ratio:.2f}x ({theirs * 1e6:.1f} us vs {ours * 1e6:.1f} us; "
            f"target >= {APODIZE_TARGET:g}x) {'ok' if ratio >= APODIZE_TARGET else 'MISSED'}"
            f"{'' if diff < 1e-12 else f'; WINDOWS DIFFER by {diff:.3g}'}"
        )
    # A missed speed target is reported in its line; only a wrong window,
    # which would make the comparison meaningless, fails the run.
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
