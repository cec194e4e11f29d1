"""Finding and loading the shared library, and the prototypes of its exports.

ctypes knows nothing of the C header, so every export is declared here once:
without a restype a double result would be read as an int, and without
argtypes a Python float passed for a double would be passed as garbage.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import threading
from typing import Any, Dict, List, Optional, Sequence, Tuple

_WINDOWS = sys.platform == "win32"
_LIBRARY_FILE = "nadixq.dll" if _WINDOWS else "libnadixq.so"
_SYSTEM_NAME = "nadixq.dll" if _WINDOWS else "libnadixq.so.0"

c_int = ctypes.c_int
c_double = ctypes.c_double
c_void_p = ctypes.c_void_p
c_ushort = ctypes.c_ushort
c_uint_p = ctypes.POINTER(ctypes.c_uint)
c_double_p = ctypes.POINTER(ctypes.c_double)

# name: (restype, argtypes)
_EXPORTS: Dict[str, Tuple[Any, List[Any]]] = {
    # Settings.
    "spectrometer_setGain": (c_double, [c_double]),
    "spectrometer_getGain": (c_double, []),
    "spectrometer_setResolution": (c_double, [c_double]),
    "spectrometer_getResolution": (c_double, []),
    "spectrometer_setPoints": (c_int, [c_int]),
    "spectrometer_getPoints": (c_int, []),
    "spectrometer_setScans": (c_int, [c_int]),
    "spectrometer_getScans": (c_int, []),
    "spectrometer_setFiles": (c_int, [c_int]),
    "spectrometer_getFiles": (c_int, []),
    # Events, status and progress.
    "spectrometer_setScanCompleteEventHandle": (c_int, [c_void_p]),
    "spectrometer_setCoaddCompleteEventHandle": (c_int, [c_void_p]),
    "spectrometer_getStatus": (c_int, []),
    "spectrometer_getScanProgress": (c_int, []),
    "spectrometer_getFileProgress": (c_int, []),
    "spectrometer_execute": (c_int, [c_int]),
    # Instrument.
    "spectrometer_open": (c_int, [c_int]),
    "spectrometer_close": (c_int, []),
    "spectrometer_initialize": (c_int, []),
    "spectrometer_calibrationScan": (c_int, []),
    "spectrometer_getCapabilities": (c_int, []),
    # Run.
    "spectrometer_startCoadd": (c_int, []),
    "spectrometer_stop": (c_int, []),
    "spectrometer_getData": (c_int, [c_double_p, c_int, c_double_p]),
    "spectrometer_getTimestamp": (c_double, []),
    "spectrometer_streamToDisk": (c_int, [ctypes.c_char_p]),
    # Board input and output.
    "spectrometer_writeFiber": (c_int, [c_uint_p]),
    "spectrometer_readFiber": (c_int, [c_uint_p]),
    "spectrometer_writeAux": (c_int, [c_ushort, c_ushort]),
}

# The processing functions have C++ linkage, so they are found under their
# decorated names: the Itanium names of Linux and 64-bit Windows builds first,
# then the names the 32-bit DLL's export table carries.
_PROCESSING: Dict[str, Tuple[Tuple[str, str], Tuple[Any, List[Any]]]] = {
    "FindZPD": (("_Z7FindZPDPdiiii", "?FindZPD@@YGHPANHHHH@Z"),
                (c_int, [c_double_p, c_int, c_int, c_int, c_int])),
    "BaselineCorrectIfg": (("_Z18BaselineCorrectIfgPdii", "?BaselineCorrectIfg@@YGHPANHH@Z"),
                           (c_int, [c_double_p, c_int, c_int])),
    "GaussianApodize": (("_Z15GaussianApodizePdid", "?GaussianApodize@@YGHPANHN@Z"),
                        (c_int, [c_double_p, c_int, c_double])),
}

# Control of the simulated instrument; only POSIX builds of the library have it.
_SIMULATOR: Dict[str, Tuple[Any, List[Any]]] = {
    "nadixq_sim_reset": (None, []),
    "nadixq_sim_set_board_type": (None, [c_int]),
    "nadixq_sim_set_scan_rate": (None, [c_double, c_double]),
    "nadixq_sim_set_noise": (None, [c_double]),
    "nadixq_sim_set_seed": (None, [ctypes.c_uint64]),
    "nadixq_sim_set_calibration_error": (None, [c_int]),
    "nadixq_sim_fail_request": (None, [ctypes.c_uint32, c_int, ctypes.c_uint32, c_int]),
    "nadixq_sim_error_at_scan": (None, [c_int]),
    "nadixq_sim_set_sample_in_beam": (None, [c_int]),
    "nadixq_sim_unplug": (None, []),
    "nadixq_sim_scan_count": (c_int, []),
    "nadixq_sim_imax_pos": (c_int, []),
    "nadixq_sim_aux_state": (ctypes.c_uint, []),
    "nadixq_sim_last_transfer": (c_int, [c_int, ctypes.POINTER(ctypes.c_int16), c_int]),
}


class Library:
    """The loaded library with every export declared, as attributes named
    like the C functions (FindZPD and friends under their plain names)."""

    def __init__(self, path: str) -> None:
        # WinDLL: the exports use the standard calling convention there.
        loader: Any = getattr(ctypes, "WinDLL") if _WINDOWS else ctypes.CDLL
        self.path = path
        self._dll = loader(path)
        for name, (restype, argtypes) in _EXPORTS.items():
            setattr(self, name, _declare(getattr(self._dll, name), restype, argtypes))
        for name, (symbols, (restype, argtypes)) in _PROCESSING.items():
            setattr(self, name, _declare(self._find(symbols, name), restype, argtypes))
        # The simulator's functions are optional: a Windows DLL has none.
        self.has_simulator: bool = True
        for name, (restype, argtypes) in _SIMULATOR.items():
            try:
                function = getattr(self._dll, name)
            except AttributeError:
                self.has_simulator = False
                break
            setattr(self, name, _declare(function, restype, argtypes))

    def __getattr__(self, name: str) -> Any:
        # Only reached for a name that no export declared above.
        raise AttributeError("%s has no export %s" % (self.path, name))

    def _find(self, symbols: Sequence[str], name: str) -> Any:
        for symbol in symbols:
            try:
                return getattr(self._dll, symbol)
            except AttributeError:
                continue
        raise OSError("%s exports no %s (looked for %s)" % (self.path, name, ", ".join(symbols)))


def _declare(function: Any, restype: Any, argtypes: List[Any]) -> Any:
    function.restype = restype
    function.argtypes = argtypes
    return function


def candidates() -> List[str]:
    """Where the library is looked for, in order: NADIXQ_LIBRARY alone when it
    is set; otherwise next to this package, the source tree's build folder,
    and last whatever the system loader finds."""
    explicit = os.environ.get("NADIXQ_LIBRARY")
    if explicit:
        # A path given on purpose is used or fails; falling back to another
        # copy would hide which library the program really runs against.
        return [explicit]
    package = os.path.dirname(os.path.abspath(__file__))
    tree = os.path.dirname(os.path.dirname(package))
    found = [
        os.path.join(package, _LIBRARY_FILE),
        os.path.join(tree, "build", _LIBRARY_FILE),
    ]
    found = [path for path in found if os.path.isfile(path)]
    # Installed: the runtime name the system loader resolves (the SONAME on
    # Linux), also where ldconfig's cache does not know the library yet.
    system = ctypes.util.find_library("nadixq")
    if system:
        found.append(system)
    found.append(_SYSTEM_NAME)
    return found


_lock = threading.Lock()
_library: Optional[Library] = None


def library() -> Library:
    """The process's one loaded library (loaded on first use)."""
    global _library
    with _lock:
        if _library is None:
            errors = []
            for path in candidates():
                try:
                    _library = Library(path)
                    break
                except OSError as error:
                    errors.append("%s: %s" % (path, error))
            else:
                raise OSError(
                    "cannot load the nadixq library: the Python package does not bring it "
                    "(pip installs the Python code only). Install the library so that the "
                    "system loader finds %s (the project's package, or make install and "
                    "ldconfig), or set NADIXQ_LIBRARY to the library's path. Tried: %s"
                    % (_SYSTEM_NAME, "; ".join(errors)))
        return _library
