"""Reading the SPC files that the library streams a run to.

The layout is the published SPC format in its new little-endian form
(version byte 0x4B): a 512-byte main header, then per subfile a 32-byte
subfile header and the Y values as 32-bit floats; the X values are evenly
spaced from ffirst to flast. This reader works from that layout alone.

read() maps the file into memory and reads nothing but the main header: the
subfiles' values are float32 views of the mapping, read from the disk when
they are used, so that a run of many gigabytes opens in constant memory.
"""

from __future__ import annotations

import datetime
import mmap
import os
from types import TracebackType
from typing import Any, Dict, Iterator, NamedTuple, Optional, Sequence, Type, Union, overload

import numpy
import numpy.typing

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
#: fxtype of an interferogram file: arbitrary X, here the point index.
X_ARBITRARY = 0
#: fxtype of a spectrum in wavenumbers (cm^-1).
X_WAVENUMBER = 1
_SUBFILE_COUNT_OFFSET = 24
# ftflgs bits this reader does not take: 16-bit Y, X values per subfile or
# for the whole file.
_SHORT_Y = 0x01
_X_ARRAYS = 0x40 | 0x80

Float32Array = numpy.typing.NDArray[numpy.float32]


class Subfile(NamedTuple):
    """One subfile: `index` (subindx, the file's index in its run),
    `seconds` (subtime: seconds since 1970 UTC as the file's 32-bit float
    holds it, so only to its float32 step, about 128 s for today's dates;
    see `seconds_step`; the exact time is in the run's Interferogram, not in
    the file) and `values` (a read-only float32 numpy view of the file)."""

    index: int  # type: ignore[assignment]
    seconds: float
    values: Float32Array

    @property
    def seconds_step(self) -> float:
        """The spacing of float32 values at `seconds`: how far the true time
        may lie from it (one step either way, with rounding)."""
        return float(numpy.spacing(numpy.float32(self.seconds)))


class _Subfiles(Sequence[Subfile]):
    """The subfiles, each made when it is asked for."""

    def __init__(self, records: Any) -> None:
        self._records = records

    def __len__(self) -> int:
        return len(self._records)

    @overload
    def __getitem__(self, item: int) -> Subfile: ...

    @overload
    def __getitem__(self, item: slice) -> Sequence[Subfile]: ...

    def __getitem__(self, item: Union[int, slice]) -> Union[Subfile, Sequence[Subfile]]:
        if isinstance(item, slice):
            return [self[i] for i in range(*item.indices(len(self)))]
        record = self._records[item]
        header = record["header"]
        return Subfile(int(header["subindx"]), float(header["subtime"]), record["values"])

    def __iter__(self) -> Iterator[Subfile]:
        for row in range(len(self)):
            yield self[row]


class SpcFile:
    """An SPC file as mapped by read().

    `header`: a dict of the main header's fields by their names, texts
    decoded. `x`: the X values, evenly spaced; for an interferogram file
    (fxtype 0, `x_is_point_index`) the point index 0, 1, 2, ... (its header's
    ffirst and flast are not an axis: the library's stream files carry 0 and
    the folding wavenumber there, see `sampling_wavenumber`); for a spectrum
    (fxtype 1) the wavenumbers from ffirst to flast. `y`: a read-only float32
    numpy view of fnsub rows of fnpts values, read lazily. `subfiles`: a
    sequence of Subfile. `date`: fdate as a naive local datetime to the
    minute, or None when 0. `trailing_bytes`: bytes after the announced
    subfiles. Use it as a context manager, or close(), to unmap the file
    (the arrays taken from it must not be used after that).
    """

    def __init__(self, path: str, header: Dict[str, Any], y: Float32Array, records: Any,
                 trailing_bytes: int, mapping: Optional[mmap.mmap]) -> None:
        self.path = path
        self.header = header
        self.y = y
        self.subfiles: Sequence[Subfile] = _Subfiles(records)
        self.trailing_bytes = trailing_bytes
        self.date = unpack_date(header["fdate"])
        self._mapping = mapping
        points = int(header["fnpts"])
        if self.x_is_point_index:
            self.x: numpy.typing.NDArray[numpy.float64] = numpy.arange(points, dtype=numpy.float64)
        else:
            self.x = numpy.linspace(header["ffirst"], header["flast"], points)

    @property
    def x_is_point_index(self) -> bool:
        """Whether `x` is the point index (an interferogram: fxtype 0)."""
        return bool(self.header["fxtype"] == X_ARBITRARY)

    @property
    def sampling_wavenumber(self) -> Optional[float]:
        """For an interferogram file whose flast holds the folding wavenumber
        (the library's stream files: 7899.0189 cm^-1), twice it: the sampling
        wavenumber to pass to nadixq.spectrum(). None for other files."""
        if self.x_is_point_index and self.header["ffirst"] == 0.0 and self.header["flast"] > 0:
            return 2.0 * float(self.header["flast"])
        return None

    def __len__(self) -> int:
        return len(self.subfiles)

    def __repr__(self) -> str:
        return "<nadixq.spc.SpcFile %s: %d subfiles of %d points>" % (
            self.path, len(self), self.header["fnpts"])

    def close(self) -> None:
        """Unmaps the file. Arrays taken from it become invalid."""
        if self._mapping is not None:
            try:
                self._mapping.close()
            except BufferError:
                # Views are still exported: the mapping goes with the last of them.
                pass
            self._mapping = None

    def __enter__(self) -> "SpcFile":
        return self

    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        self.close()


def read(path: "os.PathLike[str] | str") -> SpcFile:
    """Maps the SPC file at `path` (see SpcFile). Raises ValueError when it
    is not a multifile float SPC file of the new format, or is shorter than
    its header announces."""
    name = os.fsdecode(path)
    with open(path, "rb") as spc:
        size = os.fstat(spc.fileno()).st_size
        if size < MAIN_HEADER.itemsize:
            raise ValueError("%s: %d bytes, shorter than an SPC header" % (name, size))
        raw = numpy.frombuffer(spc.read(MAIN_HEADER.itemsize), dtype=MAIN_HEADER, count=1)[0]
        header = {field: _field(raw[field]) for field in MAIN_HEADER.names or ()}
        if header["fversn"] != NEW_FORMAT:
            raise ValueError("%s: version byte 0x%02X; only the new format (0x4B) is read"
                             % (name, header["fversn"]))
        if header["ftflgs"] & (_SHORT_Y | _X_ARRAYS) or header["fexp"] != FLOAT_Y:
            raise ValueError("%s: flags 0x%02X, exponent 0x%02X; only float Y values on even X "
                             "are read" % (name, header["ftflgs"], header["fexp"]))

        points, count = int(header["fnpts"]), int(header["fnsub"])
        record = numpy.dtype([("header", SUBFILE_HEADER), ("values", "<f4", (points,))])
        available = (size - MAIN_HEADER.itemsize) // record.itemsize
        if available < count:
            raise ValueError("%s: the header announces %d subfiles of %d points; the file holds %d"
                             % (name, count, points, available))
        trailing = size - MAIN_HEADER.itemsize - count * record.itemsize
        if count == 0:
            records: Any = numpy.zeros(0, dtype=record)
            return SpcFile(name, header, records["values"].reshape(0, points), records, trailing,
                           None)
        mapping = mmap.mmap(spc.fileno(), 0, access=mmap.ACCESS_READ)
    records = numpy.frombuffer(mapping, dtype=record, count=count, offset=MAIN_HEADER.itemsize)
    return SpcFile(name, header, records["values"], records, trailing, mapping)


def subfile_count(path: "os.PathLike[str] | str") -> int:
    """The subfile count (fnsub) in the main header of the SPC file at
    `path`, read without the rest of the file."""
    with open(path, "rb") as spc:
        head = spc.read(_SUBFILE_COUNT_OFFSET + 4)
    if len(head) < _SUBFILE_COUNT_OFFSET + 4:
        raise ValueError("%s: %d bytes, shorter than an SPC header" % (os.fsdecode(path),
                                                                       len(head)))
    return int.from_bytes(head[_SUBFILE_COUNT_OFFSET:], "little")


def unpack_date(word: int) -> Optional[datetime.datetime]:
    """The fdate word (minute in bits 0-5, hour 6-10, day 11-15, month 16-19,
    year 20-31) as a naive datetime, or None for 0 or an impossible date."""
    if not word:
        return None
    try:
        return datetime.datetime(word >> 20, (word >> 16) & 0xF, (word >> 11) & 0x1F,
                                 (word >> 6) & 0x1F, word & 0x3F)
    except ValueError:
        return None


def _field(value: Any) -> Any:
    if isinstance(value, bytes):
        return value.split(b"\0", 1)[0].decode("latin-1")
    if isinstance(value, numpy.ndarray):
        return value.tolist()
    return value.item()
