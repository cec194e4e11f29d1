"""The instrument as a Python object.

The library drives one instrument per process and keeps its settings in
process-wide state. The binding makes that visible: at most one Spectrometer
is open at a time (opening a second one raises InstrumentBusyError), and a
new Spectrometer starts from the library's defaults, whatever an earlier one
set.
"""

from __future__ import annotations

import atexit
import ctypes
import datetime
import logging
import math
import numbers
import os
import re
import threading
import time
import warnings
import weakref
from typing import Any, Generator, List, NamedTuple, Optional, Sequence, Tuple

import numpy
import numpy.typing

from ._events import create_event, Event
from ._library import Library, library
from .errors import (ErrorCode, InstrumentBusyError, NadixqError, RunFailedError,
                     RunTimeoutError, StreamError)
from .processing import burst_index

_log = logging.getLogger("nadixq")

STATUS_UNOPENED = 1
STATUS_READY = 4
STATUS_ACQUIRING = 64

FIBER_FRAME_WORDS = 16

# The library's settings when it is loaded, which every new instrument
# starts from.
DEFAULT_GAIN = 1.0
DEFAULT_RESOLUTION = 1.0
DEFAULT_SCANS = 16
DEFAULT_FILES = 1

#: The gain multiples the boards have.
GAINS = (1.0, 2.0, 4.0)
#: The finest resolution the library has a row for, in cm^-1.
FINEST_RESOLUTION = 0.5
#: The library's resolution rows: (row in cm^-1, points), finest first; a
#: resolution runs as the first row it is not coarser than, and anything
#: coarser than 16 cm^-1 as 512 points.
#: The point count that stands for the finest setting, and the points it
#: holds: nadixq.h's NADIXQ_MAX_POINTS and NADIXQ_FINEST_POINTS.
FINEST_POINTS_ASKED = 32768
FINEST_POINTS_HELD = 30000
RESOLUTION_ROWS = ((0.5, FINEST_POINTS_HELD), (1.0, 16384), (2.0, 8192), (4.0, 4096),
                   (8.0, 2048), (16.0, 1024), (math.inf, 512))
#: The most points the library stores in a file, other than the finest setting.
MAX_POINTS = 32767
#: Scans and files are 32-bit signed ints in the library.
MAX_COUNT = 2 ** 31 - 1

# While a run goes on, a wait for a file looks at the status this often, so
# that a run ending without a further file (a failure, a stop from another
# thread) does not leave the caller waiting for its whole time-out.
_RUN_END_CHECK_SECONDS = 0.1

# acquire()'s default time-out for one file: a generous multiple of the
# file's time on a slow board (this sample rate and turnaround per scan),
# never less than the floor.
_SLOW_SAMPLE_RATE = 10000.0
_SLOW_TURNAROUND_SECONDS = 0.1
_TIMEOUT_MULTIPLE = 20.0
_TIMEOUT_FLOOR_SECONDS = 30.0

# The library's own log file, in the host's current directory, and the line
# the scan thread leaves there when the stream file ended early.
LOG_FILE_NAME = "nadixq_log.txt"
_STREAM_ENDED = re.compile(r"nadixq scanThread: stream ended after (\d+) subfiles: (.*?)"
                           r"(?: \((0x[0-9A-Fa-f]+)\))?\s*$")
_FAULT_LINE = re.compile(r"\berror\b", re.IGNORECASE)
_LOG_PREFIX = re.compile(r"^\[[^\]]*\]\s*")
# At most this much of the log written during a run is read back.
_LOG_TAIL_BYTES = 1 << 20


class Progress(NamedTuple):
    """Scans done in the current file, files done in the current run."""

    scans: int
    files: int


def _utc(milliseconds: float) -> datetime.datetime:
    return datetime.datetime.fromtimestamp(milliseconds / 1000.0, datetime.timezone.utc)


class Interferogram:
    """One file's averaged interferogram, as get_data() and acquire() give it.

    `values`: float64 numpy array, in the converter's counts (the scans'
    mean). `milliseconds`: the file's time stamp, milliseconds since
    1970-01-01 UTC as the library's clock gives it (the time of the file's
    first scan; a performance counter anchored to the wall clock when the
    instrument was opened, to well under a millisecond). `time`: the same
    stamp as an aware datetime in UTC. `index`: the file's 0-based index in
    its run (None for get_data() outside acquire()). `zpd`: the index of the
    centre burst's largest sample (by magnitude) after the mean is taken
    off, next to the library's FindZPD crossing; None when there is no
    burst. Computed on first use.
    """

    __slots__ = ("values", "milliseconds", "index", "_zpd")

    values: numpy.typing.NDArray[numpy.float64]
    milliseconds: float
    index: Optional[int]

    def __init__(self, values: numpy.typing.ArrayLike, milliseconds: float,
                 index: Optional[int] = None) -> None:
        self.values = numpy.asarray(values, dtype=numpy.float64)
        self.milliseconds = float(milliseconds)
        self.index = index
        self._zpd: Optional[Tuple[Optional[int]]] = None

    @property
    def time(self) -> datetime.datetime:
        """The time stamp as an aware datetime in UTC."""
        return _utc(self.milliseconds)

    @property
    def zpd(self) -> Optional[int]:
        """Index of the centre burst's largest sample, or None (no burst)."""
        if self._zpd is None:
            try:
                self._zpd = (burst_index(self.values),)
            except NadixqError:
                self._zpd = (None,)
        return self._zpd[0]

    def __len__(self) -> int:
        return int(self.values.size)

    def __repr__(self) -> str:
        index = "" if self.index is None else "file %d, " % self.index
        return "<nadixq.Interferogram %s%d points, %s>" % (
            index, self.values.size, self.time.isoformat(timespec="milliseconds"))


# The open instrument, held weakly so that one dropped without close() is
# still collected (and closed, with a ResourceWarning).
_open_lock = threading.RLock()
_open_ref: Optional["weakref.ref[Spectrometer]"] = None


def _open_instance() -> Optional["Spectrometer"]:
    instance = _open_ref() if _open_ref is not None else None
    return instance if instance is not None and not instance.closed else None


class Spectrometer:
    """The open instrument of model `model` (1 to 5).

    The library holds one instrument per process: settings belong to the
    process, and only one Spectrometer may be open at a time. Opening a
    second one while the first is open raises InstrumentBusyError; close the
    first (or leave its with-block) first. A new Spectrometer starts from the
    library's defaults (gain 1, resolution 1 cm^-1 = 16384 points, 16 scans,
    1 file), not from an earlier object's settings. One dropped without
    close() is closed when it is collected, with a ResourceWarning.

    Use it as a context manager::

        with nadixq.Spectrometer(1) as s:
            s.resolution, s.scans = 4, 16
            s.initialize()
            s.calibrate()
            for ifg in s.acquire(files=3):
                print(ifg.index, ifg.time, ifg.zpd)

    Settings are checked where they are set (ValueError, TypeError) and reach
    the board at initialize(); a run whose points or gain changed since then
    raises RunFailedError ("not initialized for these settings"). Every run
    that ends other than by its count or by the caller raises RunFailedError;
    failure results of the library raise NadixqError.

    Threads: during acquire() (or a run started with start()) another thread
    may call stop(), close(), and read status, acquiring, scan_progress,
    file_progress, progress and the settings. Everything else belongs to the
    thread that runs the acquisition. A setting changed during a run takes
    effect at the next run.
    """

    def __init__(self, model: int = 1) -> None:
        global _open_ref
        self._event: Optional[Event] = None  # first: __del__ looks at it
        self._closing = False
        self.model: int = _integer("model", model)
        self._lib: Library = library()
        self._event_lock = threading.Lock()
        # The library takes start, stop, close and a read of the data from one
        # thread at a time (close frees what a read or a stop works on).
        self._control = threading.RLock()
        self._stop_requested = False
        # (points, gain) as the last successful initialize() sent them.
        self._initialized: Optional[Tuple[int, float]] = None
        with _open_lock:
            current = _open_instance()
            if current is not None:
                # One already unreachable but not yet collected is no owner.
                del current
                import gc
                gc.collect()
                current = _open_instance()
                if current is not None:
                    raise InstrumentBusyError(self.model, current.model)
            lib = self._lib
            lib.spectrometer_setGain(DEFAULT_GAIN)
            lib.spectrometer_setResolution(DEFAULT_RESOLUTION)
            lib.spectrometer_setScans(DEFAULT_SCANS)
            lib.spectrometer_setFiles(DEFAULT_FILES)
            event = create_event()
            result = lib.spectrometer_open(self.model)
            if result != 0:
                # A board that failed to open stays attached to the library
                # until the next close; release it now rather than at some
                # later open.
                lib.spectrometer_close()
                event.close()
                raise NadixqError("open", result, model=self.model)
            self._event = event
            lib.spectrometer_setCoaddCompleteEventHandle(event.handle)
            _open_ref = weakref.ref(self)
        _log.info("opened model %d", self.model)

    def __enter__(self) -> "Spectrometer":
        self._check_open()
        return self

    def __exit__(self, *exception: object) -> None:
        self.close()

    def __del__(self) -> None:
        if getattr(self, "_event", None) is not None:
            warnings.warn("unclosed nadixq.Spectrometer of model %d: closing it" % self.model,
                          ResourceWarning, source=self)
            self.close()

    def __repr__(self) -> str:
        if self.closed:
            return "<nadixq.Spectrometer model %s, closed>" % self.model
        return ("<nadixq.Spectrometer model %s, open: resolution %g cm^-1, %d points, %d scans, "
                "%d files, gain %g>" % (self.model, self.resolution, self.points, self.scans,
                                        self.files, self.gain))

    @property
    def closed(self) -> bool:
        return self._event is None

    def close(self) -> None:
        """Stops a run that is still going and closes the instrument. A stream
        file still open is completed and closed. Closing twice does nothing.
        May be called from another thread while acquire() runs, which then
        ends normally."""
        global _open_ref
        with _open_lock:
            if self._event is None:
                return
            self._closing = True
            with self._control:
                self._lib.spectrometer_close()
            # Only once the scan thread is gone may the descriptor go: a
            # signal into a closed (and perhaps reused) descriptor would land
            # in someone else's file. A wait in another thread gives it up
            # within one status check.
            self._lib.spectrometer_setCoaddCompleteEventHandle(None)
            with self._event_lock:
                event, self._event = self._event, None
                event.close()
            if _open_ref is not None and _open_ref() is self:
                _open_ref = None
        _log.info("closed model %d", self.model)

    # Settings. Stored only; they reach the board at initialize() and start().

    @property
    def gain(self) -> float:
        """Gain multiple of the board's amplifier: 1, 2 or 4. Sent to the
        board by initialize()."""
        return float(self._lib.spectrometer_getGain())

    @gain.setter
    def gain(self, value: float) -> None:
        gain = _real("gain", value)
        if gain not in GAINS:
            raise ValueError("gain must be one of 1, 2 or 4 (the board's gains), not %r" % (value,))
        self._lib.spectrometer_setGain(gain)

    @property
    def resolution(self) -> float:
        """Spectral resolution in cm^-1, finite and 0.5 or coarser. Setting
        it also sets the points: each value runs as the library's row it
        falls in, the finest row it is not coarser than::

            resolution r (cm^-1)   row    points
            r = 0.5                0.5    30000 (reported as 32768)
            0.5 < r <= 1           1      16384
            1 < r <= 2             2      8192
            2 < r <= 4             4      4096
            4 < r <= 8             8      2048
            8 < r <= 16            16     1024
            r > 16                 > 16   512

        Reading gives the value set, not the row."""
        return float(self._lib.spectrometer_getResolution())

    @resolution.setter
    def resolution(self, value: float) -> None:
        resolution = _real("resolution", value)
        if not (math.isfinite(resolution) and resolution >= FINEST_RESOLUTION):
            raise ValueError(
                "resolution must be a finite number of cm^-1 from 0.5 up, not %r; the library's "
                "rows are 0.5, 1, 2, 4, 8, 16 and coarser than 16 cm^-1 (30000, 16384, 8192, "
                "4096, 2048, 1024 and 512 points)" % (value,))
        self._lib.spectrometer_setResolution(resolution)

    @property
    def points(self) -> int:
        """Points per interferogram as the library reports them: 32768
        stands for the finest setting, which holds 30000. Setting it takes 1
        to 32767, or 32768 for the finest setting; the resolution is not
        changed."""
        return int(self._lib.spectrometer_getPoints())

    @points.setter
    def points(self, value: int) -> None:
        points = _integer("points", value)
        if points == FINEST_POINTS_ASKED:
            # The library stores a file of at most 32767 values; 32768 names
            # the finest setting, whose files hold 30000.
            points = FINEST_POINTS_HELD
        elif not 1 <= points <= MAX_POINTS:
            raise ValueError("points must be 1 to %d, or %d for the finest setting (30000 "
                             "points), not %d: the library cannot store other counts"
                             % (MAX_POINTS, FINEST_POINTS_ASKED, points))
        self._lib.spectrometer_setPoints(points)

    @property
    def scans(self) -> int:
        """Scans co-added into one file, 1 to 2**31 - 1."""
        return int(self._lib.spectrometer_getScans())

    @scans.setter
    def scans(self, value: int) -> None:
        self._lib.spectrometer_setScans(_count("scans", value, 1))

    @property
    def files(self) -> int:
        """Files per run, 0 to 2**31 - 1; 0 runs until stop()."""
        return int(self._lib.spectrometer_getFiles())

    @files.setter
    def files(self, value: int) -> None:
        self._lib.spectrometer_setFiles(_count("files", value, 0))

    # State.

    @property
    def status(self) -> int:
        """STATUS_READY (4) or STATUS_ACQUIRING (64)."""
        return int(self._lib.spectrometer_getStatus())

    @property
    def acquiring(self) -> bool:
        """Whether a run is going."""
        return self.status == STATUS_ACQUIRING

    @property
    def scan_progress(self) -> int:
        """Scans done in the current file."""
        return int(self._lib.spectrometer_getScanProgress())

    @property
    def file_progress(self) -> int:
        """Files done in the current run (files without scans included)."""
        return int(self._lib.spectrometer_getFileProgress())

    @property
    def progress(self) -> Progress:
        """Scans done in the current file and files done in the run."""
        return Progress(self.scan_progress, self.file_progress)

    @property
    def capabilities(self) -> int:
        """The board's capability bits (4 on model 3, which has the fiber
        link; 2 on the others)."""
        self._check_open()
        return int(self._lib.spectrometer_getCapabilities())

    @property
    def timestamp(self) -> float:
        """Time stamp of the file get_data() would return, in milliseconds
        since 1970 UTC (0.0 when there is none)."""
        self._check_open()
        return float(self._lib.spectrometer_getTimestamp())

    # Instrument.

    def initialize(self) -> None:
        """Sends the point count and the gain to the board. Needed after
        every change of resolution, points or gain before the next run."""
        self._call("initialize", self._lib.spectrometer_initialize)
        self._initialized = (self.points, self.gain)
        _log.info("initialized: %d points, gain %g", self.points, self.gain)

    def calibrate(self) -> None:
        """Runs the board's calibration, which finds the centre burst."""
        self._call("calibrate", self._lib.spectrometer_calibrationScan)

    # Run.

    def start(self) -> None:
        """Starts a run of `files` files of `scans` co-added scans. Raises
        RunFailedError when the board was not initialized for the current
        points and gain, or the library cannot store the point count."""
        self._stop_requested = False
        self._begin(None)

    def stream_to_disk(self, path: "os.PathLike[str] | str | bytes") -> None:
        """Starts a run as start() does, and appends every file of it to a
        multifile SPC file at `path` (created or truncated). stop() or
        close() completes and closes the file."""
        self._stop_requested = False
        self._begin(path)

    def _begin(self, path: "os.PathLike[str] | str | bytes | None") -> bool:
        # Starts the run unless stop() came first (False then): acquire()
        # clears the request when it is called, so a stop from another thread
        # before the generator's first step is not lost.
        encoded = None if path is None else os.fsencode(path)
        if encoded is not None and b"\0" in encoded:
            raise ValueError("the path holds a NUL character")
        self._check_startable()
        assert self._event is not None
        with self._control:
            if self._stop_requested:
                return False
            self._event.drain()  # signals of an earlier run
            if encoded is None:
                result = self._lib.spectrometer_startCoadd()
            else:
                result = self._lib.spectrometer_streamToDisk(encoded)
        if result != 0:
            if encoded is None:
                raise NadixqError("start", result, cause=self._refusal())
            raise NadixqError("stream", result, path=os.fsdecode(encoded), cause=self._refusal())
        return True

    def stop(self) -> bool:
        """Stops the run (a run that ended by itself is left as it is) and
        completes and closes the stream file. A run stopped so ends normally:
        acquire() returns without an exception. May be called from another
        thread. Returns False when no run was ever started, True otherwise."""
        self._check_open()
        self._stop_requested = True
        with self._control:
            if self._closing:
                return True  # close() stops it
            return bool(self._lib.spectrometer_stop() == 0)

    def wait_for_file(self, timeout: Optional[float] = None) -> int:
        """Waits up to `timeout` seconds (None: as long as the run goes on)
        until a file of the run is complete. Returns the number of files
        completed since the last wait, or start(): 0 when the time ran out,
        the run ended without a further file, or the instrument was closed
        from another thread. Only the newest file can be read with
        get_data()."""
        self._check_open()
        return self._wait(timeout)

    def _wait(self, timeout: Optional[float]) -> int:
        deadline = None if timeout is None else time.monotonic() + timeout
        while not self._closing:
            with self._event_lock:
                event = self._event
                if event is None:
                    return 0
                completed = event.drain()
                if completed:
                    return completed
                # The scan thread signals every file before it reports the
                # end, so after seeing the end one more look finds the last.
                if self.status != STATUS_ACQUIRING:
                    return event.drain()
                remaining = _RUN_END_CHECK_SECONDS
                if deadline is not None:
                    remaining = min(remaining, deadline - time.monotonic())
                    if remaining <= 0:
                        return 0
                completed = event.wait(remaining)
                if completed:
                    return completed
        return 0

    def get_data(self, points: Optional[int] = None) -> Interferogram:
        """The newest finished file as an Interferogram (index None), its
        values a float64 numpy array that the library fills directly.
        `points` defaults to the current point count; 32768, the finest
        setting's count, gives its 30000 values. Reading does not consume the
        file. Raises NadixqError (code 1) when no finished file of that many
        points is ready."""
        self._check_open()
        count = self.points if points is None else _integer("points", points)
        if not 1 <= count <= FINEST_POINTS_ASKED:
            raise ValueError("points must be 1 to %d, not %d" % (FINEST_POINTS_ASKED, count))
        return self._read(count, None)

    def acquire(self, files: Optional[int] = None, scans: Optional[int] = None,
                stream: "os.PathLike[str] | str | None" = None,
                timeout: Optional[float] = None) -> Generator[Interferogram, None, None]:
        """Runs an acquisition and yields every file as the run produces it,
        as an Interferogram with its index in the run.

        `files` and `scans` change those settings first (None keeps them;
        files 0 runs until stopped). `stream` names an SPC file to stream the
        run to, as stream_to_disk() does. `timeout` is the longest wait in
        seconds for one file (None: a generous multiple of the file's time on
        a slow board, at least 30 s). The run starts at the first step of the
        returned iterator; the settings are checked at once.

        The run ends normally at its file count, when the caller stops it
        (stop(), close(), or closing the generator / leaving the loop over
        it), and raises otherwise, after every file it gave was yielded:
        RunFailedError (a device failure, no file stored, not initialized for
        these settings, a run that stored no file), RunTimeoutError (no file
        within `timeout`), StreamError (the stream file ended early: a full
        disk, a write error; not raised when the generator is closed).

        Only the newest file can be read: a consumer that falls behind by a
        whole file misses the one replaced (its index is skipped, a warning
        is logged; the run is not failed for it)."""
        self._check_open()
        if files is not None:
            self.files = files
        if scans is not None:
            self.scans = scans
        limit = self._file_timeout(timeout)
        if stream is not None and b"\0" in os.fsencode(stream):
            raise ValueError("the path holds a NUL character")
        self._stop_requested = False
        return self._run(self.files, self.scans, self.points, stream, limit)

    def _run(self, count: int, scans: int, points: int, stream: "os.PathLike[str] | str | None",
             limit: float) -> Generator[Interferogram, None, None]:
        log = _LogWatch()
        stamp_before = float(self._lib.spectrometer_getTimestamp())
        if not self._begin(stream):
            _log.info("run stopped before it started")
            return
        _log.info("run started: model %d, %d points, %d scans per file, %s%s", self.model, points,
                  self.scans, "%d files" % count if count > 0 else "until stopped",
                  ", streamed to %s" % os.fsdecode(stream) if stream is not None else "")
        delivered = signalled = unreadable = 0
        # The library keeps serving the newest file it stored, also one of an
        # earlier run: a signal for a file that stored nothing (the one under
        # way at a stop) would otherwise hand that old file out again.
        last_stamp: Optional[float] = stamp_before
        try:
            while count <= 0 or signalled < count:
                completed = self._wait(limit)  # 0 also once closed from another thread
                if completed == 0:
                    if not self._closing and self.acquiring:
                        self._stop_quietly()
                        _log.error("no file within %g s: run stopped", limit)
                        raise RunTimeoutError(limit, delivered, count, self.status)
                    break  # the run ended without a further file
                signalled += completed
                try:
                    data = self._read(points, signalled - 1)
                except NadixqError as error:
                    if error.code == ErrorCode.REFUSED:
                        unreadable += 1  # nothing stored of this many points
                        continue
                    raise
                # A file that got no scan (after a failure or a stop) stores
                # nothing, so the newest file is then the one already given.
                if data.milliseconds == last_stamp:
                    continue
                last_stamp = data.milliseconds
                delivered += 1
                _log.debug("file %d: %d points, %s", data.index, data.values.size,
                           data.time.isoformat(timespec="milliseconds"))
                yield data
        finally:
            self._stop_quietly()  # not a stop by the caller
        # Only a run that ended by itself (or by stop()) gets here; a closed
        # generator leaves through the finally alone.
        stopped = self._stop_requested or self._closing
        complete = count > 0 and delivered >= count
        if not (stopped or complete) and count > 0 and delivered > 0 and not unreadable and \
                self.scan_progress >= scans:
            # The last file got all its scans, so no fault cut the run short
            # (after one, every file left gets none): the consumer fell behind
            # and files were replaced before it read them.
            _log.warning("%d of the run's %d files were replaced before they were read",
                         count - delivered, count)
            complete = True
        if not (stopped or complete):
            status = self.status
            failure = self._failure(count, delivered, signalled, unreadable, points,
                                    stamp_before, status, log)
            _log.error("%s", failure)
            raise failure
        _log.info("run ended: %d files%s", delivered, " (stopped)" if stopped and not complete
                  else "")
        if stream is not None:
            self._check_stream(os.fsdecode(stream), delivered, log)

    def _failure(self, count: int, delivered: int, signalled: int, unreadable: int, points: int,
                 stamp_before: float, status: int, log: "_LogWatch") -> RunFailedError:
        detail = log.first_fault()
        if signalled == 0:
            return RunFailedError("no file started: the board's calibration status failed or "
                                  "the device is not open", delivered, count, status,
                                  detail=detail)
        if unreadable:
            stamp = float(self._lib.spectrometer_getTimestamp()) if not self.closed else 0.0
            if stamp not in (0.0, stamp_before):
                why = ("the board delivered files of another point count than the %d asked for "
                       "(initialize() after changing the resolution or points)" % points)
            else:
                why = "the library did not store %d of the run's files of %d points" % (
                    unreadable, points)
            return RunFailedError("no file stored: %s" % why, delivered, count, status,
                                  detail=detail)
        return RunFailedError("device failure", delivered, count, status, detail=detail)

    def _stop_quietly(self) -> None:
        with self._control:
            if not self._closing:
                self._lib.spectrometer_stop()

    def _check_stream(self, path: str, delivered: int, log: "_LogWatch") -> None:
        from .spc import subfile_count
        try:
            subfiles = subfile_count(path)
        except (OSError, ValueError) as error:
            raise StreamError(path, 0, delivered, str(error)) from error
        if subfiles >= delivered:
            return
        reason, result = log.stream_end()
        short = StreamError(path, subfiles, delivered, reason, result)
        _log.error("%s", short)
        raise short

    def _read(self, count: int, index: Optional[int]) -> Interferogram:
        values = numpy.empty(count, dtype=numpy.float64)
        stamp = ctypes.c_double(0.0)
        with self._control:
            if self._closing:
                raise NadixqError("data", ErrorCode.REFUSED, points=count)
            result = self._lib.spectrometer_getData(
                values.ctypes.data_as(ctypes.POINTER(ctypes.c_double)), count,
                ctypes.byref(stamp))
        if result != 0:
            raise NadixqError("data", result, points=count)
        if count == FINEST_POINTS_ASKED:
            values = values[:FINEST_POINTS_HELD]  # the rest stays zero
        return Interferogram(values, stamp.value, index)

    def _file_timeout(self, timeout: Optional[float]) -> float:
        if timeout is None:
            scan = self.points / _SLOW_SAMPLE_RATE + _SLOW_TURNAROUND_SECONDS
            return max(_TIMEOUT_FLOOR_SECONDS, _TIMEOUT_MULTIPLE * self.scans * scan)
        limit = _real("timeout", timeout)
        if not (limit > 0.0 and math.isfinite(limit)):
            raise ValueError("timeout must be a positive number of seconds, not %r" % (timeout,))
        return limit

    def _check_startable(self) -> None:
        self._check_open()
        points = self.points
        if not 1 <= points <= FINEST_POINTS_ASKED:
            unstorable = RunFailedError(
                "no file stored: the library stores 1 to %d points (%d for the finest setting), "
                "not %d" % (MAX_POINTS, FINEST_POINTS_ASKED, points), 0, self.files, self.status)
            _log.error("%s", unstorable)
            raise unstorable
        if self._initialized != (points, self.gain):
            error = RunFailedError("not initialized for these settings", 0, self.files,
                                   self.status)
            sent = ("never initialized" if self._initialized is None else
                    "initialize() sent %d points, gain %g" % self._initialized)
            error.text += ": %d points, gain %g (%s; call initialize() first)" % (
                points, self.gain, sent)
            error.args = ("%s (%d)" % (error.text, error.code),)
            _log.error("%s", error)
            raise error

    def _refusal(self) -> str:
        if self.acquiring:
            return "a run is still going"
        if self.scans < 1:
            return "scans is %d, fewer than 1" % self.scans
        return "the library refused it"

    # Board input and output.

    def write_aux(self, data: int, mask: int = 0xFFFF) -> None:
        """Sets the aux output lines selected by `mask` to the bits of `data`
        (16-bit values); the other lines keep their state."""
        self._check_open()
        result = self._lib.spectrometer_writeAux(_word(data, 0xFFFF, "data"),
                                                 _word(mask, 0xFFFF, "mask"))
        if result != 0:
            raise NadixqError("aux", result)

    def write_fiber(self, frame: Sequence[int]) -> None:
        """Sends one fiber frame: 16 unsigned 32-bit words (model 3 only)."""
        self._check_open()
        words = list(frame)
        if len(words) != FIBER_FRAME_WORDS:
            # The library reads exactly 16 words from the pointer it is given.
            raise ValueError("a fiber frame has %d words, not %d" % (FIBER_FRAME_WORDS, len(words)))
        block = (ctypes.c_uint * FIBER_FRAME_WORDS)(
            *[_word(w, 0xFFFFFFFF, "a fiber word") for w in words])
        result = self._lib.spectrometer_writeFiber(block)
        if result != 0:
            raise NadixqError("fiber", result)

    def read_fiber(self) -> List[int]:
        """Reads one fiber frame: a list of 16 unsigned 32-bit words."""
        self._check_open()
        block = (ctypes.c_uint * FIBER_FRAME_WORDS)()
        result = self._lib.spectrometer_readFiber(block)
        if result != 0:
            raise NadixqError("fiber", result)
        return list(block)

    # Helpers.

    def _check_open(self) -> None:
        if self._event is None:
            raise ValueError("the spectrometer is closed")

    def _call(self, step: str, function: Any) -> None:
        self._check_open()
        result = function()
        if result != 0:
            cause = self._refusal() if result == ErrorCode.REFUSED and self.acquiring else None
            raise NadixqError(step, result, cause=cause)


class _LogWatch:
    """The library's log file from the start of a run on: the lines the run
    added, read back after it ended."""

    def __init__(self) -> None:
        self._path = os.path.join(os.getcwd(), LOG_FILE_NAME)
        try:
            self._start = os.path.getsize(self._path)
        except OSError:
            self._start = 0

    def lines(self) -> List[str]:
        try:
            with open(self._path, "rb") as log:
                end = log.seek(0, os.SEEK_END)
                if end < self._start:
                    self._start = 0  # a new file
                log.seek(max(self._start, end - _LOG_TAIL_BYTES))
                text = log.read().decode("latin-1")
        except OSError:
            return []
        return [_LOG_PREFIX.sub("", line).strip() for line in text.splitlines()]

    def first_fault(self) -> str:
        """The first line about an error the run left, or ""."""
        for line in self.lines():
            if _FAULT_LINE.search(line):
                return line
        return ""

    def stream_end(self) -> Tuple[str, int]:
        """The reason and the result of the last stream-end line, or ("", 1)."""
        reason, result = "", int(ErrorCode.REFUSED)
        for line in self.lines():
            found = _STREAM_ENDED.search(line)
            if found:
                reason = found.group(2).strip()
                result = int(found.group(3), 16) if found.group(3) else int(ErrorCode.REFUSED)
        return reason, result


def _integer(name: str, value: Any) -> int:
    # ctypes would take a float and cut it; a fractional count is a mistake.
    if isinstance(value, (bool, numpy.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError("%s must be an integer, not %s" % (name, type(value).__name__))
    if isinstance(value, numbers.Integral):
        return int(value)
    if not (math.isfinite(value) and float(value).is_integer()):
        raise TypeError("%s must be an integer, not %r" % (name, value))
    return int(value)


def _real(name: str, value: Any) -> float:
    if isinstance(value, (bool, numpy.bool_)) or not isinstance(value, numbers.Real):
        raise TypeError("%s must be a number, not %s" % (name, type(value).__name__))
    return float(value)


def _count(name: str, value: Any, least: int) -> int:
    count = _integer(name, value)
    if not least <= count <= MAX_COUNT:
        # The library's int would wrap 2**31 to -2147483648.
        raise ValueError("%s must be %d to 2**31 - 1, not %d%s" % (
            name, least, count, " (0 runs until stopped)" if least == 0 else ""))
    return count


def _word(value: Any, largest: int, name: str) -> int:
    word = _integer(name, value)
    if not 0 <= word <= largest:
        # ctypes would silently keep only the low bits.
        raise ValueError("%s must be 0 to 0x%X, not %d" % (name, largest, word))
    return word


@atexit.register
def _close_at_exit() -> None:
    # A run left going at interpreter exit would keep the scan thread running
    # while the library is unloaded under it.
    instance = _open_instance()
    if instance is not None:
        instance.close()
