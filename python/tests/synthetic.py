"""Interferograms of known spectra, made with numpy, for the spectrum tests."""

import numpy

import nadixq

# The sampling wavenumber (1 / sample spacing) of the interferograms.
LASER = nadixq.SAMPLING_WAVENUMBER
PERIOD = 65536  # samples of the transform the interferograms are cut from


def grid():
    """The wavenumbers of the transform's bins."""
    return numpy.arange(PERIOD // 2 + 1) * (LASER / PERIOD)


def broad_band(wavenumber):
    """A smooth spectrum of two broad bands: its interferogram has died out
    within a few tens of samples of the zero path difference."""
    return (numpy.exp(-((wavenumber - 2000.0) / 500.0) ** 2) +
            0.5 * numpy.exp(-((wavenumber - 4500.0) / 700.0) ** 2))


def interferogram(points, zpd, spectrum=None, shift=0.0, phase=0.0, scale=1e4):
    """`points` samples of the interferogram of `spectrum` (on grid(); the
    broad band by default) whose zero path difference lies at sample
    `zpd` + `shift` (a linear phase when `shift` is a fraction) with a
    constant `phase` (radians) on top, scaled to `scale` at the zero path
    difference of the phase-free interferogram."""
    values = broad_band(grid()) if spectrum is None else spectrum
    bins = numpy.arange(values.size)
    rotated = values * numpy.exp(-2j * numpy.pi * bins * shift / PERIOD + 1j * phase)
    rotated[0], rotated[-1] = rotated[0].real, rotated[-1].real
    full = numpy.fft.irfft(rotated, PERIOD)
    peak = numpy.fft.irfft(values, PERIOD)[0]  # the same for every shift and phase
    return scale * numpy.roll(full / peak, zpd)[:points], values
