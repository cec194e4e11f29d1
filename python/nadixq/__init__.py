"""Python binding of nadixq, the data-acquisition library of an FTIR
spectrometer, through ctypes (no third-party dependency).

The shared library is taken from the environment variable NADIXQ_LIBRARY
when it is set; otherwise from this package's folder, the source tree's
build/ folder, or the system loader. It is loaded on first use.

    import nadixq

    with nadixq.Spectrometer(1) as s:
        s.points, s.scans, s.files = 1024, 4, 2
        s.initialize()
        s.calibrate()
        s.start()
        while s.wait_for_file(10.0):
            values, stamp = s.get_data()
"""

from .errors import NadixqError
from .processing import (BASELINE_LINEAR, BASELINE_MEAN, baseline_correct_ifg, find_zpd,
                         gaussian_apodize)
from .instrument import (FIBER_FRAME_WORDS, STATUS_ACQUIRING, STATUS_READY, STATUS_UNOPENED,
                           Interferogram, Progress, Spectrometer)
from . import sim

__all__ = [
    "NadixqError", "Spectrometer", "Interferogram", "Progress",
    "STATUS_UNOPENED", "STATUS_READY", "STATUS_ACQUIRING", "FIBER_FRAME_WORDS",
    "find_zpd", "baseline_correct_ifg", "gaussian_apodize", "BASELINE_LINEAR", "BASELINE_MEAN",
    "sim", "library_path",
]


def library_path():
    """Path of the loaded shared library (loading it if needed)."""
    from ._library import library
    return library().path
