"""Spectra from interferograms: the single-beam spectrum of one interferogram
on a wavenumber axis, and the transmittance and absorbance of a sample
against a background.

The interferogram is sampled at the zero crossings of the reference laser's
fringes, so neighbouring samples lie 1 / laser_wavenumber cm apart in optical
path difference and the spectrum reaches up to laser_wavenumber / 2 (the
folding wavenumber). The chain, as spectrum() runs it:

1. the offset is removed: the library's baseline correction, taking off the
   mean of all points (a spectrum that is zero at 0 cm^-1 gives an
   interferogram of mean zero; the means of the two ends, which the linear
   correction uses, still carry the burst's ringing and would leave a spike
   at 0 cm^-1 that reaches a few resolution elements into the spectrum);
2. the zero path difference (ZPD): the library's FindZPD finds the centre
   burst's zero crossing, the burst's largest sample next to it is taken as
   the centre, and the slope of the phase of the double-sided part around it
   places the ZPD to a fraction of a sample;
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

import datetime
import math

import numpy

from . import apodization as _apodization
from .processing import BASELINE_MEAN, baseline_correct_ifg, find_zpd

# The helium-neon reference laser: 632.99 nm in air, as a wavenumber in cm^-1.
HENE_WAVENUMBER = 15798.0

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

# The burst's largest sample lies this close to FindZPD's zero crossing.
_CENTRE_SEARCH = 8
# Fewer points than this on the short side leave no usable phase.
_MIN_PHASE_POINTS = 16


class Spectrum:
    """A spectrum on an ascending wavenumber axis.

    `wavenumber` (cm^-1) and `values` are float64 numpy arrays of one length;
    `kind` is "single-beam", "transmittance" or "absorbance"; `resolution`
    (cm^-1) is the reciprocal of the largest optical path difference used.
    The processing parameters that made it are kept as `apodization`,
    `zero_fill`, `phase` and `laser_wavenumber`; `zpd` is the index of the
    zero path difference in the interferogram (a fraction of a sample) and
    `timestamp` the interferogram's time (a datetime) when it had one.
    """

    def __init__(self, wavenumber, values, resolution, kind=SINGLE_BEAM, apodization=None,
                 zero_fill=None, phase=None, laser_wavenumber=HENE_WAVENUMBER, zpd=None,
                 timestamp=None):
        self.wavenumber = numpy.asarray(wavenumber, dtype=numpy.float64)
        self.values = numpy.asarray(values, dtype=numpy.float64)
        if self.wavenumber.ndim != 1 or self.wavenumber.shape != self.values.shape:
            raise ValueError("wavenumber and values must be one-dimensional and of one length")
        self.resolution = float(resolution)
        self.kind = kind
        self.apodization = apodization
        self.zero_fill = zero_fill
        self.phase = phase
        self.laser_wavenumber = laser_wavenumber
        self.zpd = zpd
        self.timestamp = timestamp

    def __len__(self):
        return len(self.values)

    def __repr__(self):
        return "<nadixq.Spectrum %s, %d points, %.4g to %.4g cm^-1, resolution %.3g cm^-1>" % (
            self.kind, len(self), self.wavenumber[0] if len(self) else 0.0,
            self.wavenumber[-1] if len(self) else 0.0, self.resolution)

    def between(self, low, high):
        """The part from `low` to `high` cm^-1 (both included, either order)."""
        low, high = min(low, high), max(low, high)
        inside = (self.wavenumber >= low) & (self.wavenumber <= high)
        return self._with(self.wavenumber[inside], self.values[inside], self.kind)

    def _with(self, wavenumber, values, kind):
        return Spectrum(wavenumber, values, self.resolution, kind, self.apodization,
                        self.zero_fill, self.phase, self.laser_wavenumber, self.zpd,
                        self.timestamp)


def spectrum(ifg, apodization="happ-genzel", zero_fill=2, phase="mertz",
             laser_wavenumber=HENE_WAVENUMBER):
    """The single-beam spectrum of the interferogram `ifg` (a sequence of
    numbers, or an Interferogram or AcquiredFile, whose time stamp the
    spectrum keeps). `apodization` names the window (nadixq.apodization.NAMES),
    `zero_fill` (1, 2, 4 or 8) how many times the transform is longer than
    the smallest power of two that holds both sides of the interferogram,
    `phase` is "mertz" or "magnitude", `laser_wavenumber` the reference
    laser's wavenumber in cm^-1. The interferogram is not changed. Raises
    NadixqError (code -3) when FindZPD finds no centre burst."""
    samples, timestamp = _samples_of(ifg)
    _apodization.check(apodization)
    if zero_fill not in ZERO_FILL_FACTORS or isinstance(zero_fill, bool):
        raise ValueError("zero_fill must be one of %s, not %r" % (ZERO_FILL_FACTORS, zero_fill))
    zero_fill = int(zero_fill)
    if phase not in PHASE_MODES:
        raise ValueError("phase must be one of %s, not %r" % (PHASE_MODES, phase))
    laser = float(laser_wavenumber)
    if not (math.isfinite(laser) and laser > 0.0):
        raise ValueError("laser_wavenumber must be a positive number, not %r" % laser_wavenumber)

    values = numpy.array(samples, dtype=numpy.float64)  # a copy, corrected in place
    if values.ndim != 1 or values.size < 4 * _MIN_PHASE_POINTS:
        raise ValueError("an interferogram is a one-dimensional sequence of at least %d values"
                         % (4 * _MIN_PHASE_POINTS))
    if not numpy.all(numpy.isfinite(values)):
        raise ValueError("the interferogram holds values that are not finite")
    baseline_correct_ifg(values, BASELINE_MEAN)
    centre = _largest_near(values, find_zpd(values))
    count = values.size
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

    wavenumber = numpy.arange(size // 2 + 1) * (laser / size)
    return Spectrum(wavenumber, result, laser / reach, SINGLE_BEAM, apodization, zero_fill, phase,
                    laser, zpd, timestamp)


def transmittance(sample, background, noise_floor=NOISE_FLOOR):
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


def absorbance(sample, background, noise_floor=NOISE_FLOOR):
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


def _samples_of(ifg):
    """The values of an interferogram and its time stamp (a datetime or None)."""
    if isinstance(ifg, numpy.ndarray) or not hasattr(ifg, "values"):
        return ifg, None
    stamp = getattr(ifg, "time", None)  # an Interferogram
    if stamp is None and isinstance(getattr(ifg, "timestamp", None), datetime.datetime):
        stamp = ifg.timestamp  # an AcquiredFile
    return ifg.values, stamp


def _check_same_axis(first, second):
    for item in (first, second):
        if not isinstance(item, Spectrum):
            raise TypeError("a nadixq.Spectrum is required, not %s" % type(item).__name__)
    if first.wavenumber.shape != second.wavenumber.shape or \
            not numpy.array_equal(first.wavenumber, second.wavenumber):
        raise ValueError("the two spectra lie on different wavenumber axes (compute both with the "
                         "same points, zero_fill and laser_wavenumber)")


def _largest_near(values, crossing):
    """The index of the largest sample (by magnitude) within a few samples of
    the burst's zero crossing."""
    first = max(0, crossing - _CENTRE_SEARCH)
    window = numpy.abs(values[first:crossing + _CENTRE_SEARCH + 1])
    return first + int(numpy.argmax(window))


def _power_of_two_at_least(length):
    return 1 << max(1, int(math.ceil(math.log2(max(length, 2.0)))))


def _placed(weighted, start, size):
    """A transform buffer of `size` with `weighted` laid out from index
    `start` on (negative indices wrap round to the end)."""
    buffer = numpy.zeros(size)
    buffer[numpy.arange(start, start + weighted.size) % size] = weighted
    return buffer


def _phase_spectrum(values, centre, zpd, half, size):
    """The transform of the double-sided part within `half` points of the
    ZPD at `zpd`, laid out with `centre` at index 0. Its window, a Hann
    window centred on the ZPD, is smooth everywhere: a kink at the ZPD (a
    triangle's) would bend the phase of a burst that lies between samples."""
    index = numpy.arange(centre - half, centre + half + 1)
    weights = 0.5 + 0.5 * numpy.cos(numpy.pi * numpy.clip((index - zpd) / half, -1.0, 1.0))
    return numpy.fft.rfft(_placed(values[index] * weights, -half, size))


def _refine_centre(values, centre, half):
    """The ZPD to a fraction of a sample: where the double-sided part's phase
    has no slope left. A part symmetric about a point x0 has the transform
    R(k) exp(-2 pi i k (x0 - centre) / size) with R real, so the mean angle
    between neighbouring bins gives x0."""
    size = _power_of_two_at_least(8.0 * half)
    zpd = float(centre)
    for _ in range(3):
        transform = _phase_spectrum(values, centre, zpd, half, size)
        turn = numpy.sum(transform[2:] * numpy.conj(transform[1:-1]))
        if turn == 0:
            break
        shift = -size * numpy.angle(turn) / (2.0 * numpy.pi)
        # The burst's largest sample lies within half a sample of the ZPD on
        # any interferogram of a real spectrum; more is a phase that the
        # slope does not describe (noise alone), and the sample stays.
        zpd = centre + float(numpy.clip(shift, -1.0, 1.0))
    return zpd
