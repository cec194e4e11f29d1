"""Control of the simulated instrument that POSIX builds of the library use
in place of the board's driver: its timing, noise and faults, and the ground
truth of what it delivered. All functions may be called at any time, also
while a run is going. A library without the simulator (a Windows DLL) raises
RuntimeError.
"""

import ctypes

from ._library import library

# Board type that follows the board class talking to the simulated board.
ADAPTIVE_BOARD_TYPE = -1
# Win32 error every request fails with once the board is unplugged.
ERROR_NOT_CONNECTED = 1167


def _sim():
    lib = library()
    if not lib.has_simulator:
        raise RuntimeError("%s has no simulated instrument" % lib.path)
    return lib


def available():
    """Whether the loaded library carries the simulated instrument."""
    return library().has_simulator


def reset():
    """Everything back to the defaults: timing, noise, seed, the film in the
    beam, no faults, plugged in, scan counter 0. Open devices stay open."""
    _sim().nadixq_sim_reset()


def set_board_type(board_type):
    _sim().nadixq_sim_set_board_type(board_type)


def set_scan_rate(samples_per_second, turnaround_ms=0.0):
    """A scan of n points takes n / samples_per_second seconds plus
    turnaround_ms; 0 or less keeps a parameter at its default."""
    _sim().nadixq_sim_set_scan_rate(samples_per_second, turnaround_ms)


def set_noise(sigma_counts):
    _sim().nadixq_sim_set_noise(sigma_counts)


def set_seed(seed):
    _sim().nadixq_sim_set_seed(seed)


def set_calibration_error(error_value):
    _sim().nadixq_sim_set_calibration_error(error_value)


def fail_request(code, after_calls, error, times=0):
    """Requests with control code `code` fail with Win32 error `error` after
    `after_calls` more successes, `times` times (0: from then on)."""
    _sim().nadixq_sim_fail_request(code, after_calls, error, times)


def error_at_scan(n):
    _sim().nadixq_sim_error_at_scan(n)


def set_sample_in_beam(in_beam):
    """Puts the polystyrene film into the beam (True, the default) or takes
    it out (False) from the next scan on: a run with the film out records a
    background. reset() puts it back."""
    _sim().nadixq_sim_set_sample_in_beam(1 if in_beam else 0)


def unplug():
    _sim().nadixq_sim_unplug()


def scan_count():
    """Scans delivered since the last reset."""
    return _sim().nadixq_sim_scan_count()


def imax_pos():
    """Sample index of the centre burst in every transfer."""
    return _sim().nadixq_sim_imax_pos()


def aux_state():
    """The aux output word as last written."""
    return _sim().nadixq_sim_aux_state()


def last_transfer(channel=0, count=32768):
    """Samples of the last delivered scan (channel 0: low-gain or only
    converter, 1: high-gain), as a list; empty before the first scan."""
    block = (ctypes.c_int16 * count)()
    copied = _sim().nadixq_sim_last_transfer(channel, block, count)
    return list(block[:copied])
