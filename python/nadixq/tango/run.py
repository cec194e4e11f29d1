"""One run of the device in a thread of its own, so that the command that
started it returns as soon as the library has taken it."""

import contextlib
import threading
import time
from typing import Callable, Generator, Optional

from ..instrument import Interferogram, Spectrometer

# How often the scans of the current file are looked at while a run goes on:
# well under the shortest scan (a few milliseconds on the simulated board).
_SCAN_WATCH_SECONDS = 0.005
_STOP_RECHECK_SECONDS = 0.05


class Run:
    """Follows the run `files` (what spectrometer.acquire() returned, its
    files streamed to `path`) of `spectrometer` and calls
    `on_file(ifg, files_done, arrived)` for every file (arrived: when it came,
    in s since 1970), `on_scans(scans_done)` when
    the scans of the current file change, and `on_end(files_done, error)`
    once when the run is over (error None when it ended by its count or by
    stop()). The callbacks run on the run's threads."""

    def __init__(self, spectrometer: Spectrometer, kind: str, path: str,
                 files: Generator[Interferogram, None, None],
                 on_file: Callable[[Interferogram, int, float], None],
                 on_scans: Callable[[int], None],
                 on_end: Callable[[int, Optional[BaseException]], None]) -> None:
        self.kind = kind
        self._files = files
        self.path = path
        self._spectrometer = spectrometer
        self._on_file = on_file
        self._on_scans = on_scans
        self._on_end = on_end
        self._over = threading.Event()
        self._stopped = False
        self._thread = threading.Thread(target=self._follow, name="nadixq run", daemon=True)
        self._watch = threading.Thread(target=self._watch_scans, name="nadixq scans", daemon=True)

    def start(self) -> None:
        # The watch first: a run that ends at once joins it on its way out.
        self._watch.start()
        self._thread.start()

    @property
    def stopped(self) -> bool:
        """Whether stop() ended the run."""
        return self._stopped

    def stop(self, timeout: float) -> bool:
        """Stops the run (bounded as the library's stop is) and waits up to
        `timeout` seconds for its threads. Returns whether they ended."""
        self._stopped = True
        deadline = time.monotonic() + timeout
        while True:
            # Again until the thread ends: a stop that came before the thread
            # had started the library's run would leave that run going.
            self._spectrometer.stop()
            if self.join(_STOP_RECHECK_SECONDS) or time.monotonic() > deadline:
                return not self._thread.is_alive()

    def join(self, timeout: float) -> bool:
        for thread in (self._thread, self._watch):
            if thread is not threading.current_thread():
                thread.join(timeout)
        return not (self._thread.is_alive() or self._watch.is_alive())

    def _follow(self) -> None:
        done, error = 0, None  # type: int, Optional[BaseException]
        try:
            with contextlib.closing(self._files) as files:
                for ifg in files:
                    done += 1
                    self._on_file(ifg, done, time.time())
        except Exception as failure:  # reported to the device, which sets its state
            error = failure
        finally:
            self._over.set()
            self._watch.join()
            self._on_end(done, error)

    def _watch_scans(self) -> None:
        seen: Optional[int] = None
        while not self._over.wait(_SCAN_WATCH_SECONDS):
            scans = self._spectrometer.scan_progress
            if scans != seen:
                seen = scans
                self._on_scans(scans)
