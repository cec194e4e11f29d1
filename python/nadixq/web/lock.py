"""One server per instrument: an advisory lock on a file in the user's
runtime folder, named after the board model, held while the server runs.
The system drops it when the process ends, however it ends."""

from __future__ import annotations

import os
import sys
import tempfile
from typing import Optional


class InstrumentLockedError(RuntimeError):
    pass


def lock_folder() -> str:
    return os.environ.get("XDG_RUNTIME_DIR") or tempfile.gettempdir()


class InstrumentLock:
    def __init__(self, model: int) -> None:
        self.model = model
        self.path = os.path.join(lock_folder(), "nadixq-model%d.lock" % model)
        self._fd: Optional[int] = None

    def acquire(self) -> None:
        """Takes the lock or raises InstrumentLockedError naming the holder."""
        fd = os.open(self.path, os.O_RDWR | os.O_CREAT, 0o600)
        try:
            if sys.platform == "win32":
                import msvcrt
                msvcrt.locking(fd, msvcrt.LK_NBLCK, 1)
            else:
                import fcntl
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except OSError:
            holder = os.read(fd, 64).decode(errors="replace").strip() or "unknown"
            os.close(fd)
            raise InstrumentLockedError(
                "model %d is already served by another nadixq server (process %s; lock file %s)"
                % (self.model, holder, self.path)) from None
        if sys.platform != "win32":  # the locked byte stays as it is there
            os.ftruncate(fd, 0)
            os.write(fd, b"%d\n" % os.getpid())
        self._fd = fd

    def release(self) -> None:
        if self._fd is not None:
            os.close(self._fd)
            self._fd = None
