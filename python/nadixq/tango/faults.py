"""How the device server reports a refused call: a DevFailed whose reason
names the kind of failure and whose description carries the library's result
and text, so that a client can tell a wrong request from a failing board."""

from typing import NoReturn

import tango  # type: ignore[import]

from ..errors import NadixqError

REFUSED = "NADIXQ_REFUSED"
SYSTEM_ERROR = "NADIXQ_SYSTEM_ERROR"
BAD_VALUE = "NADIXQ_BAD_VALUE"
DEVICE_FAILURE = "NADIXQ_DEVICE_FAILURE"


def reason_of(error: BaseException) -> str:
    """The DevFailed reason for an exception raised by the package."""
    if isinstance(error, (ValueError, TypeError)):
        return BAD_VALUE
    if isinstance(error, OSError):
        return SYSTEM_ERROR
    if isinstance(error, NadixqError):
        if error.step == "stream" and getattr(error, "system_error", None):
            return SYSTEM_ERROR  # the file system refused the run's file
        if error.code == 1:
            return REFUSED
        return DEVICE_FAILURE
    return DEVICE_FAILURE


def describe(error: BaseException) -> str:
    """The text of an exception, with the library's result where it has one
    (NadixqError's text already ends with it)."""
    if isinstance(error, OSError) and error.strerror:
        where = " (%s)" % error.filename if error.filename else ""
        return "%s%s, errno %d" % (error.strerror, where, error.errno or 0)
    return str(error) or type(error).__name__


def throw(reason: str, text: str, origin: str) -> NoReturn:
    tango.Except.throw_exception(reason, text, origin)
    raise AssertionError("throw_exception returned")  # it raises DevFailed


def throw_from(error: BaseException, origin: str) -> NoReturn:
    """Raises the DevFailed that stands for `error`."""
    throw(reason_of(error), describe(error), origin)
