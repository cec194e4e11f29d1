"""Band centres of a spectrum: the peaks of an absorbance (or single-beam)
spectrum, the dips of a transmittance spectrum."""

from __future__ import annotations

from typing import List, Optional, Tuple

import numpy
import numpy.typing

from .fourier import TRANSMITTANCE, Array, Spectrum


def find_bands(spectrum: Spectrum, prominence: float = 0.05, low: Optional[float] = None,
               high: Optional[float] = None) -> List[Tuple[float, float]]:
    """The bands of `spectrum` as a list of (wavenumber, height), highest
    first (for a transmittance spectrum: its dips, deepest first, with the
    transmittance at the dip as the height).

    A band is a local maximum that stands out by at least `prominence`, in
    the spectrum's own units, above the higher of the two lowest points that
    separate it from a higher maximum, or from the end of the data, on either
    side (its topographic prominence). `low` and `high` are in cm^-1. NaN values end the data like the
    spectrum's ends do. `low` and `high` (cm^-1) restrict the search. The
    centre and height come from a parabola fitted to the samples within half
    the spectrum's resolution of the highest one (at least its two
    neighbours), so they are found to a fraction of the point spacing.
    """
    sign = -1.0 if spectrum.kind == TRANSMITTANCE else 1.0
    wavenumber = spectrum.wavenumber
    values = sign * spectrum.values
    inside = numpy.isfinite(values)
    if low is not None:
        inside &= wavenumber >= low
    if high is not None:
        inside &= wavenumber <= high
    step = wavenumber[1] - wavenumber[0] if wavenumber.size > 1 else 0.0
    reach = max(1, int(round(0.5 * spectrum.resolution / step))) if step > 0 else 1
    bands = []
    for start, stop in _runs(inside):
        for index, height in _prominent_peaks(values[start:stop], prominence):
            bands.append(_interpolated(wavenumber, values, start + index, reach))
    bands.sort(key=lambda band: band[1], reverse=True)
    return [(centre, sign * height) for centre, height in bands]


def _runs(mask: numpy.typing.NDArray[numpy.bool_]) -> List[Tuple[int, int]]:
    """(start, stop) of every run of True in `mask`."""
    edge = numpy.zeros(1, dtype=numpy.int8)
    edges = numpy.flatnonzero(numpy.diff(numpy.concatenate((edge, mask.astype(numpy.int8),
                                                            edge))))
    return [(int(a), int(b)) for a, b in zip(edges[0::2], edges[1::2])]


def _prominent_peaks(y: Array, prominence: float) -> List[Tuple[int, float]]:
    """Indices of the local maxima of `y` whose prominence is at least
    `prominence` (a plateau counts once, at its first sample)."""
    if y.size < 3:
        return []
    rising = y[1:-1] > y[:-2]
    falling = y[1:-1] >= y[2:]
    peaks = numpy.flatnonzero(rising & falling) + 1
    if peaks.size == 0:
        return []
    left = _previous_higher(y)
    right = y.size - 1 - _previous_higher(y[::-1])[::-1]
    found = []
    for peak in peaks:
        # The lowest point between the peak and the nearest higher sample on
        # each side (or the end); the higher of the two is the peak's base.
        left_base = y[left[peak] + 1:peak + 1].min() if left[peak] >= 0 else y[:peak + 1].min()
        right_base = y[peak:right[peak]].min() if right[peak] < y.size else y[peak:].min()
        if y[peak] - max(left_base, right_base) >= prominence:
            found.append((int(peak), float(y[peak])))
    return found


def _previous_higher(y: Array) -> numpy.typing.NDArray[numpy.int64]:
    """For every index, the nearest index before it whose value is greater,
    or -1."""
    result = numpy.full(y.size, -1, dtype=numpy.int64)
    values = y.tolist()
    stack: List[int] = []
    for index, value in enumerate(values):
        while stack and values[stack[-1]] <= value:
            stack.pop()
        if stack:
            result[index] = stack[-1]
        stack.append(index)
    return result


def _interpolated(wavenumber: Array, values: Array, index: int,
                  reach: int) -> Tuple[float, float]:
    """(centre, height) of the parabola fitted, by least squares, to the
    sample at `index` and `reach` samples on either side of it (at least its
    two neighbours): on a zero-filled spectrum, where a peak spans many
    samples, the fit over half a resolution element averages the noise out
    that the three highest samples alone would follow."""
    first, last = index - reach, index + reach
    if first < 0 or last >= values.size or not numpy.all(numpy.isfinite(values[first:last + 1])):
        first, last = index - 1, index + 1
        if first < 0 or last >= values.size or not numpy.all(
                numpy.isfinite(values[first:last + 1])):
            return float(wavenumber[index]), float(values[index])
    step = wavenumber[index + 1] - wavenumber[index]
    offsets = numpy.arange(first - index, last - index + 1, dtype=numpy.float64)
    curvature, slope, top = numpy.polyfit(offsets, values[first:last + 1], 2)
    if curvature >= 0.0:
        return float(wavenumber[index]), float(values[index])
    # The vertex, kept within the fitted samples.
    vertex = float(numpy.clip(-slope / (2.0 * curvature), offsets[0], offsets[-1]))
    return (float(wavenumber[index] + vertex * step),
            float(top + slope * vertex + curvature * vertex * vertex))
