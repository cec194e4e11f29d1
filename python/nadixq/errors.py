"""The exception of the binding and the human text of the library's results.

The library answers with bare numbers: 1 for a refusal, HRESULT values
(0x8007xxxx) for system failures, board results passed through unchanged. The
same number means different things in different calls (1 from getData is "no
data", from initialize a refused request), so the text is chosen by the step
that failed as well as by the number.
"""

import ctypes
import os
import sys

# Results with a meaning of their own, the same in every step.
NOT_SUPPORTED = 0x80004001
NO_BOARD_CLASS = 0x80070011
DEVICE_NOT_OPENED = 0x8007006E
TRANSFER_FAILED = 0x8007045D

_BOARD_RESULTS = {
    NOT_SUPPORTED: "not supported by this board",
    TRANSFER_FAILED: "the board's driver request failed",
    0x80070005: "the calibration failed",
    0x80070006: "board type mismatch: the driver runs a different board",
    0x20000006: "board type mismatch: the driver runs a different board",
    0x80070007: "the calibration failed with error 1",
    0x80070008: "the calibration failed with error 2",
    0x80070009: "the calibration failed with error 3",
    0x80070012: "the board's driver is out of date",
    0x20000012: "the calibration failed",
}

_STEP_NAMES = {
    "initialize": "initialize",
    "calibrate": "calibration",
    "start": "start",
    "aux": "aux output",
    "fiber": "fiber link",
}


def as_code(result):
    """The result as callers compare it: HRESULTs as their unsigned 32-bit
    value (0x80070011, not -2147024879); small numbers, negative ones
    included (FindZPD's -3), unchanged."""
    if -0x10000 < result < 0x10000:
        return result
    return result & 0xFFFFFFFF


def code_text(code):
    """Small results in decimal, HRESULT-like ones as eight hex digits."""
    if -0x10000 < code < 0x10000:
        return "%d" % code
    return "0x%08X" % (code & 0xFFFFFFFF)


def system_error(code):
    """The system error inside a 0x8007xxxx result, or None."""
    if (code & 0xFFFF0000) == 0x80070000:
        return code & 0xFFFF
    return None


def _system_text(error):
    # On Windows the low 16 bits are a Win32 error; elsewhere the library
    # carries the C library's errno in them.
    if sys.platform == "win32":
        return ctypes.FormatError(error).strip()
    return os.strerror(error)


def describe(step, code, model=None, path=None, points=None):
    """The text of a failed step, without the code."""
    error = system_error(code)
    if step == "open":
        if code == NO_BOARD_CLASS:
            return "no board class for model %s" % model
        if code == DEVICE_NOT_OPENED:
            return "the board for model %s did not open: no device of its interface" % model
        return "opening model %s failed" % model
    if step == "stream":
        if error:
            return "cannot create the stream file %s: %s" % (path, _system_text(error))
        if code == 1:
            return "the streamed run did not start (is a run still going?)"
        return "cannot create the stream file %s" % path
    if step == "data":
        return "no finished file of %s points is ready" % points
    if step == "zpd":
        return "no zero-path-difference point: the window holds no single zero crossing " \
               "between its extremes"
    if step == "apodize":
        return "the window width is outside 1e-10 to 1e10 points"

    name = _STEP_NAMES.get(step, step)
    board = _BOARD_RESULTS.get(code)
    if board:
        return "%s: %s" % (name, board)
    if code == 1:
        if step == "start":
            return "the run did not start (is a run still going?)"
        return "%s refused, or its driver request failed" % name
    if error is not None:
        return "%s failed with system error %d" % (name, error)
    return "%s failed" % name


class NadixqError(Exception):
    """A failure result of the library.

    `code` is the result as the library returned it (HRESULTs as unsigned
    32-bit values), `step` the operation that failed ("open", "initialize",
    "calibrate", "start", "stream", "data", "aux", "fiber", "zpd",
    "apodize"), `system_error` the system error inside a 0x8007xxxx result
    or None. str() gives the text with the code, e.g.
    "no board class for model 7 (0x80070011)".
    """

    def __init__(self, step, result, **context):
        self.code = as_code(result)
        self.step = step
        self.system_error = system_error(self.code)
        self.text = describe(step, self.code, **context)
        super().__init__("%s (%s)" % (self.text, code_text(self.code)))
