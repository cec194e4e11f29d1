"""One server per instrument: an advisory lock on a file in the user's
runtime folder, named after the board model, held while the server runs.
The system drops it when the process ends, however it ends."""

import os
import tempfile

try:
    import fcntl
except ImportError:  # Windows
    fcntl = None
    import msvcrt


class InstrumentLockedError(RuntimeError):
    pass


def lock_folder():
    return os.environ.get("XDG_RUNTIME_DIR") or tempfile.gettempdir()


class InstrumentLock:
    def __init__(self, model):
        self.model = model
        self.path = os.path.join(lock_folder(), "nadixq-model%d.lock" % model)
        self._fd = None

    def acquire(self):
        """Takes the lock or raises InstrumentLockedError naming the holder."""
        fd = os.open(self.path, os.O_RDWR | os.O_CREAT, 0o600)
        try:
            if fcntl is not None:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            else:
                msvcrt.locking(fd, msvcrt.LK_NBLCK, 1)
        except OSError:
            holder = os.read(fd, 64).decode(errors="replace").strip() or "unknown"
            os.close(fd)
            raise InstrumentLockedError(
                "model %d is already served by another nadixq server (process %s; lock file %s)"
                % (self.model, holder, self.path)) from None
        if fcntl is not None:
            os.ftruncate(fd, 0)
            os.write(fd, b"%d\n" % os.getpid())
        self._fd = fd

    def release(self):
        if self._fd is not None:
            os.close(self._fd)
            self._fd = None
