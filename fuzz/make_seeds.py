#!/usr/bin/python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

Each seed is laid out field by field as the target reads its input
(fuzz_input.h: little-endian, in order from the front). The seeds aim the
fuzzer at the edges: centre bursts near, at and past both ends of the
channel, short and failed driver replies, huge and negative point counts and
status words, empty and single-point arrays, NaN and infinities, the limits
of the apodization width and of the SPC date range.

Run it again after changing a target's input layout; the files it writes are
kept in the repository."""

import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))


def u8(v):
    return struct.pack("<B", v & 0xFF)


def u16(v):
    return struct.pack("<H", v & 0xFFFF)


def i16(v):
    return struct.pack("<h", (v + 0x8000) % 0x10000 - 0x8000)


def i32(v):
    return struct.pack("<i", v)


def u32(v):
    return struct.pack("<I", v & 0xFFFFFFFF)


def f64(v):
    return struct.pack("<d", v)


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


INT_MIN = -(2**31)
INT_MAX = 2**31 - 1
NAN = float("nan")
INF = float("inf")


# ------------------------------------------------------------- processing --
def processing(op, pts, null=0, burst=1, centre=256, amplitude=1000.0, offset=0.0,
               decay=0.1, hint=0, start=-1, end=-1, mode=0, width=100.0, overrides=()):
    data = u8(op) + i32(pts) + u8(null) + u8(burst) + i32(centre) + f64(amplitude)
    data += f64(offset) + f64(decay) + i32(hint) + i32(start) + i32(end) + i32(mode) + f64(width)
    for at, value in overrides:
        data += u16(at) + f64(value)
    return data


def processing_seeds():
    t = "processing"
    write(t, "zpd_whole", processing(0, 4096))
    write(t, "zpd_hint", processing(0, 1024, hint=256))
    write(t, "zpd_hint_past_end", processing(0, 280, centre=270, hint=300))
    write(t, "zpd_window_at_end", processing(0, 4096, centre=4090, start=4000, end=4095))
    write(t, "zpd_start_past_end", processing(0, 512, start=600, end=700))
    write(t, "zpd_negative_window", processing(0, 512, start=INT_MIN, end=INT_MIN))
    write(t, "zpd_one_point", processing(0, 1, centre=0))
    write(t, "zpd_no_points", processing(0, 0))
    write(t, "zpd_negative_points", processing(0, INT_MIN))
    write(t, "zpd_null", processing(0, 100, null=1))
    write(t, "zpd_flat", processing(0, 512, burst=0))
    write(t, "zpd_nan", processing(0, 512, overrides=[(256, NAN), (257, -NAN)]))
    write(t, "zpd_inf", processing(0, 512, overrides=[(255, INF), (258, -INF)]))
    write(t, "zpd_offset", processing(0, 512, offset=1e6))
    write(t, "baseline_mean", processing(1, 4096, mode=1, offset=123.0))
    write(t, "baseline_linear", processing(1, 4096, mode=0, offset=-50.0))
    for n in (1, 31, 32, 33):
        write(t, "baseline_linear_%d" % n, processing(1, n, mode=0, centre=0))
    write(t, "baseline_mean_one", processing(1, 1, mode=7, centre=0))
    write(t, "baseline_null", processing(1, 64, null=1, mode=1))
    write(t, "baseline_huge", processing(1, 64, mode=0, amplitude=1e308, offset=1e308))
    write(t, "baseline_denormal", processing(1, 64, mode=1, amplitude=5e-324))
    write(t, "baseline_max_points", processing(1, 32768, mode=0))
    write(t, "apodize", processing(2, 4096))
    for name, width in (("min", 1e-10), ("max", 1e10), ("below", 1e-11), ("zero", 0.0),
                        ("negative", -5.0), ("nan", NAN), ("inf", INF)):
        write(t, "apodize_width_" + name, processing(2, 2048, width=width))
    write(t, "apodize_zpd_at_start", processing(2, 512, centre=1, width=3.0))
    write(t, "apodize_zpd_at_end", processing(2, 512, centre=510, width=3.0))
    write(t, "apodize_no_zpd", processing(2, 512, burst=0))
    write(t, "apodize_null", processing(2, 512, null=1))
    write(t, "apodize_narrow", processing(2, 30000, centre=15000, width=1e-10))


# --------------------------------------------------------------- spc date --
def spc_date_seeds():
    t = "spc_date"
    stamps = {
        "epoch": 0.0,
        "before_epoch": -30001.0,
        "half_minute_before_epoch": -30000.0,
        "half_minute_up": 29999.999,
        "half_minute_exact": 30000.0,
        "now": 1.7e12,
        "last_second": 2147483647000.0,
        "past_range": 2147483647000.0 + 30000.0,
        "year_end": 1704067170000.0,  # 2023-12-31 23:59:30 UTC
        "leap_day": 1709164800000.0,  # 2024-02-29
        "nan": NAN,
        "inf": INF,
        "minus_inf": -INF,
        "huge": 1e300,
        "denormal": 5e-324,
        "negative_zero": -0.0,
    }
    for name, stamp in stamps.items():
        write(t, name, f64(stamp))


# ------------------------------------------------------ high/low combiner --
def merge(pts, centre=300, amplitude=5000.0, gain=8.0, offset=0.0, overrides=(), scans=1,
          find_limits=1, exclude_from=0, exclude_to=0):
    data = i32(pts) + i32(centre) + f64(amplitude) + f64(gain) + f64(offset)
    data += u8(len(overrides))
    for at, high, value in overrides:
        data += u16(at) + u8(high) + f64(value)
    data += i32(scans) + u8(find_limits) + i32(exclude_from) + i32(exclude_to)
    return data


def combiner_seeds():
    t = "high_low_combiner"
    write(t, "clipped_then_reused", merge(1024) + merge(1024, find_limits=0, scans=2))
    write(t, "clipped_then_other_count", merge(1024) + merge(2048, find_limits=0))
    write(t, "clip_at_start", merge(1024, centre=0) + merge(1024, centre=1))
    write(t, "clip_at_end", merge(1024, centre=1023) + merge(1024, centre=1022))
    write(t, "no_clipping", merge(4096, amplitude=100.0) + merge(4096, amplitude=100.0))
    write(t, "all_clipped", merge(512, amplitude=1e9, gain=1.0) + merge(512, find_limits=0))
    write(t, "capacity", merge(32768) + merge(40000))
    write(t, "negative_points", merge(-5) + merge(INT_MIN))
    write(t, "no_points", merge(0) + merge(1, centre=0))
    write(t, "scan_counts", merge(1024, scans=0) + merge(1024, scans=-3) + merge(1024, scans=INT_MAX))
    write(t, "small_swing_large_offset",
          merge(8192, amplitude=1.0, gain=1.0, offset=1e6, scans=100) + merge(8192, find_limits=0))
    write(t, "flat_high", merge(1024, gain=0.0, offset=5.0) + merge(1024, gain=0.0))
    write(t, "exclude_everything", merge(1024, exclude_from=INT_MIN, exclude_to=INT_MAX))
    write(t, "nan_and_inf",
          merge(1024, overrides=[(300, 1, NAN), (301, 0, INF), (5, 1, -INF)]) + merge(1024))
    write(t, "huge_values", merge(1024, amplitude=1e300, gain=1e10) + merge(1024, find_limits=0))


# ----------------------------------------------------------------- boards --
def answer(fails=0, fill=0, error=0, fill_byte=0, reply=b""):
    return u8(fails | (fill << 1)) + u32(error) + u8(fill_byte) + u16(len(reply)) + reply


OK = answer()


def cal_record(model, imax, errorvalue=0, board_type=-1):
    """The calibration reply a board of `model` asks for."""
    parms = u32(0) + u16(0xFFFF) * 3 + b"\0\0"
    if model in (3, 4):
        if board_type < 0:
            board_type = 11 if model == 3 else 12
        body = u32(errorvalue) + i16(0) + i16(0) + i16(imax) + i16(0) + i16(imax - 256)
        return parms + body + b"\0" * 42 + i16(board_type) + b"\0\0"
    if model == 5:
        return parms + i16(errorvalue) + i16(0) + i16(0) + i16(imax) + i16(0) + i16(imax - 256) \
            + b"\0" * 32
    if board_type < 0:
        board_type = 9 if model == 1 else 13
    return parms + u32(errorvalue) + i16(0) + i16(0) + i16(imax) + i16(0) + i16(imax - 256) \
        + b"\0" * 30 + i16(board_type) + b"\0\0"


def transfer_header(status, pts=1024):
    return u32(status) + u32(0) + u16(1) + u16(0) + u32(0) + i32(pts) + u32(0) * 4 + i16(0) * 3 \
        + b"\0\0"


def op(code, reply=OK, args=b""):
    return u8(code) + reply + args


def initialize(pts, gain=1.0, reply=OK):
    return op(0, reply, i32(pts) + f64(gain))


def calscan(model, imax, **kw):
    return op(1, answer(reply=cal_record(model, imax, **kw)))


def transfer(status, fill_byte=0x11, pts=1024, fails=0, error=0):
    return op(2, answer(fails=fails, fill=1, error=error, fill_byte=fill_byte,
                        reply=transfer_header(status, pts)))


def board(model, steps, flags=0, open_error=None):
    data = u8(model) + u8(flags)
    if open_error is not None:
        data += u32(open_error)
    return data + b"".join(steps)


def run(model, imax, pts=1024, scans=3):
    steps = [initialize(pts), calscan(model, imax), op(4)]
    steps += [transfer(1, 0x10 + n) for n in range(scans)]
    steps += [op(5, OK, i32(scans)), transfer(4), transfer(0, fails=1, error=31)]
    return steps


def boards_seeds():
    t = "boards"
    for model in range(1, 6):
        for name, imax in (("burst_nominal", 512), ("burst_at_start", 0), ("burst_in_lead_in", 100),
                           ("burst_at_lead_in", 256), ("burst_near_end", 32767 - 1024),
                           ("burst_at_end", 32767), ("burst_negative", -1),
                           ("burst_most_negative", -32768)):
            write(t, "model%d_%s" % (model, name), board(model, run(model, imax)))
        write(t, "model%d_verbose" % model, board(model, run(model, 512), flags=1))
        write(t, "model%d_no_device" % model, board(model, run(model, 512), flags=2, open_error=2))
        write(t, "model%d_largest_count" % model, board(model, run(model, 512, pts=30000)))
        for name, pts in (("points_32768", 32768), ("points_32769", 32769), ("points_max", INT_MAX),
                          ("points_negative", -1), ("points_min", INT_MIN)):
            write(t, "model%d_%s" % (model, name), board(model, run(model, 300, pts=pts)))
        write(t, "model%d_scans_zero_negative" % model,
              board(model, [initialize(1024), calscan(model, 512), transfer(1),
                            op(5, OK, i32(0)), op(5, OK, i32(-7)), op(5, OK, i32(INT_MIN))]))
        write(t, "model%d_status_words" % model,
              board(model, [initialize(1024), calscan(model, 512)]
                    + [transfer(s) for s in (0, 2, 3, 5, 0xFFFFFFFF, 0x80000001)]
                    + [transfer(1, pts=p) for p in (INT_MIN, -1, 0, INT_MAX)]))
        write(t, "model%d_short_replies" % model,
              board(model, [initialize(1024), op(1, answer(reply=cal_record(model, 512)[:14])),
                            op(2, answer(reply=u32(1))), op(3, answer(reply=b"\1")), op(11)]))
        write(t, "model%d_failed_calibrations" % model,
              board(model, [initialize(1024)]
                    + [op(1, answer(fails=1, error=e)) for e in (0, 31, 0xFFFFFFFF)]
                    + [calscan(model, 512, errorvalue=e) for e in (1, 2, 3, 7, -1)]
                    + [calscan(model, 512, errorvalue=2, board_type=0),
                       calscan(model, 512, board_type=11), calscan(model, 512, board_type=14),
                       calscan(model, 512, board_type=-32768)]))
        write(t, "model%d_io" % model,
              board(model, [op(6, OK, u16(0x5) + u16(0xF)), op(6, answer(fails=1), u16(1) + u16(1)),
                            op(7, answer(reply=u16(0) + b"\0\0" + u32(7) * 16), u32(0) * 16),
                            op(8, OK, u32(1) * 16), op(8, answer(fails=1, error=5), u32(2) * 16),
                            op(9), op(10, OK, i32(0)), op(10, OK, i32(1)), op(10, OK, i32(INT_MIN)),
                            op(3, answer(fails=1, error=21))]))
    write(t, "no_board_class", board(0, [initialize(1024)]))
    write(t, "model6", board(6, [initialize(1024)]))


def main():
    processing_seeds()
    spc_date_seeds()
    combiner_seeds()
    boards_seeds()
    for target in sorted(os.listdir(os.path.join(HERE, "corpus"))):
        count = len(os.listdir(os.path.join(HERE, "corpus", target)))
        print("%s: %d seeds" % (target, count))
    return 0


if __name__ == "__main__":
    sys.exit(main())
