"""The host event the library signals when a file is complete.

On Linux the library takes an eventfd descriptor as the handle and adds 1 to
it per signal; on Windows a Win32 event handle. Either way the handle value 0
means "no event", so a descriptor must never be 0.
"""

from __future__ import annotations

import ctypes
import os
import select
import sys
from typing import Any

if sys.version_info >= (3, 8):
    from typing import Protocol
else:  # pragma: no cover
    Protocol = object


class Event(Protocol):
    """What the instrument needs of a host event."""

    @property
    def handle(self) -> Any: ...

    def drain(self) -> int: ...

    def wait(self, timeout: float | None) -> int: ...

    def close(self) -> None: ...


class _EventFd:
    def __init__(self) -> None:
        eventfd = getattr(os, "eventfd", None)
        if eventfd is not None:
            fd = int(eventfd(0, _EFD_NONBLOCK | _EFD_CLOEXEC))
        else:
            fd = _libc_eventfd(_EFD_NONBLOCK | _EFD_CLOEXEC)
        if fd == 0:
            # Descriptor 0 (stdin was closed) would read as a null handle and
            # silently switch the signal off: move it (dup takes the lowest
            # free descriptor, and 0 is still taken).
            moved = os.dup(fd)
            os.close(fd)
            fd = moved
        self._fd = fd

    @property
    def handle(self) -> int:
        return self._fd

    def drain(self) -> int:
        """Signals since the last drain (0 when none), and resets the count."""
        try:
            return int(int.from_bytes(os.read(self._fd, 8), sys.byteorder))
        except BlockingIOError:
            return 0

    def wait(self, timeout: float | None) -> int:
        """Waits up to `timeout` seconds (None: no limit) for a signal; returns
        the signals taken (0 on time-out)."""
        poller = select.poll()
        poller.register(self._fd, select.POLLIN)
        # poll retries by itself after a signal handler, with the remaining time.
        poller.poll(None if timeout is None else max(0, int(timeout * 1000 + 0.999)))
        return self.drain()

    def close(self) -> None:
        if self._fd >= 0:
            os.close(self._fd)
            self._fd = -1


# Linux's values, for Pythons before 3.10, which have no os.eventfd.
_EFD_NONBLOCK = 0o4000
_EFD_CLOEXEC = 0o2000000


def _libc_eventfd(flags: int) -> int:
    libc = ctypes.CDLL(None, use_errno=True)
    fd: int = libc.eventfd(ctypes.c_uint(0), ctypes.c_int(flags))
    if fd < 0:
        error = ctypes.get_errno()
        raise OSError(error, os.strerror(error))
    return fd


class _Win32Event:
    _WAIT_OBJECT_0 = 0
    _INFINITE = 0xFFFFFFFF

    def __init__(self) -> None:
        from ctypes import wintypes
        self._k32 = getattr(ctypes, "WinDLL")("kernel32", use_last_error=True)
        self._k32.CreateEventW.restype = wintypes.HANDLE
        self._k32.CreateEventW.argtypes = [ctypes.c_void_p, wintypes.BOOL, wintypes.BOOL,
                                           wintypes.LPCWSTR]
        self._k32.WaitForSingleObject.restype = wintypes.DWORD
        self._k32.WaitForSingleObject.argtypes = [wintypes.HANDLE, wintypes.DWORD]
        self._k32.CloseHandle.argtypes = [wintypes.HANDLE]
        # Auto-reset: a successful wait takes the signal.
        self._handle = self._k32.CreateEventW(None, False, False, None)
        if not self._handle:
            raise getattr(ctypes, "WinError")(getattr(ctypes, "get_last_error")())

    @property
    def handle(self) -> Any:
        return self._handle

    def drain(self) -> int:
        # An event holds one signal however often it was set.
        return 1 if self._k32.WaitForSingleObject(self._handle, 0) == self._WAIT_OBJECT_0 else 0

    def wait(self, timeout: float | None) -> int:
        if timeout is None:
            milliseconds = self._INFINITE
        else:
            milliseconds = min(max(0, int(timeout * 1000 + 0.999)), self._INFINITE - 1)
        result = self._k32.WaitForSingleObject(self._handle, milliseconds)
        return 1 if result == self._WAIT_OBJECT_0 else 0

    def close(self) -> None:
        if self._handle:
            self._k32.CloseHandle(self._handle)
            self._handle = None


def create_event() -> Event:
    if sys.platform == "win32":
        return _Win32Event()
    return _EventFd()
