"""The library's interferogram processing: ZPD search, baseline correction and
Gaussian apodization.

Each function takes the interferogram as any one-dimensional sequence of
numbers. A contiguous buffer of C doubles that can be written
(array.array('d'), a float64 numpy array) is processed where it lies, without
a copy; a list is copied in and, for the functions that change it, copied
back into the same list. The functions keep no state and may run on any
thread, also while a run is going.
"""

from __future__ import annotations

import array
import ctypes
import sys
from types import TracebackType
from typing import Any, Optional, Tuple, Type

import numpy

from ._library import library
from .errors import NadixqError

# Modes of baseline_correct_ifg.
BASELINE_LINEAR = 0  # a straight line through the means of the two 32-point ends
BASELINE_MEAN = 1  # the mean of all points


# The burst's largest sample lies this close to FindZPD's zero crossing.
BURST_SEARCH = 8


def find_zpd(ifg: Any, hint: int = 0, start: int = -1, end: int = -1) -> int:
    """The index of the zero-path-difference point: the sample where the
    centre burst swings through zero between its extremes, which must lie
    fewer than 20 points apart. `hint` (207 to 305) narrows the search to 30
    points either side of it; otherwise `start`..`end` (both included; -1:
    the whole array) is searched. A large offset must be removed first
    (baseline_correct_ifg). Raises NadixqError (code -3) when no single
    crossing is found."""
    with _Doubles(ifg, writable=False) as (pointer, count):
        result = library().FindZPD(pointer, count, hint, start, end)
    if result < 0:
        raise NadixqError("zpd", result)
    return int(result)


def burst_index(ifg: Any) -> int:
    """The index of the centre burst's largest sample (by magnitude) after
    the mean is taken off: the sample next to FindZPD's zero crossing that
    the interferogram's files and the command line call the ZPD, a whole
    sample (the spectrum refines it to a fraction, Spectrum.zpd). `ifg` is
    not changed. Raises NadixqError (code -3) when there is no burst."""
    values = numpy.array(ifg, dtype=numpy.float64)
    baseline_correct_ifg(values, BASELINE_MEAN)
    return largest_near(values, find_zpd(values))


def largest_near(values: "numpy.ndarray[Any, Any]", crossing: int) -> int:
    """The index of the largest sample (by magnitude) within BURST_SEARCH
    samples of the burst's zero crossing at `crossing`."""
    first = max(0, crossing - BURST_SEARCH)
    window = numpy.abs(values[first:crossing + BURST_SEARCH + 1])
    return first + int(numpy.argmax(window))


def baseline_correct_ifg(ifg: Any, mode: int = BASELINE_LINEAR) -> Any:
    """Removes the offset of `ifg` in place, the mean (BASELINE_MEAN) or a
    straight line through the means of its first and last 32 points
    (BASELINE_LINEAR, which needs at least 32 points). Returns `ifg`."""
    with _Doubles(ifg, writable=True) as (pointer, count):
        library().BaselineCorrectIfg(pointer, count, mode)
    return ifg


def gaussian_apodize(ifg: Any, width: float) -> Any:
    """Multiplies `ifg` in place by a Gaussian window centred on its ZPD point
    that has fallen to 1/e `width` points either side of it. Raises
    NadixqError, leaving `ifg` as it was, for a width outside 1e-10 to 1e10.
    Returns `ifg`."""
    with _Doubles(ifg, writable=True) as (pointer, count):
        result = library().GaussianApodize(pointer, count, width)
    if result != 1:
        raise NadixqError("apodize", result)
    return ifg


class _Doubles:
    """The interferogram as an array of C doubles for the length of one call:
    the caller's own memory when it is a suitable buffer, otherwise a copy
    (written back on a clean exit when the call may change it)."""

    def __init__(self, values: Any, writable: bool) -> None:
        self._values = values
        self._writable = writable
        self._copy: Optional[array.array[float]] = None

    def __enter__(self) -> Tuple[Any, int]:
        if _is_writable_doubles(self._values):
            count = len(memoryview(self._values))
            block = (ctypes.c_double * count).from_buffer(self._values)
        else:
            if self._writable and not hasattr(self._values, "__setitem__"):
                raise TypeError("the interferogram must be a mutable sequence or a writable "
                                "buffer of doubles, not %s" % type(self._values).__name__)
            self._copy = array.array("d", self._values)
            block = (ctypes.c_double * len(self._copy)).from_buffer(self._copy)
        # The array converts to the double* of the prototype.
        return block, len(block)

    def __exit__(self, kind: Optional[Type[BaseException]], value: Optional[BaseException],
                 traceback: Optional[TracebackType]) -> None:
        if self._copy is not None and self._writable and kind is None:
            if isinstance(self._values, array.array):
                # An array takes only an array of its own type code.
                values: Any = self._values
                values[:] = array.array(values.typecode, self._copy)
            else:
                self._values[:] = self._copy.tolist()


def _is_writable_doubles(values: Any) -> bool:
    """Whether `values` is a one-dimensional, contiguous, writable buffer of
    native doubles."""
    try:
        view = memoryview(values)
    except TypeError:
        return False
    with view:
        native = ("d", "@d", "=d", "<d" if sys.byteorder == "little" else ">d")
        return (view.ndim == 1 and view.c_contiguous and not view.readonly and
                view.itemsize == 8 and view.format in native)
