"""The binding's exceptions and the human text of the library's results.

The library answers with bare numbers: 1 for a refusal, HRESULT values
(0x8007xxxx) for system failures, board results passed through unchanged. The
same number means different things in different calls (1 from getData is "no
data", from initialize a refused request), so the text is chosen by the step
that failed as well as by the number.

Every exception of the binding is a NadixqError. A run that ends other than
by its file count or by the caller raises RunFailedError (RunTimeoutError when
acquire()'s time-out ran out); a streamed run whose file lost subfiles raises
StreamError after the run's files were delivered; a second open instrument
raises InstrumentBusyError. Bad settings are a ValueError (a value outside
what the library takes) or a TypeError (not a number), never a NadixqError.
"""

from __future__ import annotations

import ctypes
import enum
import os
import sys
from typing import Dict, Optional, Union


class ErrorCode(enum.IntEnum):
    """The library's results with a meaning of their own, as unsigned 32-bit
    values (HRESULTs), and FindZPD's -3: the NADIXQ_ results of nadixq.h by
    the same names, and two of the binding's (TIMEOUT, FILE_NOT_FOUND). A
    NadixqError's `code` is one of these where the number is known, a plain
    int otherwise."""

    OK = 0
    #: Refused: no device open, no run, a run still going, or no matching data.
    REFUSED = 1
    #: FindZPD found no single zero crossing between the burst's extremes.
    NO_ZPD = -3
    #: The board does not support the operation.
    NOT_IMPLEMENTED = 0x80004001
    #: System error 2 (ENOENT / ERROR_FILE_NOT_FOUND) in HRESULT form.
    FILE_NOT_FOUND = 0x80070002
    #: The single boards' calibration request failed.
    CALIBRATION_FAILED = 0x80070005
    #: The driver runs a different board than the one opened.
    BOARD_MISMATCH = 0x80070006
    CALIBRATION_ERROR_1 = 0x80070007
    CALIBRATION_ERROR_2 = 0x80070008
    CALIBRATION_ERROR_3 = 0x80070009
    #: Out of memory (E_OUTOFMEMORY): open, stream_to_disk.
    OUT_OF_MEMORY = 0x8007000E
    #: The model number names no board class.
    NO_BOARD_CLASS = 0x80070011
    #: The board's driver is out of date.
    DRIVER_OUT_OF_DATE = 0x80070012
    #: The board's device did not open (no device of its interface).
    OPEN_FAILED = 0x8007006E
    #: A driver request (a transfer, a fiber frame) failed.
    TRANSFER_FAILED = 0x8007045D
    #: Made by this binding, not the library: acquire()'s time-out ran out
    #: (system error 1460, ERROR_TIMEOUT, in HRESULT form).
    TIMEOUT = 0x800705B4
    #: The dual boards' calibration failed.
    DUAL_CALIBRATION_FAILED = 0x20000012
    #: The dual boards' driver runs a different board.
    DUAL_BOARD_MISMATCH = 0x20000006


# The names this module had before ErrorCode; kept for callers that use them.
NOT_SUPPORTED = int(ErrorCode.NOT_IMPLEMENTED)
NO_BOARD_CLASS = int(ErrorCode.NO_BOARD_CLASS)
DEVICE_NOT_OPENED = int(ErrorCode.OPEN_FAILED)
TRANSFER_FAILED = int(ErrorCode.TRANSFER_FAILED)


def _read_board_results() -> Dict[int, str]:
    """The texts of the board results that mean the same in every step, from
    the table the acquisition command builds in too: one "NAME text" a line,
    NAME an ErrorCode member."""
    table: Dict[int, str] = {}
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), "board_results.txt")
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            if line.strip() and not line.startswith("#"):
                name, text = line.split(None, 1)
                table[ErrorCode[name]] = text.strip()
    return table


_BOARD_RESULTS = _read_board_results()

_STEP_NAMES = {
    "initialize": "initialize",
    "calibrate": "calibration",
    "start": "start",
    "aux": "aux output",
    "fiber": "fiber link",
}


def as_code(result: int) -> Union[ErrorCode, int]:
    """The result as callers compare it: HRESULTs as their unsigned 32-bit
    value (0x80070011, not -2147024879), an ErrorCode where the number is
    known; small numbers, negative ones included (FindZPD's -3), unchanged."""
    if not -0x10000 < result < 0x10000:
        result &= 0xFFFFFFFF
    try:
        return ErrorCode(result)
    except ValueError:
        return result


def code_text(code: int) -> str:
    """Small results in decimal, HRESULT-like ones as eight hex digits."""
    if -0x10000 < code < 0x10000:
        return "%d" % code
    return "0x%08X" % (code & 0xFFFFFFFF)


def system_error(code: int) -> Optional[int]:
    """The system error inside a 0x8007xxxx result, or None."""
    if (code & 0xFFFF0000) == 0x80070000:
        return code & 0xFFFF
    return None


def system_text(error: int) -> str:
    """The system's text of a system error number."""
    # On Windows the low 16 bits are a Win32 error; elsewhere the library
    # carries the C library's errno in them.
    if sys.platform == "win32":
        return ctypes.FormatError(error).strip()
    return os.strerror(error)


def describe(step: str, code: int, model: Optional[int] = None, path: Optional[str] = None,
             points: Optional[int] = None, cause: Optional[str] = None) -> str:
    """The text of a failed step, without the code. `cause` is what the
    binding found out about a refusal (code 1) that the library does not
    say."""
    error = system_error(code)
    if step == "open":
        if code == ErrorCode.NO_BOARD_CLASS:
            return "no board class for model %s" % model
        if code == ErrorCode.OPEN_FAILED:
            return "the board for model %s did not open: no device of its interface" % model
        if code == ErrorCode.OUT_OF_MEMORY:
            return "opening model %s failed: out of memory" % model
        return "opening model %s failed" % model
    if step == "stream":
        if code == ErrorCode.OUT_OF_MEMORY:
            return "cannot create the stream file %s: out of memory" % path
        if error:
            return "cannot create the stream file %s: %s" % (path, system_text(error))
        if code == ErrorCode.REFUSED:
            return "the streamed run did not start: %s" % (cause or "the library refused it")
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
    if code == ErrorCode.REFUSED:
        if step == "start":
            return "the run did not start: %s" % (cause or "the library refused it")
        return "%s refused%s" % (name, ": %s" % cause if cause else
                                 ", or its driver request failed")
    if error is not None:
        return "%s failed with system error %d" % (name, error)
    return "%s failed" % name


class NadixqError(Exception):
    """A failure of the instrument or of a library call.

    `code` is the result as the library returned it (HRESULTs as unsigned
    32-bit values; an ErrorCode where the number is known), `step` the
    operation that failed ("open", "initialize", "calibrate", "start",
    "stream", "data", "aux", "fiber", "zpd", "apodize", "run"),
    `system_error` the system error inside a 0x8007xxxx result or None,
    `text` the message without the code. str() gives the text with the code,
    e.g. "no board class for model 7 (0x80070011)".
    """

    code: Union[ErrorCode, int]
    step: str
    system_error: Optional[int]
    text: str

    def __init__(self, step: str, result: int, text: Optional[str] = None,
                 model: Optional[int] = None, path: Optional[str] = None,
                 points: Optional[int] = None, cause: Optional[str] = None) -> None:
        self.code = as_code(result)
        self.step = step
        self.system_error = system_error(self.code)
        self.text = text if text is not None else describe(step, self.code, model=model,
                                                           path=path, points=points, cause=cause)
        super().__init__("%s (%s)" % (self.text, code_text(self.code)))


class InstrumentBusyError(NadixqError):
    """A Spectrometer was opened while another one is open in this process.
    The library drives one instrument per process: close the first (or
    leave its with-block) before opening the next. `code` is REFUSED."""

    def __init__(self, model: int, open_model: int) -> None:
        super().__init__("open", ErrorCode.REFUSED,
                         text="cannot open model %d: model %d is already open in this process "
                              "(the library holds one instrument per process; close it first)"
                              % (model, open_model))


class RunFailedError(NadixqError):
    """A run that ended other than by its file count or by the caller.

    `reason` says why: "device failure" (the board failed during the run),
    "no file stored: ..." (files were completed but none could be read),
    "not initialized for these settings" (the points or gain changed since
    initialize()), "no file started: ..." (the run ended before its first
    scan), or "timeout" (RunTimeoutError). `files_delivered` is the number of
    files the run gave before it ended (all of them were yielded),
    `files_expected` the run's file count (0: until stopped), `status` the
    library's status after the end, `code` the library's result (REFUSED
    where the library reported none), `detail` the library's own line about
    the fault from its log file, or "".
    """

    reason: str
    files_delivered: int
    files_expected: int
    status: int
    detail: str

    def __init__(self, reason: str, files_delivered: int, files_expected: int, status: int,
                 result: int = ErrorCode.REFUSED, detail: str = "") -> None:
        self.reason = reason
        self.files_delivered = files_delivered
        self.files_expected = files_expected
        self.status = status
        self.detail = detail
        expected = "of %d " % files_expected if files_expected > 0 else ""
        text = "the run failed after %d %sfiles: %s" % (files_delivered, expected, reason)
        if detail:
            text += " (library: %s)" % detail
        super().__init__("run", result, text=text)


class RunTimeoutError(RunFailedError):
    """acquire(timeout=...) ran out: no file came within `timeout` seconds.
    The run was stopped. `reason` is "timeout"."""

    timeout: float

    def __init__(self, timeout: float, files_delivered: int, files_expected: int,
                 status: int) -> None:
        self.timeout = timeout
        super().__init__("timeout", files_delivered, files_expected, status, ErrorCode.TIMEOUT,
                         detail="")
        self.text = "no file within %g s after %d files; the run was stopped" % (
            timeout, files_delivered)
        self.args = ("%s (%s)" % (self.text, code_text(self.code)),)


class StreamError(NadixqError):
    """A streamed run whose file ended early (a full disk, a write error):
    the file at `path` is a valid SPC file that keeps `subfiles` subfiles,
    fewer than the `files_delivered` files the run gave (all of which were
    yielded before this was raised). `reason` is the system's error text
    from the library's log line, or "" when the library gave none."""

    subfiles: int
    files_delivered: int
    path: str
    reason: str

    def __init__(self, path: str, subfiles: int, files_delivered: int, reason: str,
                 result: int = ErrorCode.REFUSED) -> None:
        self.path = path
        self.subfiles = subfiles
        self.files_delivered = files_delivered
        self.reason = reason
        text = "the stream file %s ended early: it keeps %d of the run's %d files" % (
            path, subfiles, files_delivered)
        if reason:
            text += ": %s" % reason
        super().__init__("stream", result, text=text)
