"""Control of the simulated instrument that POSIX builds of the library use
in place of the board's driver: its timing, noise and faults, and the ground
truth of what it delivered. All functions may be called at any time, also
while a run is going. A library without the simulator (a Windows DLL) raises
RuntimeError.
"""

from __future__ import annotations

import ctypes as _ctypes
from typing import List

from ._library import Library, library

__all__ = ["ADAPTIVE_BOARD_TYPE", "ERROR_NOT_CONNECTED", "available", "reset", "set_board_type",
           "set_scan_rate", "set_noise", "set_seed", "set_calibration_error", "fail_request",
           "error_at_scan", "set_sample_in_beam", "unplug", "scan_count", "imax_pos",
           "aux_state", "last_transfer"]

# Board type that follows the board class talking to the simulated board.
ADAPTIVE_BOARD_TYPE = -1
# Win32 error every request fails with once the board is unplugged.
ERROR_NOT_CONNECTED = 1167


def _sim() -> Library:
    lib = library()
    if not lib.has_simulator:
        raise RuntimeError("%s has no simulated instrument" % lib.path)
    return lib


def available() -> bool:
    """Whether the loaded library carries the simulated instrument."""
    return bool(library().has_simulator)


def reset() -> None:
    """Everything back to the defaults: timing, noise, seed, the film in the
    beam, no faults, plugged in, scan counter 0. Open devices stay open."""
    _sim().nadixq_sim_reset()


def set_board_type(board_type: int) -> None:
    """The board type the simulated board reports to calibration
    (ADAPTIVE_BOARD_TYPE, -1: whichever the board class talking to it
    expects; another value makes calibration report a mismatch)."""
    _sim().nadixq_sim_set_board_type(board_type)


def set_scan_rate(samples_per_second: float, turnaround_ms: float = 0.0) -> None:
    """A scan of n points takes n / samples_per_second seconds plus
    turnaround_ms; 0 or less keeps a parameter at its default."""
    _sim().nadixq_sim_set_scan_rate(samples_per_second, turnaround_ms)


def set_noise(sigma_counts: float) -> None:
    """The white noise added to every sample: its standard deviation in
    converter counts (0: noiseless; the default 1.5)."""
    _sim().nadixq_sim_set_noise(sigma_counts)


def set_seed(seed: int) -> None:
    """The seed of the noise (an unsigned 64-bit number): the same seed gives
    the same samples."""
    _sim().nadixq_sim_set_seed(seed)


def set_calibration_error(error_value: int) -> None:
    """The error value that calibrations report from now on (0: success;
    a board turns others into its calibration failure results)."""
    _sim().nadixq_sim_set_calibration_error(error_value)


def fail_request(code: int, after_calls: int, error: int, times: int = 0) -> None:
    """Requests with control code `code` fail with Win32 error `error` after
    `after_calls` more successes, `times` times (0: from then on)."""
    _sim().nadixq_sim_fail_request(code, after_calls, error, times)


def error_at_scan(n: int) -> None:
    """The `n`-th scan to complete from now on (1: the next) is not
    delivered: its transfer reports I_ERROR, and the run fails there. Once;
    0 or less cancels."""
    _sim().nadixq_sim_error_at_scan(n)


def set_sample_in_beam(in_beam: bool) -> None:
    """Puts the polystyrene film into the beam (True, the default) or takes
    it out (False) from the next scan on: a run with the film out records a
    background. reset() puts it back."""
    _sim().nadixq_sim_set_sample_in_beam(1 if in_beam else 0)


def unplug() -> None:
    """Unplugs the board: from now on every request, and every open, fails
    with ERROR_NOT_CONNECTED; a run going fails at its next poll. reset()
    plugs it in again."""
    _sim().nadixq_sim_unplug()


def scan_count() -> int:
    """Scans delivered since the last reset."""
    return int(_sim().nadixq_sim_scan_count())


def imax_pos() -> int:
    """Sample index of the centre burst in every transfer."""
    return int(_sim().nadixq_sim_imax_pos())


def aux_state() -> int:
    """The aux output word as last written."""
    return int(_sim().nadixq_sim_aux_state())


def last_transfer(channel: int = 0, count: int = 32768) -> List[int]:
    """Samples of the last delivered scan (channel 0: low-gain or only
    converter, 1: high-gain), as a list; empty before the first scan."""
    block = (_ctypes.c_int16 * count)()
    copied = _sim().nadixq_sim_last_transfer(channel, block, count)
    return list(block[:copied])
