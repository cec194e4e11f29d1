#!/usr/bin/python3
"""The performance table of make bench.

Reads the JSON output of the benchmark programs (bench/*_bench.cpp, run by
scripts/bench.sh), times GaussianApodize against numpy itself, and prints one
table of every path with its absolute time, its reference's time, the ratio
and the target; the same goes to RESULTS.md with the machine and the date.

GaussianApodize against numpy: numpy computing the window the obvious way,
    a *= np.exp(-(d * d) / (w * w)),
with the distances d to the ZPD computed beforehand, and the library's
GaussianApodize (called through its export in libnadixq.so) are timed
alternately, call by call, on the same 32768-point interferogram that
bench/processing_bench.cpp builds, so that a change in the machine's load
hits both alike. Each call gets a fresh copy of the array, outside the timing.
Both results are compared, to show that the two compute the same window.

A missed target is printed as MISSED with what explains it; only a failed
measurement (a benchmark that did not run, or windows that differ) makes the
script fail.

Usage: report.py --json-dir DIR --library LIB --build BUILD --out RESULTS.md
       [--load-before "a b c"] [--steal PERCENT] [--seconds N]
"""
import argparse
import ctypes
import datetime
import glob
import json
import os
import platform
import shlex
import statistics
import subprocess
import sys
import time

import numpy as np

POINTS = 32768
CENTRE = 256
WIDTHS = (256.0, 4096.0, 16384.0)
ROUNDS = 301

MET, MISSED = "met", "MISSED"

# Why a row misses its target on a machine like the one of the last run, shown
# under the table for every row that missed.
MISS_NOTES = {
    "apodize": (
        "GaussianApodize: every weight is the correctly rounded exp() of the exact "
        "argument -(d*d)/v, which costs two double-double products and a rounding "
        "test per point where the weights are above e^-600, and a double-double "
        "reduction and the table's lookups beyond (the weights are certified, not "
        "approximated as numpy's are); the widest vector path of the processor runs "
        "it, and numpy's exp runs on AVX-512 too."
    ),
    "getdata": (
        "spectrometer_getData: the copy runs at memcpy speed (the host's array "
        "is written once: the copied values, then the zero tail); the rest is "
        "its two trace lines, one system call each (see 'one trace line' below)."
    ),
    "cpu": (
        "CPU while polling: a thread that does nothing but the same 5 ms sleeps, "
        "measured at the same time, costs about as much; what the scan thread "
        "adds to its sleeps is within the noise of that figure. Where a timed sleep "
        "costs the system tens of microseconds, as on the machine above, the target "
        "is out of reach for any thread that sleeps 200 times a second."
    ),
}


def load_runs(json_dir):
    runs = {}
    for path in sorted(glob.glob(os.path.join(json_dir, "*.json"))):
        with open(path) as f:
            data = json.load(f)
        for run in data.get("benchmarks", []):
            if "error_occurred" in run and run["error_occurred"]:
                runs[run["run_name"]] = {"error": run.get("error_message", "error")}
            else:
                runs[run["run_name"]] = run
    return runs


def find(runs, prefix):
    """The run whose name starts with prefix (names carry /iterations:N)."""
    for name, run in runs.items():
        if name == prefix or name.startswith(prefix + "/"):
            return run
    return None


# ----------------------------------------------------------------- numpy --


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


def apodize_against_numpy(apodize, pristine, width):
    """Median seconds of the library's window and of numpy's, alternating
    call by call, and the largest difference of their results relative to the
    largest sample."""
    d = np.arange(POINTS, dtype=np.float64) - zpd(pristine)
    theirs = pristine.copy()
    ours = pristine.copy()
    ours_ptr = ours.ctypes.data_as(ctypes.POINTER(ctypes.c_double))
    t_theirs, t_ours = [], []
    clock = time.perf_counter_ns
    for round_ in range(ROUNDS):
        for side in ((0, 1) if round_ % 2 == 0 else (1, 0)):
            if side == 0:
                theirs[:] = pristine
                t0 = clock()
                theirs *= np.exp(-(d * d) / (width * width))
                t_theirs.append(clock() - t0)
            else:
                ours[:] = pristine
                t0 = clock()
                result = apodize(ours_ptr, POINTS, width)
                t_ours.append(clock() - t0)
                if result != 1:
                    raise RuntimeError(f"GaussianApodize returned {result} for width {width:g}")
    diff = float(np.max(np.abs(ours - theirs)) / np.max(np.abs(pristine)))
    return statistics.median(t_ours) * 1e-9, statistics.median(t_theirs) * 1e-9, diff


# ------------------------------------------------------------------ rows --


def us(value):
    return f"{value:.1f} µs" if value < 1000 else f"{value / 1000:.2f} ms"


class Table:
    def __init__(self):
        self.rows = []
        self.missed = set()
        self.failed = []

    def add(self, path, measured, reference, ref_time, ratio, target, ok, note=None, verdict=None):
        verdict = verdict or (MET if ok else MISSED)
        if not ok and note:
            self.missed.add(note)
        self.rows.append((path, measured, reference, ref_time, ratio, target, verdict))

    def fail(self, path, why):
        self.failed.append(f"{path}: {why}")
        self.rows.append((path, "—", "—", "—", "—", "—", f"NOT MEASURED ({why})"))

    def ratio_row(self, run, path, reference, limit, note=None):
        if run is None or "error" in run:
            self.fail(path, run["error"] if run else "no result")
            return
        ratio = run["ratio"]
        self.add(path, us(run["path_us"]), reference, us(run["ref_us"]), f"{ratio:.2f}×",
                 f"≤ {limit:g}×", ratio <= limit, note)


def build_table(runs, library):
    t = Table()
    t.ratio_row(find(runs, "BM_SingleCoadd"), "single-board `Coadd` (one scan)",
                "`memcpy` of 64 KiB samples and 256 KiB sums", 1.5)
    t.ratio_row(find(runs, "BM_DualCoadd"), "dual-board `Coadd` (one scan, both channels)",
                "the same for two channels", 1.5)
    t.ratio_row(find(runs, "BM_DualPrepareData/limits:1"),
                "dual `PrepareData`, merge limits found again", "`memcpy` of 256 KiB", 12)
    t.ratio_row(find(runs, "BM_DualPrepareData/limits:0"),
                "dual `PrepareData`, merge limits reused", "`memcpy` of 256 KiB", 10)
    t.ratio_row(find(runs, "BM_SinglePrepareData"), "single `PrepareData`",
                "one pass multiplying 32768 doubles", 1.2)
    t.ratio_row(find(runs, "BM_GetData"), "`spectrometer_getData` of 30000 points",
                "`memcpy` of 240,000 bytes", 1.5, "getdata")
    t.ratio_row(find(runs, "BM_StreamAppend"), "stream append of one 16384-point file",
                "`fwrite` of the same bytes, same folder", 2)

    apodize = library_apodize(library)
    pristine = interferogram()
    numpy_times = {}
    for width in WIDTHS:
        path = f"`GaussianApodize`, width {width:g}"
        ours, theirs, diff = apodize_against_numpy(apodize, pristine, width)
        if diff >= 1e-12:
            t.fail(path, f"the windows differ by {diff:.3g}")
            continue
        numpy_times[width] = theirs
        ratio = ours / theirs
        t.add(path, us(ours * 1e6), "numpy `a *= exp(-(d*d)/(w*w))`", us(theirs * 1e6),
              f"{ratio:.2f}× numpy", "≤ 0.6× numpy", ratio <= 0.6, "apodize")
    # The SSE2 path, the 32-bit DLL's, from processing_bench (where it is
    # timed against the path this processor gets), set against numpy's
    # median of the same width above.
    for width in WIDTHS:
        run = find(runs, f"BM_GaussianApodizePath/path:1/width:{width:g}")
        path = f"`GaussianApodize`, width {width:g}, SSE2 path (the 32-bit DLL's)"
        if run is None or "error" in run or width not in numpy_times:
            t.fail(path, run["error"] if run and "error" in run else "no result")
            continue
        ratio = run["path_us"] * 1e-6 / numpy_times[width]
        t.add(path, us(run["path_us"]), "numpy, as above", us(numpy_times[width] * 1e6),
              f"{ratio:.2f}× numpy", "—", True, verdict="on record")

    t.ratio_row(find(runs, "BM_BaselineCorrectIfg/mode:0"), "`BaselineCorrectIfg`, linear (mode 0)",
                "one summing pass", 2)
    t.ratio_row(find(runs, "BM_BaselineCorrectIfg/mode:1"), "`BaselineCorrectIfg`, mean (mode 1)",
                "one summing pass", 2)
    t.ratio_row(find(runs, "BM_FindZPD"), "`FindZPD`", "one summing pass", 2)

    idle = find(runs, "BM_IdlePolling")
    if idle is None or "error" in idle:
        t.fail("CPU of the scan thread while polling", idle["error"] if idle else "no result")
        t.fail("poll cadence", idle["error"] if idle else "no result")
    else:
        cpu = idle["cpu_percent"]
        t.add(f"CPU of the scan thread while polling, over {idle['span_s']:.0f} s",
              f"{cpu:.3f}% of a core", "a thread doing only the same sleeps, meanwhile",
              f"{idle['sleep_cpu_percent']:.3f}% of a core", "—", "≤ 0.5%", cpu <= 0.5, "cpu")
        median, p99 = idle["cadence_median_ms"], idle["cadence_p99_ms"]
        t.add(f"poll cadence ({idle['polls']:.0f} polls)",
              f"median {median:.2f} ms, p99 {p99:.2f} ms", "nominal", "5 ms", "—",
              "median ≤ 5.2 ms, p99 ≤ 6 ms", median <= 5.2 and p99 <= 6.0)

    latency = find(runs, "BM_ScanToHostEvent")
    if latency is None or "error" in latency:
        t.fail("scan complete → host eventfd readable", latency["error"] if latency else "no result")
    else:
        median = latency["latency_median_ms"]
        t.add(f"scan complete → host eventfd readable ({latency['scans']:.0f} scans)",
              f"median {median:.2f} ms, p99 {latency['latency_p99_ms']:.2f} ms", "—", "—", "—",
              "median ≤ 5.5 ms", median <= 5.5)

    for model, kind in ((1, "single"), (3, "dual")):
        run = find(runs, f"BM_RunAllocations/model:{model}")
        path = f"heap allocations during a streamed run, model {model} ({kind})"
        if run is None or "error" in run:
            t.fail(path, run["error"] if run else "no result")
            continue
        t.add(f"{path}, {run['scans']:.0f} scans in {run['files']:.0f} files",
              f"{run['per_scan']:g} per scan, {run['per_file']:g} per file", "—", "—", "—",
              "0", run["allocations"] == 0)
    return t


def other_figures(runs):
    lines = []
    trace = find(runs, "BM_TraceLine")
    if trace and "error" not in trace:
        lines.append(f"- one trace line, nobody listening: {trace['real_time']:.0f} ns")
    for run_name, run in sorted(runs.items()):
        if run_name.startswith("BM_MergeQuality") and "error" not in run:
            size = "/".join(run_name.split("/")[1:3])
            lines.append(
                f"- dual merge on the simulated model 3 ({size.replace('/', ' points, ')} scans): "
                f"wing noise {run['wing_ratio']:.3f} of the low-gain channel's (target ≤ 0.25), "
                f"largest deviation near the burst {run['burst_max_dev']:.2f} counts")
    return lines


# --------------------------------------------------------------- machine --


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def cmake_cache(build, key):
    try:
        with open(os.path.join(build, "CMakeCache.txt")) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return line.split("=", 1)[1].strip()
    except OSError:
        pass
    return ""


def library_flags(build):
    """The compile flags of the library's processing code, as built."""
    try:
        with open(os.path.join(build, "compile_commands.json")) as f:
            commands = json.load(f)
    except (OSError, ValueError):
        return ""
    for entry in commands:
        if entry["file"].endswith("gaussian_apodization.cpp"):
            args = shlex.split(entry.get("command", "")) or entry.get("arguments", [])
            keep = [a for a in args[1:] if a.startswith("-") and not a.startswith(("-I", "-D", "-o", "-c", "-M"))
                    and a not in ("-MD", "-MT", "-MF")]
            return " ".join(keep)
    return ""


def compiler(build):
    cxx = cmake_cache(build, "CMAKE_CXX_COMPILER") or "c++"
    try:
        out = subprocess.run([cxx, "--version"], capture_output=True, text=True, check=False).stdout
        return out.splitlines()[0] if out else cxx
    except OSError:
        return cxx


def tango_rows(t, figures, path):
    """The Tango device server's event figures (tango_bench.py)."""
    latency_path = "Tango: a file's co-add signal → a client's `Interferogram` event, 16384 points"
    rate_path = "Tango: one-scan files at 4096 points → each of two subscribed clients"
    try:
        with open(path) as f:
            tango = json.load(f)
    except (OSError, ValueError) as error:
        t.fail(latency_path, str(error))
        t.fail(rate_path, str(error))
        return
    ifg = tango["latency"]["interferogram"]
    t.add(latency_path + f" ({ifg['files']} files)",
          f"median {ifg['median_ms']:.1f} ms, p95 {ifg['p95_ms']:.1f} ms", "—", "—", "—",
          "median ≤ 20 ms", ifg["median_ms"] <= 20.0)
    rates = tango["throughput"]["files_per_second"]
    t.add(rate_path, " and ".join(f"{rate:.1f}" for rate in rates) + " files/s", "—", "—", "—",
          "≥ 10 files/s each", min(rates) >= 10.0)
    count = tango["latency"]["filesdone"]
    figures.append(f"- Tango: a file's co-add signal → the client's `FilesDone` event, sent after "
                   f"the file's spectrum (16384 points): median {count['median_ms']:.1f} ms, "
                   f"p95 {count['p95_ms']:.1f} ms")


# ------------------------------------------------------------------ main --


def render(table, figures, machine_lines):
    head = ["Path", "Measured", "Reference", "Reference's time", "Ratio", "Target", ""]
    out = ["| " + " | ".join(head) + " |", "|" + "---|" * len(head)]
    for row in table.rows:
        out.append("| " + " | ".join(row) + " |")
    text = ["# Performance on record", ""] + machine_lines + [""] + out
    notes = [MISS_NOTES[key] for key in ("apodize", "getdata", "cpu") if key in table.missed]
    if notes:
        text += ["", "Missed targets:", ""] + [f"- {note}" for note in notes]
    if figures:
        text += ["", "Other figures of the run:", ""] + figures
    return "\n".join(text) + "\n"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--json-dir", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--load-before", default="")
    parser.add_argument("--seconds", default="")
    parser.add_argument("--steal", default="")
    parser.add_argument("--tango", help="the figures of tango_bench.py (JSON)")
    args = parser.parse_args()

    runs = load_runs(args.json_dir)
    table = build_table(runs, args.library)
    figures = other_figures(runs)
    if args.tango:
        tango_rows(table, figures, args.tango)

    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    load_after = " ".join(f"{x:.2f}" for x in os.getloadavg())
    build_type = cmake_cache(args.build, "CMAKE_BUILD_TYPE") or "unknown"
    machine = [
        f"`make bench` of {now}"
        + (f"; the benchmark programs took {args.seconds} s" if args.seconds else "") + ".",
        "",
        f"- Machine: {cpu_model()}, {os.cpu_count()} cores, {platform.system()}",
        f"- Load average (1, 5, 15 min): {args.load_before or '?'} at the start, {load_after} at the end"
        + (f"; {args.steal}% of the processors' time stolen (the steal time of /proc/stat) during "
           "the benchmark programs" if args.steal else ""),
        f"- Compiler: {compiler(args.build)}; build type {build_type}; library flags "
        f"`{library_flags(args.build)}`",
        f"- numpy {np.__version__} (Debian's python3-numpy), Python {platform.python_version()}, "
        f"with `GLIBC_TUNABLES={os.environ.get('GLIBC_TUNABLES', '')}` so that numpy's temporaries "
        "are not fresh pages on every call (its time would swing by a factor of four with page faults)",
        "- Times are medians of alternating calls (path, reference, reference, path, ...) in the "
        "same run; the engine rows are one run each.",
    ]
    text = render(table, figures, machine)
    print(text, end="")
    with open(args.out, "w") as f:
        f.write(text)
    if table.failed:
        print("not measured: " + "; ".join(table.failed), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
