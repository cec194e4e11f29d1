"""Reading the SPC files that the library streams a run to.

The layout is the published SPC format in its new little-endian form
(version byte 0x4B): a 512-byte main header, then per subfile a 32-byte
subfile header and the Y values as 32-bit floats; the X values are evenly
spaced from ffirst to flast. This reader works from that layout alone and
reads every subfile in one pass into numpy arrays.
"""

import collections
import datetime

import numpy

MAIN_HEADER = numpy.dtype([
    ("ftflgs", "u1"), ("fversn", "u1"), ("fexper", "u1"), ("fexp", "u1"),
    ("fnpts", "<u4"), ("ffirst", "<f8"), ("flast", "<f8"), ("fnsub", "<u4"),
    ("fxtype", "u1"), ("fytype", "u1"), ("fztype", "u1"), ("fpost", "u1"),
    ("fdate", "<u4"), ("fres", "S9"), ("fsource", "S9"), ("fpeakpt", "<u2"),
    ("fspare", "<f4", (8,)), ("fcmnt", "S130"), ("fcatxt", "S30"), ("flogoff", "<u4"),
    ("fmods", "<u4"), ("fprocs", "u1"), ("flevel", "u1"), ("fsampin", "<u2"),
    ("ffactor", "<f4"), ("fmethod", "S48"), ("fzinc", "<f4"), ("fwplanes", "<u4"),
    ("fwinc", "<f4"), ("fwtype", "u1"), ("freserv", "S187"),
])
SUBFILE_HEADER = numpy.dtype([
    ("subflgs", "u1"), ("subexp", "u1"), ("subindx", "<u2"), ("subtime", "<f4"),
    ("subnext", "<f4"), ("subnois", "<f4"), ("subnpts", "<u4"), ("subscan", "<u4"),
    ("subwlevel", "<f4"), ("subresv", "S4"),
])
assert MAIN_HEADER.itemsize == 512 and SUBFILE_HEADER.itemsize == 32

NEW_FORMAT = 0x4B
FLOAT_Y = 0x80
# ftflgs bits this reader does not take: 16-bit Y, X values per subfile or
# for the whole file.
_SHORT_Y = 0x01
_X_ARRAYS = 0x40 | 0x80


class Subfile(collections.namedtuple("Subfile", "index seconds values")):
    """One subfile: `index` (subindx), `seconds` (subtime, seconds since 1970
    as the file's 32-bit float holds it: to about two minutes) and `values`
    (float64 numpy array)."""

    __slots__ = ()

    @property
    def time(self):
        """subtime as an aware datetime in UTC."""
        return datetime.datetime.fromtimestamp(float(self.seconds), datetime.timezone.utc)


class SpcFile:
    """An SPC file as read: `header` (a dict of the main header's fields by
    their names, texts decoded), `x` (the evenly spaced X values), `y` (a
    float64 array of fnsub rows of fnpts values), `subfiles` (a list of
    Subfile), `date` (fdate as a naive local datetime to the minute, or None
    when 0) and `trailing_bytes` (bytes after the announced subfiles)."""

    def __init__(self, header, x, y, subfiles, trailing_bytes):
        self.header = header
        self.x = x
        self.y = y
        self.subfiles = subfiles
        self.trailing_bytes = trailing_bytes
        self.date = unpack_date(header["fdate"])

    def __len__(self):
        return len(self.subfiles)

    def __repr__(self):
        return "<nadixq.spc.SpcFile %d subfiles of %d points>" % (len(self), self.x.size)


def read(path):
    """Reads the SPC file at `path`. Raises ValueError when it is not a
    multifile float SPC file of the new format, or is shorter than its
    header announces."""
    with open(path, "rb") as spc:
        content = spc.read()
    if len(content) < MAIN_HEADER.itemsize:
        raise ValueError("%s: %d bytes, shorter than an SPC header" % (path, len(content)))
    raw = numpy.frombuffer(content, dtype=MAIN_HEADER, count=1)[0]
    header = {name: _field(raw[name]) for name in MAIN_HEADER.names}
    if header["fversn"] != NEW_FORMAT:
        raise ValueError("%s: version byte 0x%02X; only the new format (0x4B) is read"
                         % (path, header["fversn"]))
    if header["ftflgs"] & (_SHORT_Y | _X_ARRAYS) or header["fexp"] != FLOAT_Y:
        raise ValueError("%s: flags 0x%02X, exponent 0x%02X; only float Y values on even X "
                         "are read" % (path, header["ftflgs"], header["fexp"]))

    points, count = header["fnpts"], header["fnsub"]
    record = numpy.dtype([("header", SUBFILE_HEADER), ("values", "<f4", (points,))])
    available = (len(content) - MAIN_HEADER.itemsize) // record.itemsize
    if available < count:
        raise ValueError("%s: the header announces %d subfiles of %d points; the file holds %d"
                         % (path, count, points, available))
    records = numpy.frombuffer(content, dtype=record, count=count, offset=MAIN_HEADER.itemsize)
    y = records["values"].astype(numpy.float64).reshape(count, points)
    subfiles = [Subfile(int(h["subindx"]), float(h["subtime"]), y[row])
                for row, h in enumerate(records["header"])]
    x = numpy.linspace(header["ffirst"], header["flast"], points)
    trailing = len(content) - MAIN_HEADER.itemsize - count * record.itemsize
    return SpcFile(header, x, y, subfiles, trailing)


def unpack_date(word):
    """The fdate word (minute in bits 0-5, hour 6-10, day 11-15, month 16-19,
    year 20-31) as a naive datetime, or None for 0 or an impossible date."""
    if not word:
        return None
    try:
        return datetime.datetime(word >> 20, (word >> 16) & 0xF, (word >> 11) & 0x1F,
                                 (word >> 6) & 0x1F, word & 0x3F)
    except ValueError:
        return None


def _field(value):
    if isinstance(value, bytes):
        return value.split(b"\0", 1)[0].decode("latin-1")
    if isinstance(value, numpy.ndarray):
        return value.tolist()
    return value.item()
