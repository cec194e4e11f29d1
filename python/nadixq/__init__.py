"""Python binding of nadixq, the data-acquisition library of an FTIR
spectrometer, through ctypes, with the spectra that its interferograms give
(numpy; matplotlib for pictures).

The shared library is taken from the environment variable NADIXQ_LIBRARY
when it is set; otherwise from this package's folder, the source tree's
build/ folder, or the system loader. It is loaded on first use.

    import nadixq

    with nadixq.Spectrometer(1) as s:
        s.resolution, s.scans = 4, 16
        s.initialize()
        s.calibrate()
        nadixq.sim.set_sample_in_beam(False)      # the simulated instrument
        background = nadixq.spectrum(next(s.acquire(files=1)))
        nadixq.sim.set_sample_in_beam(True)
        sample = nadixq.spectrum(next(s.acquire(files=1)))
    bands = nadixq.find_bands(nadixq.absorbance(sample, background))

The command line is python3 -m nadixq acquire | spectrum | plot.
"""

__version__ = "0.1.0"

from .errors import NadixqError
from .processing import (BASELINE_LINEAR, BASELINE_MEAN, baseline_correct_ifg, find_zpd,
                         gaussian_apodize)
from .instrument import (FIBER_FRAME_WORDS, STATUS_ACQUIRING, STATUS_READY, STATUS_UNOPENED,
                         AcquiredFile, Interferogram, Progress, Spectrometer)
from .fourier import (ABSORBANCE, HENE_WAVENUMBER, SINGLE_BEAM, TRANSMITTANCE, Spectrum,
                      absorbance, spectrum, transmittance)
from .bands import find_bands
from . import apodization, jcamp, sim, spc

__all__ = [
    "NadixqError", "Spectrometer", "Interferogram", "AcquiredFile", "Progress",
    "STATUS_UNOPENED", "STATUS_READY", "STATUS_ACQUIRING", "FIBER_FRAME_WORDS",
    "find_zpd", "baseline_correct_ifg", "gaussian_apodize", "BASELINE_LINEAR", "BASELINE_MEAN",
    "Spectrum", "spectrum", "transmittance", "absorbance", "find_bands", "HENE_WAVENUMBER",
    "SINGLE_BEAM", "TRANSMITTANCE", "ABSORBANCE",
    "apodization", "jcamp", "sim", "spc", "library_path",
]


def library_path():
    """Path of the loaded shared library (loading it if needed)."""
    from ._library import library
    return library().path
