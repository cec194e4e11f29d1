"""The instrument as a Python object.

The library drives one instrument per process and keeps its settings in
process-wide state, so there is at most one open Spectrometer at a time:
opening a second one closes the first, as the library itself does. The
settings (gain, resolution, points, scans, files) belong to the process, not
to the object; they keep their values across close and the next open.
"""

import atexit
import collections
import ctypes
import datetime
import os
import threading
import time

import numpy

from ._events import create_event
from ._library import library
from .errors import NadixqError

STATUS_UNOPENED = 1
STATUS_READY = 4
STATUS_ACQUIRING = 64

FIBER_FRAME_WORDS = 16

# While a run goes on, a wait for a file looks at the status this often, so
# that a run ending without a further file (a failure, a stop from another
# thread) does not leave the caller waiting for its whole time-out.
_RUN_END_CHECK_SECONDS = 0.1

Progress = collections.namedtuple("Progress", "scans files")
Progress.__doc__ = "Scans done in the current file, files done in the current run."


# The point count that stands for the finest setting, and the points it holds.
_FINEST_POINTS_ASKED = 32768
_FINEST_POINTS_HELD = 30000


def _utc(milliseconds):
    return datetime.datetime.fromtimestamp(milliseconds / 1000.0, datetime.timezone.utc)


class Interferogram(collections.namedtuple("Interferogram", "values timestamp")):
    """A file's averaged interferogram (a float64 numpy array) and its time
    stamp in milliseconds since 1970-01-01 UTC; `time` is the same stamp as
    an aware datetime in UTC."""

    __slots__ = ()

    @property
    def time(self):
        """The time stamp as an aware datetime in UTC."""
        return _utc(self.timestamp)


class AcquiredFile(collections.namedtuple("AcquiredFile", "timestamp values")):
    """One file of a run as acquire() yields it: its time stamp (an aware
    datetime in UTC, the time of the file's first scan) and its averaged
    interferogram (a float64 numpy array)."""

    __slots__ = ()

    @property
    def milliseconds(self):
        """The time stamp in milliseconds since 1970-01-01 UTC, as the library
        gives it."""
        return self.timestamp.timestamp() * 1000.0


# Re-entrant: opening closes the instance open before.
_open_lock = threading.RLock()
_open_instance = None


class Spectrometer:
    """The open instrument of model `model` (1 to 5).

    Use it as a context manager, or call close() when done::

        with nadixq.Spectrometer(1) as s:
            s.points, s.scans, s.files = 1024, 4, 2
            s.initialize()
            s.calibrate()
            s.start()
            while s.wait_for_file(10.0):
                data = s.get_data()
                ...

    Failure results of the library raise NadixqError.
    """

    def __init__(self, model=1):
        global _open_instance
        self.model = model = _integer(model)
        self._lib = library()
        self._event = None
        with _open_lock:
            if _open_instance is not None:
                _open_instance.close()
            event = create_event()
            result = self._lib.spectrometer_open(model)
            if result != 0:
                # A board that failed to open stays attached to the library
                # until the next close; release it now rather than at some
                # later open.
                self._lib.spectrometer_close()
                event.close()
                raise NadixqError("open", result, model=model)
            self._event = event
            self._lib.spectrometer_setCoaddCompleteEventHandle(event.handle)
            _open_instance = self

    def __enter__(self):
        self._check_open()
        return self

    def __exit__(self, kind, value, traceback):
        self.close()
        return False

    def __repr__(self):
        state = "closed" if self.closed else "open"
        return "<nadixq.Spectrometer model %s, %s>" % (self.model, state)

    @property
    def closed(self):
        return self._event is None

    def close(self):
        """Stops a run that is still going and closes the instrument. A stream
        file still open is completed and closed. Closing twice does nothing."""
        global _open_instance
        with _open_lock:
            if self._event is None:
                return
            self._lib.spectrometer_close()
            # Only once the scan thread is gone may the descriptor go: a
            # signal into a closed (and perhaps reused) descriptor would land
            # in someone else's file.
            self._lib.spectrometer_setCoaddCompleteEventHandle(None)
            self._event.close()
            self._event = None
            if _open_instance is self:
                _open_instance = None

    # Settings. Stored only; they reach the board at initialize() and start().

    @property
    def gain(self):
        """Gain multiple, sent to the board by initialize()."""
        return self._lib.spectrometer_getGain()

    @gain.setter
    def gain(self, value):
        self._lib.spectrometer_setGain(float(value))

    @property
    def resolution(self):
        """Spectral resolution; setting it also sets the point count (1.0:
        16384 points, 0.5 and finer: 30000, reported as 32768)."""
        return self._lib.spectrometer_getResolution()

    @resolution.setter
    def resolution(self, value):
        self._lib.spectrometer_setResolution(float(value))

    @property
    def points(self):
        """Points per interferogram (32768 stands for the finest, 30000)."""
        return self._lib.spectrometer_getPoints()

    @points.setter
    def points(self, value):
        self._lib.spectrometer_setPoints(_integer(value))

    @property
    def scans(self):
        """Scans co-added into one file."""
        return self._lib.spectrometer_getScans()

    @scans.setter
    def scans(self, value):
        self._lib.spectrometer_setScans(_integer(value))

    @property
    def files(self):
        """Files per run; 0 runs until stop()."""
        return self._lib.spectrometer_getFiles()

    @files.setter
    def files(self, value):
        self._lib.spectrometer_setFiles(_integer(value))

    # State.

    @property
    def status(self):
        """STATUS_READY (4) or STATUS_ACQUIRING (64)."""
        return self._lib.spectrometer_getStatus()

    @property
    def acquiring(self):
        return self.status == STATUS_ACQUIRING

    @property
    def scan_progress(self):
        """Scans done in the current file."""
        return self._lib.spectrometer_getScanProgress()

    @property
    def file_progress(self):
        """Files done in the current run."""
        return self._lib.spectrometer_getFileProgress()

    @property
    def progress(self):
        return Progress(self.scan_progress, self.file_progress)

    @property
    def capabilities(self):
        """The board's capability bits (4 on model 3, which has the fiber link)."""
        self._check_open()
        return self._lib.spectrometer_getCapabilities()

    @property
    def timestamp(self):
        """Time stamp of the file get_data() would return, in milliseconds
        since 1970 (0.0 when there is none)."""
        self._check_open()
        return self._lib.spectrometer_getTimestamp()

    # Instrument.

    def initialize(self):
        """Sends the point count and the gain to the board."""
        self._call("initialize", self._lib.spectrometer_initialize)

    def calibrate(self):
        """Runs the board's calibration, which finds the centre burst."""
        self._call("calibrate", self._lib.spectrometer_calibrationScan)

    # Run.

    def start(self):
        """Starts a run of `files` files of `scans` co-added scans."""
        self._check_open()
        self._event.drain()  # signals of an earlier run
        self._call("start", self._lib.spectrometer_startCoadd)

    def stream_to_disk(self, path):
        """Starts a run as start() does, and appends every file of it to a
        multifile SPC file at `path` (created or truncated). stop() or
        close() completes and closes the file."""
        self._check_open()
        encoded = os.fsencode(path)
        if b"\0" in encoded:
            raise ValueError("the path holds a NUL character")
        self._event.drain()
        result = self._lib.spectrometer_streamToDisk(encoded)
        if result != 0:
            raise NadixqError("stream", result, path=os.fsdecode(path))

    def stop(self):
        """Stops the run (a run that ended by itself is left as it is) and
        completes and closes the stream file. Returns False when no run was
        ever started, True otherwise."""
        self._check_open()
        return self._lib.spectrometer_stop() == 0

    def wait_for_file(self, timeout=None):
        """Waits up to `timeout` seconds (None: as long as the run goes on)
        until a file of the run is complete. Returns the number of files
        completed since the last wait, or start(): 0 when the time ran out or
        the run ended without a further file. Only the newest file can be
        read with get_data()."""
        self._check_open()
        deadline = None if timeout is None else time.monotonic() + timeout
        while True:
            completed = self._event.drain()
            if completed:
                return completed
            # The scan thread signals every file before it reports the end,
            # so after seeing the end one more look finds the last signals.
            if self.status != STATUS_ACQUIRING:
                return self._event.drain()
            remaining = _RUN_END_CHECK_SECONDS
            if deadline is not None:
                remaining = min(remaining, deadline - time.monotonic())
                if remaining <= 0:
                    return 0
            completed = self._event.wait(remaining)
            if completed:
                return completed

    def get_data(self, points=None):
        """The newest finished file as an Interferogram (values, timestamp):
        a float64 numpy array that the library fills directly, and the time
        stamp in milliseconds since 1970 (`.time`: as a datetime). `points`
        defaults to the current point count; 32768, the finest setting's
        count, gives its 30000 values. Reading does not consume the file.
        Raises NadixqError (code 1) when no finished file of that many points
        is ready."""
        self._check_open()
        count = self.points if points is None else _integer(points)
        if count <= 0:
            raise ValueError("points must be positive, not %d" % count)
        values = numpy.empty(count, dtype=numpy.float64)
        stamp = ctypes.c_double(0.0)
        result = self._lib.spectrometer_getData(
            values.ctypes.data_as(ctypes.POINTER(ctypes.c_double)), count, ctypes.byref(stamp))
        if result != 0:
            raise NadixqError("data", result, points=count)
        if count == _FINEST_POINTS_ASKED:
            values = values[:_FINEST_POINTS_HELD]  # the rest stays zero
        return Interferogram(values, stamp.value)

    def acquire(self, files=None, scans=None, stream=None):
        """Runs an acquisition and yields every file as the run produces it,
        as an AcquiredFile (timestamp, values): an aware UTC datetime and a
        float64 numpy array. The run starts at the first step of the
        generator. `files` and `scans` change those settings first
        (None keeps them; files 0 runs until the generator is closed);
        `stream` names an SPC file to stream the run to, as stream_to_disk()
        does. Between files the generator waits on the library's event.
        Closing the generator (or leaving the loop over it) stops the run and
        completes the stream file. Only the newest file can be read: a
        consumer that falls behind by a whole file misses the one replaced."""
        self._check_open()
        if files is not None:
            self.files = files
        if scans is not None:
            self.scans = scans
        count = self.files
        # The run starts at the first next(): a generator never started
        # leaves nothing running.
        if stream is None:
            self.start()
        else:
            self.stream_to_disk(stream)
        yield from self._follow_run(count)

    def _follow_run(self, count):
        try:
            signalled = 0
            last_stamp = None
            # A counted run signals once per file, whatever happens to it.
            while count <= 0 or signalled < count:
                completed = self.wait_for_file(None)
                if completed == 0:
                    return  # the run ended without a further file
                signalled += completed
                try:
                    data = self.get_data()
                except NadixqError as error:
                    if error.code == 1:
                        continue  # nothing stored yet: the run's files got no scans
                    raise
                # A file that got no scan (after a failure or a stop) stores
                # nothing, so the newest file is then the one already given.
                if data.timestamp == last_stamp:
                    continue
                last_stamp = data.timestamp
                yield AcquiredFile(data.time, data.values)
        finally:
            if not self.closed:
                self.stop()

    # Board input and output.

    def write_aux(self, data, mask=0xFFFF):
        """Sets the aux output lines selected by `mask` to the bits of `data`
        (16-bit values); the other lines keep their state."""
        self._check_open()
        result = self._lib.spectrometer_writeAux(_word(data, 0xFFFF, "data"),
                                                 _word(mask, 0xFFFF, "mask"))
        if result != 0:
            raise NadixqError("aux", result)

    def write_fiber(self, frame):
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

    def read_fiber(self):
        """Reads one fiber frame: a list of 16 unsigned 32-bit words."""
        self._check_open()
        block = (ctypes.c_uint * FIBER_FRAME_WORDS)()
        result = self._lib.spectrometer_readFiber(block)
        if result != 0:
            raise NadixqError("fiber", result)
        return list(block)

    # Helpers.

    def _check_open(self):
        if self._event is None:
            raise ValueError("the spectrometer is closed")

    def _call(self, step, function):
        self._check_open()
        result = function()
        if result != 0:
            raise NadixqError(step, result)


def _integer(value):
    # ctypes would take a float and cut it; a fractional count is a mistake.
    if isinstance(value, bool) or int(value) != value:
        raise TypeError("an integer is required, not %r" % (value,))
    return int(value)


def _word(value, largest, name):
    value = _integer(value)
    if not 0 <= value <= largest:
        # ctypes would silently keep only the low bits.
        raise ValueError("%s must be 0 to 0x%X, not %d" % (name, largest, value))
    return value


@atexit.register
def _close_at_exit():
    # A run left going at interpreter exit would keep the scan thread running
    # while the library is unloaded under it.
    instance = _open_instance
    if instance is not None:
        instance.close()
