"""Python binding of nadixq, the data-acquisition library of an FTIR
spectrometer, through ctypes, with the spectra that its interferograms give
(numpy; matplotlib for pictures).

The shared library is not part of this package. It is taken from the
environment variable NADIXQ_LIBRARY when that is set; otherwise from this
package's folder, the source tree's build/ folder, or the system loader
(libnadixq.so.0, nadixq.dll). It is loaded on first use.

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

The library holds one instrument per process: one Spectrometer may be open
at a time. Runs that go wrong raise (RunFailedError, RunTimeoutError,
StreamError); the package logs through logging.getLogger("nadixq").

The command line is python3 -m nadixq acquire | spectrum | plot.
"""

import logging as _logging

from ._version import __version__
from .errors import (ErrorCode, InstrumentBusyError, NadixqError, RunFailedError,
                     RunTimeoutError, StreamError)
from .processing import (BASELINE_LINEAR, BASELINE_MEAN, baseline_correct_ifg, burst_index,
                         find_zpd, gaussian_apodize)
from .instrument import (FIBER_FRAME_WORDS, GAINS, RESOLUTION_ROWS, STATUS_ACQUIRING,
                         STATUS_READY, STATUS_UNOPENED, Interferogram, Progress, Spectrometer)
from .fourier import (ABSORBANCE, FOLDING_WAVENUMBER, HENE_WAVENUMBER, SAMPLING_WAVENUMBER,
                      SINGLE_BEAM, TRANSMITTANCE, Spectrum, absorbance, spectrum, transmittance)
from .bands import find_bands
from . import apodization, jcamp, sim, spc

__all__ = [
    "__version__",
    "ErrorCode", "NadixqError", "RunFailedError", "RunTimeoutError", "StreamError",
    "InstrumentBusyError",
    "Spectrometer", "Interferogram", "Progress",
    "STATUS_UNOPENED", "STATUS_READY", "STATUS_ACQUIRING", "FIBER_FRAME_WORDS", "GAINS",
    "RESOLUTION_ROWS",
    "find_zpd", "burst_index", "baseline_correct_ifg", "gaussian_apodize", "BASELINE_LINEAR",
    "BASELINE_MEAN",
    "Spectrum", "spectrum", "transmittance", "absorbance", "find_bands", "HENE_WAVENUMBER",
    "SAMPLING_WAVENUMBER", "FOLDING_WAVENUMBER", "SINGLE_BEAM", "TRANSMITTANCE", "ABSORBANCE",
    "apodization", "jcamp", "sim", "spc", "library_path",
]


# A library's logger stays silent until the application configures logging.
_logging.getLogger("nadixq").addHandler(_logging.NullHandler())


def library_path() -> str:
    """Path of the loaded shared library (loading it if needed)."""
    from ._library import library
    return library().path
