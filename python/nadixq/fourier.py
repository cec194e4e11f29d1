"""Spectra from interferograms: the single-beam spectrum of one interferogram
on a wavenumber axis, and the transmittance and absorbance of a sample
against a background.

The interferogram is sampled at zero crossings of the reference laser's
fringes. Neighbouring samples lie 1 / sampling_wavenumber cm apart in optical
path difference, and the spectrum reaches up to sampling_wavenumber / 2 (the
folding wavenumber). Zero crossings of a laser of wavenumber L lie 1 / (2 L)
apart: an instrument that samples at every zero crossing has the sampling
wavenumber 2 L, one that samples once per fringe L. The default,
15798.0378 cm^-1, is the simulated instrument's, twice the folding
wavenumber 7899.0189 cm^-1 that the library's SPC stream files carry as
their last X value. The chain, as spectrum() runs it:

1. the offset is removed: the library's baseline correction, taking off the
   mean of all points (a spectrum that is zero at 0 cm^-1 gives an
   interferogram of mean zero; the means of the two ends, which the linear
   correction uses, still carry the burst's ringing and would leave a spike
   at 0 cm^-1 that reaches a few resolution elements into the spectrum);
2. the zero path difference (ZPD): the library's FindZPD finds the centre
   burst's zero crossing, the burst's largest sample next to it is taken as
   the centre, and the slope of the phase of the double-sided part around it
   places the ZPD to a fraction of a sample, when it lies within half a
   sample of the centre (as it does for a burst that the phase slope
   describes); otherwise the centre sample stays the ZPD;
3. the samples are weighted by the apodization window, which falls from 1 at
   the ZPD to its end value at the last sample, and (Mertz) by a ramp that
   rises from 0 to 1 across the double-sided part, so that the samples on
   both sides of the ZPD count once together;
4. the weighted samples are zero filled and transformed with numpy's FFT;
5. Mertz phase correction: the phase spectrum of the double-sided part
   (PHASE_POINTS either side of the ZPD, Hann window) is removed from
   the transform, whose real part is the spectrum. phase="magnitude" takes
   the modulus instead, of a symmetric part around the ZPD only, which for
   the library's single-sided interferograms (256 points before the ZPD)
   gives a spectrum of low resolution.

The values are in the interferogram's units times samples (the transform's
sum over both sides of the ZPD).
"""

from __future__ import annotations

import datetime
import math
from typing import Any, Optional, Sequence, Tuple, Union

import numpy
import numpy.typing

from . import apodization as _apodization
from .instrument import FINEST_POINTS_ASKED, FINEST_POINTS_HELD
from .processing import BASELINE_MEAN, baseline_correct_ifg, find_zpd, largest_near

Array = numpy.typing.NDArray[numpy.float64]

# The helium-neon reference laser: 632.99 nm in air, as a wavenumber in cm^-1.
HENE_WAVENUMBER = 15798.0
#: The folding wavenumber (cm^-1) of the library's interferograms: the last
#: X value of its SPC stream files.
FOLDING_WAVENUMBER = 7899.0189
#: The sampling wavenumber (cm^-1, 1 / sample spacing) of the simulated
#: instrument and of the SPC files' X range: twice the folding wavenumber.
SAMPLING_WAVENUMBER = 2.0 * FOLDING_WAVENUMBER
#: The resolution (cm^-1) of the library's row for each point count.
NOMINAL_RESOLUTIONS = {FINEST_POINTS_HELD: 0.5, FINEST_POINTS_ASKED: 0.5, 16384: 1.0, 8192: 2.0,
                       4096: 4.0, 2048: 8.0, 1024: 16.0}

# Points on either side of the ZPD that the phase is measured from.
PHASE_POINTS = 256
ZERO_FILL_FACTORS = (1, 2, 4, 8)
PHASE_MODES = ("mertz", "magnitude")

SINGLE_BEAM = "single-beam"
TRANSMITTANCE = "transmittance"
ABSORBANCE = "absorbance"

# Where the background falls below this share of its largest value (outside
# the band the optics pass, where only noise is left) the ratio of two
# spectra is not a measurement: transmittance and absorbance are NaN there.
NOISE_FLOOR = 0.01

# The sub-sample ZPD moves the centre by at most this many samples.
_MOST_REFINEMENT = 0.5
# Fewer points than this on the short side leave no usable phase.
_MIN_PHASE_POINTS = 16


class Spectrum:
    """A spectrum on an ascending wavenumber axis.

    `wavenumber` (cm^-1) and `values` are float64 numpy arrays of one length.
    `kind` is "single-beam" (values in the interferogram's counts times
    samples: arbitrary units), "transmittance" (a ratio) or "absorbance"
    (decadic). `resolution` (cm^-1) is the computed one, the reciprocal of
    the largest optical path difference used; `nominal_resolution` the
    library's row that the interferogram's point count belongs to (4.0 for
    4096 points; None for a count of no row), the value to report as the
    resolution asked for. The processing parameters that made it are kept as
    `apodization`, `zero_fill`, `phase` and `sampling_wavenumber` (cm^-1);
    `zpd` is the zero path difference in the interferogram's samples (the
    burst's largest sample refined to a fraction) and `time` the
    interferogram's time (an aware datetime) when it had one.
    """

    def __init__(self, wavenumber: numpy.typing.ArrayLike, values: numpy.typing.ArrayLike,
                 resolution: float, kind: str = SINGLE_BEAM, apodization: Optional[str] = None,
                 zero_fill: Optional[int] = None, phase: Optional[str] = None,
                 sampling_wavenumber: float = SAMPLING_WAVENUMBER, zpd: Optional[float] = None,
                 time: Optional[datetime.datetime] = None,
                 nominal_resolution: Optional[float] = None) -> None:
        self.wavenumber: Array = numpy.asarray(wavenumber, dtype=numpy.float64)
        self.values: Array = numpy.asarray(values, dtype=numpy.float64)
        if self.wavenumber.ndim != 1 or self.wavenumber.shape != self.values.shape:
            raise ValueError("wavenumber and values must be one-dimensional and of one length")
        self.resolution = float(resolution)
        self.nominal_resolution = nominal_resolution
        self.kind = kind
        self.apodization = apodization
        self.zero_fill = zero_fill
        self.phase = phase
        self.sampling_wavenumber = float(sampling_wavenumber)
        self.zpd = zpd
        self.time = time

    @property
    def laser_wavenumber(self) -> float:
        """The wavenumber (cm^-1) of a laser whose every zero crossing gave a
        sample: half the sampling wavenumber."""
        return self.sampling_wavenumber / 2.0

    @property
    def timestamp(self) -> Optional[datetime.datetime]:
        """The same as `time` (the name of earlier versions)."""
        return self.time

    @timestamp.setter
    def timestamp(self, value: Optional[datetime.datetime]) -> None:
        self.time = value

    def __len__(self) -> int:
        return int(self.values.size)

    def __repr__(self) -> str:
        return "<nadixq.Spectrum %s, %d points, %.4g to %.4g cm^-1, resolution %s>" % (
            self.kind, len(self), self.wavenumber[0] if len(self) else 0.0,
            self.wavenumber[-1] if len(self) else 0.0, resolution_text(self))

    def between(self, low: float, high: float) -> "Spectrum":
        """The part from `low` to `high` cm^-1 (both included, either order)."""
        low, high = min(low, high), max(low, high)
        inside = (self.wavenumber >= low) & (self.wavenumber <= high)
        return self._with(self.wavenumber[inside], self.values[inside], self.kind)

    def _with(self, wavenumber: Array, values: Array, kind: str) -> "Spectrum":
        return Spectrum(wavenumber, values, self.resolution, kind, self.apodization,
                        self.zero_fill, self.phase, self.sampling_wavenumber, self.zpd,
                        self.time, self.nominal_resolution)


def resolution_text(spectrum: Spectrum) -> str:
    """The resolution as the user asked for it, with the computed value
    beside it: "4 cm^-1 (1/OPD 4.12 cm^-1)"."""
    if spectrum.nominal_resolution is None:
        return "%.3g cm^-1 (1/OPD)" % spectrum.resolution
    return "%g cm^-1 (1/OPD %.3g cm^-1)" % (spectrum.nominal_resolution, spectrum.resolution)


def spectrum(ifg: Any, apodization: str = "happ-genzel", zero_fill: int = 2,
             phase: str = "mertz", sampling_wavenumber: float = SAMPLING_WAVENUMBER,
             laser_wavenumber: Optional[float] = None) -> Spectrum:
    """The single-beam spectrum of the interferogram `ifg` (a sequence of
    numbers, or an Interferogram, whose time the spectrum keeps).

    `apodization` names the window (nadixq.apodization.NAMES), `zero_fill`
    (1, 2, 4 or 8) how many times the transform is longer than the smallest
    power of two that holds both sides of the interferogram, `phase` is
    "mertz" or "magnitude". `sampling_wavenumber` (cm^-1) is 1 / the sample
    spacing in optical path difference: the spectrum's axis runs to half of
    it. `laser_wavenumber` (cm^-1), given instead, is the reference laser's
    wavenumber on an instrument that samples at every zero crossing of its
    fringes, which lie half a wavelength apart: the sampling wavenumber is
    then twice it (15798 cm^-1 for a HeNe laser gives 31596 cm^-1). The
    interferogram is not changed. Raises NadixqError (code -3) when FindZPD
    finds no centre burst."""
    samples, stamp = _samples_of(ifg)
    _apodization.check(apodization)
    if isinstance(zero_fill, bool) or zero_fill not in ZERO_FILL_FACTORS:
        raise ValueError("zero_fill must be one of %s, not %r" % (ZERO_FILL_FACTORS, zero_fill))
    zero_fill = int(zero_fill)
    if phase not in PHASE_MODES:
        raise ValueError("phase must be one of %s, not %r" % (PHASE_MODES, phase))
    if laser_wavenumber is not None:
        if sampling_wavenumber != SAMPLING_WAVENUMBER:
            raise ValueError("give sampling_wavenumber or laser_wavenumber, not both")
        sampling = 2.0 * _positive("laser_wavenumber", laser_wavenumber)
    else:
        sampling = _positive("sampling_wavenumber", sampling_wavenumber)

    values = numpy.array(samples, dtype=numpy.float64)  # a copy, corrected in place
    if values.ndim != 1 or values.size < 4 * _MIN_PHASE_POINTS:
        raise ValueError("an interferogram is a one-dimensional sequence of at least %d values"
                         % (4 * _MIN_PHASE_POINTS))
    if not numpy.all(numpy.isfinite(values)):
        raise ValueError("the interferogram holds values that are not finite")
    baseline_correct_ifg(values, BASELINE_MEAN)
    centre = largest_near(values, find_zpd(values))
    count = int(values.size)
    half = min(PHASE_POINTS, centre, count - 1 - centre)
    if half < _MIN_PHASE_POINTS:
        raise ValueError("the centre burst lies %d points from the interferogram's end; the phase "
                         "needs %d on either side" % (min(centre, count - 1 - centre),
                                                      _MIN_PHASE_POINTS))

    zpd = _refine_centre(values, centre, half)
    if phase == "mertz":
        # The long side, and the short one as far as the ramp reaches.
        reach = (count - 1) - zpd
        first, last = centre - half, count - 1
        size = _power_of_two_at_least(max(2.0 * reach, last - first + 1.0))
    else:
        # A symmetric part: as far on either side as the short side goes. The
        # two ends would meet in the transform's buffer; the last one is left.
        reach = min(zpd, (count - 1) - zpd)
        size = _power_of_two_at_least(2.0 * reach)
        first = int(math.ceil(zpd - reach))
        last = min(int(math.floor(zpd + reach)), first + size - 1)
    size *= zero_fill

    index = numpy.arange(first, last + 1)
    offset = index - zpd
    weights = _apodization.window(apodization, offset / reach)
    if phase == "mertz":
        weights *= numpy.clip((offset + half) / (2.0 * half), 0.0, 1.0)
    transform = numpy.fft.rfft(_placed(values[first:last + 1] * weights, first - centre, size))
    if phase == "mertz":
        rotation = _phase_spectrum(values, centre, zpd, half, size)
        modulus = numpy.abs(rotation)
        rotation = numpy.divide(rotation, modulus, out=numpy.ones_like(rotation),
                                where=modulus > 0.0)
        result = 2.0 * (transform * numpy.conj(rotation)).real
    else:
        result = numpy.abs(transform)

    wavenumber = numpy.arange(size // 2 + 1) * (sampling / size)
    return Spectrum(wavenumber, result, sampling / reach, SINGLE_BEAM, apodization, zero_fill,
                    phase, sampling, zpd, stamp, NOMINAL_RESOLUTIONS.get(count))


def _positive(name: str, value: Any) -> float:
    if isinstance(value, (bool, str, bytes)):
        raise TypeError("%s must be a number of cm^-1, not %r" % (name, value))
    number = float(value)
    if not (math.isfinite(number) and number > 0.0):
        raise ValueError("%s must be a positive number of cm^-1, not %r" % (name, value))
    return number


def transmittance(sample: Spectrum, background: Spectrum,
                  noise_floor: float = NOISE_FLOOR) -> Spectrum:
    """The transmittance sample / background of two single-beam spectra on
    the same axis, as a Spectrum. NaN where the background lies below
    `noise_floor` times its largest value."""
    _check_same_axis(sample, background)
    reference = background.values
    floor = noise_floor * numpy.nanmax(numpy.abs(reference)) if reference.size else 0.0
    usable = reference > floor
    ratio = numpy.full(reference.shape, numpy.nan)
    numpy.divide(sample.values, reference, out=ratio, where=usable)
    return sample._with(sample.wavenumber, ratio, TRANSMITTANCE)


def absorbance(sample: Spectrum, background: Spectrum,
               noise_floor: float = NOISE_FLOOR) -> Spectrum:
    """The decadic absorbance -log10(sample / background) of two single-beam
    spectra on the same axis, as a Spectrum. NaN, never infinite, where the
    background lies below the noise floor (see transmittance()) or the
    sample is not above zero."""
    ratio = transmittance(sample, background, noise_floor).values
    result = numpy.full(ratio.shape, numpy.nan)
    with numpy.errstate(invalid="ignore"):
        positive = ratio > 0.0  # NaN is not
    numpy.log10(ratio, out=result, where=positive)
    numpy.negative(result, out=result, where=positive)
    return sample._with(sample.wavenumber, result, ABSORBANCE)


def _samples_of(ifg: Any) -> Tuple[Any, Optional[datetime.datetime]]:
    """The values of an interferogram and its time (a datetime or None)."""
    if isinstance(ifg, numpy.ndarray) or not hasattr(ifg, "values"):
        return ifg, None
    stamp = getattr(ifg, "time", None)
    return ifg.values, stamp if isinstance(stamp, datetime.datetime) else None


def _check_same_axis(first: Any, second: Any) -> None:
    for item in (first, second):
        if not isinstance(item, Spectrum):
            raise TypeError("a nadixq.Spectrum is required, not %s" % type(item).__name__)
    if first.wavenumber.shape != second.wavenumber.shape or \
            not numpy.array_equal(first.wavenumber, second.wavenumber):
        raise ValueError("the two spectra lie on different wavenumber axes (compute both with the "
                         "same points, zero_fill and sampling_wavenumber)")


def _power_of_two_at_least(length: float) -> int:
    return 1 << max(1, int(math.ceil(math.log2(max(length, 2.0)))))


def _placed(weighted: Array, start: int, size: int) -> Array:
    """A transform buffer of `size` with `weighted` laid out from index
    `start` on (negative indices wrap round to the end)."""
    buffer = numpy.zeros(size)
    buffer[numpy.arange(start, start + weighted.size) % size] = weighted
    return buffer


def _phase_spectrum(values: Array, centre: int, zpd: float, half: int,
                    size: int) -> numpy.typing.NDArray[numpy.complex128]:
    """The transform of the double-sided part within `half` points of the
    ZPD at `zpd`, laid out with `centre` at index 0. Its window, a Hann
    window centred on the ZPD, is smooth everywhere: a kink at the ZPD (a
    triangle's) would bend the phase of a burst that lies between samples."""
    index = numpy.arange(centre - half, centre + half + 1)
    weights = 0.5 + 0.5 * numpy.cos(numpy.pi * numpy.clip((index - zpd) / half, -1.0, 1.0))
    return numpy.fft.rfft(_placed(values[index] * weights, -half, size))


def _refine_centre(values: Array, centre: int, half: int) -> float:
    """The ZPD to a fraction of a sample: where the double-sided part's phase
    has no slope left. A part symmetric about a point x0 has the transform
    R(k) exp(-2 pi i k (x0 - centre) / size) with R real, so the mean angle
    between neighbouring bins gives x0.

    The burst's largest sample lies within half a sample of the ZPD of any
    interferogram whose phase is a slope; a slope that points further away
    is a phase that a shift does not describe (dispersion, noise), and
    moving the centre by it would scale the low-resolution part of the
    spectrum. The centre sample then stays the ZPD."""
    size = _power_of_two_at_least(8.0 * half)
    zpd = float(centre)
    for _ in range(3):
        transform = _phase_spectrum(values, centre, zpd, half, size)
        turn = numpy.sum(transform[2:] * numpy.conj(transform[1:-1]))
        if turn == 0:
            break
        shift = float(-size * numpy.angle(turn) / (2.0 * numpy.pi))
        if abs(shift) > _MOST_REFINEMENT:
            return float(centre)
        zpd = centre + shift
    return zpd
