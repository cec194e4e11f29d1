# mypy: allow-untyped-decorators, allow-subclassing-any
"""The Tango device class NadixqSpectrometer: one instrument of the library
as a device of a Tango control system, on PyTango's high-level API.

The device opens the instrument of its Model property, initializes and
calibrates it, and then runs acquisitions in a thread of their own (Start,
TakeBackground, TakeSample). Every file of a run is streamed to an SPC file
in DataDirectory, turned into its single-beam spectrum (and, for a sample,
the absorbance against the stored background) and pushed to subscribed
clients as change and archive events, with a data-ready event on
Interferogram per file.
"""

import datetime
import os
import queue
import threading
import time
from typing import Any, Callable, Dict, Optional, Tuple, TypeVar, Union

import numpy
import tango  # type: ignore[import]
from tango import AttrQuality, AttrWriteType, DevState
from tango.server import Device, attribute, command, device_property  # type: ignore[import]

from .. import fourier, instrument, sim
from ..errors import NadixqError, RunFailedError
from ..fourier import Array, Spectrum
from ..instrument import Spectrometer
from . import faults
from .run import Run

# The longest interferogram (the finest setting's 30000 points, reported as
# 32768) and the longest spectrum of it (zero filled twice).
MAX_POINTS = instrument.FINEST_POINTS_ASKED
MAX_SPECTRUM = 2 * MAX_POINTS + 1

T = TypeVar("T")
# A queued event: attribute, value, quality, time stamp (s since 1970).
Event = Tuple[str, Any, Any, float]

# Tango's long: 32 bits (PyTango would make a Python int a 64-bit one).
LONG = tango.DevLong
LONG_MAX = 2 ** 31 - 1

# The writable attributes and the settings of the instrument they stand for.
SETTING_ATTRIBUTES = (("Resolution", "resolution"), ("Scans", "scans"), ("Files", "files"),
                      ("Gain", "gain"))

# Attributes whose changes are pushed as change and archive events.
EVENT_ATTRIBUTES = ("FilesDone", "ScansDone", "Interferogram", "SingleBeam", "Absorbance",
                    "PeakToPeak", "State")

# A stop waits this long for the run's thread to hand its last file over.
_STOP_JOIN_SECONDS = 5.0

RUN, BACKGROUND, SAMPLE = "run", "background", "sample"

# Queued in place of an attribute's name: the data-ready event of a file.
DATA_READY = "<data ready>"

_IDLE_STATES = (DevState.ON, DevState.ALARM)


def _file_name(device: str, kind: str) -> str:
    stamp = datetime.datetime.now(datetime.timezone.utc)
    # The device's name and the time to the millisecond: two devices writing
    # into one folder, or two runs of one device, never pick the same name.
    return "%s-%s%03dZ-%s.spc" % (device.replace("/", "_"), stamp.strftime("%Y%m%dT%H%M%S."),
                                  stamp.microsecond // 1000, kind)


class NadixqSpectrometer(Device):
    """An FTIR spectrometer on the nadixq library."""

    Model = device_property(dtype=int, default_value=1, doc="board model, 1 to 5")
    SamplingWavenumber = device_property(
        dtype=float, default_value=fourier.SAMPLING_WAVENUMBER,
        doc="sampling wavenumber of the interferogram in cm-1: the spectrum's axis")
    DataDirectory = device_property(
        dtype=str, default_value="./nadixq-runs",
        doc="folder the runs are streamed to as SPC files (relative: to the server's "
            "working directory)")
    BackgroundMaxAge = device_property(
        dtype=float, default_value=0.0,
        doc="seconds after which a stored background sets the state ALARM (0: never)")

    # Lifecycle ---------------------------------------------------------------

    def init_device(self) -> None:
        Device.init_device(self)
        self._lock = threading.RLock()
        self._spectrometer: Optional[Spectrometer] = None
        self._run: Optional[Run] = None
        self._alarm_timer: Optional[threading.Timer] = None
        self._prepared_for: Tuple[int, float] = (0, 0.0)
        # The settings written, kept across Init (which opens the instrument afresh).
        self._settings: Dict[str, Union[int, float]] = getattr(self, "_settings", {})
        self._clear_results()
        for name in EVENT_ATTRIBUTES:
            self.set_change_event(name, True, False)
            self.set_archive_event(name, True, False)
        self.set_data_ready_event("Interferogram", True)
        self._directory = os.path.abspath(self.DataDirectory)
        self._events: "queue.Queue[Optional[Event]]" = queue.Queue()
        threading.Thread(target=self._push_events, args=(self._events,),
                         name="nadixq events", daemon=True).start()
        self._set_state(DevState.OFF, "the instrument is not open")
        try:
            self._spectrometer = s = Spectrometer(self.Model)
            for name, value in self._settings.items():
                setattr(s, name, value)
            self._prepare()
        except Exception as error:
            self._fail("opening model %d: %s" % (self.Model, faults.describe(error)))
            return
        # A generic client's write field starts from the value in force.
        attributes = self.get_device_attr()
        for setting, name in SETTING_ATTRIBUTES:
            value = getattr(s, name)
            attributes.get_w_attr_by_name(setting).set_write_value(
                value if name == "resolution" else int(value))
        self._settle()

    def delete_device(self) -> None:
        run = self._run
        if run is not None:
            run.stop(_STOP_JOIN_SECONDS)
        if self._alarm_timer is not None:
            self._alarm_timer.cancel()
        if self._spectrometer is not None:
            self._spectrometer.close()
            self._spectrometer = None
        self._events.put(None)

    def _clear_results(self) -> None:
        empty: Array = numpy.zeros(0)
        self._files_done = 0
        self._scans_done = 0
        self._interferogram = empty
        self._zpd_index = 0
        self._peak_to_peak = 0.0
        self._wavenumber = empty
        self._single_beam = empty
        self._absorbance = empty
        self._last_file_time = 0.0
        self._run_file = ""
        self._background: Optional[Spectrum] = None  # the stored background
        self._background_files = 0
        self._background_sum: Optional[Array] = None
        self._background_time: Optional[float] = None  # s since 1970 of its last file

    def _open(self) -> Spectrometer:
        """The open instrument (the commands that need it check the state
        first, and the instrument is open in every idle state)."""
        assert self._spectrometer is not None
        return self._spectrometer

    def _prepare(self) -> None:
        """Sends the settings to the board and calibrates it."""
        self._open().initialize()
        self._open().calibrate()
        self._prepared_for = self._board_settings()

    def _board_settings(self) -> Tuple[int, float]:
        return (self._open().points, self._open().gain)

    # State -------------------------------------------------------------------

    def _set_state(self, state: Any, status: str) -> None:
        with self._lock:
            changed = state != self.get_state()
            self.set_state(state)
            self.set_status(status)
        if changed:
            self._push("State", state)

    def _push(self, name: str, value: Any, quality: Any = AttrQuality.ATTR_VALID,
              stamp: Optional[float] = None) -> None:
        """Queues the change and archive events of `name` (and, for
        DATA_READY, Interferogram's data-ready event with `value` as its
        counter), time stamped `stamp` (s since 1970; None: now)."""
        self._events.put((name, value, quality, time.time() if stamp is None else stamp))

    def _push_events(self, events: "queue.Queue[Optional[Event]]") -> None:
        # PyTango pushes an event under the device's monitor, which a command
        # holds while it runs: a thread of its own pushes them, in order, so
        # that the run's thread never waits for a command (a Stop waiting for
        # the run's last file would otherwise wait for itself). omniORB
        # must know the thread that calls into Tango.
        with tango.EnsureOmniThread():
            for name, value, quality, stamp in iter(events.get, None):
                try:
                    if name == DATA_READY:
                        self.push_data_ready_event("Interferogram", value)
                    elif name == "State":
                        self._push_state(value)
                    else:
                        self.push_change_event(name, value, stamp, quality)
                        self.push_archive_event(name, value, stamp, quality)
                except tango.DevFailed as error:
                    self.warn_stream("event of %s not pushed: %s" % (
                        name, error.args[0].desc if error.args else error))

    def _push_state(self, state: Any) -> None:
        # Tango sends the device's state as it is when the event goes out,
        # whatever value it is given: for a state that has already changed
        # again (a short run's RUNNING), the device shows the queued state
        # for the moment of the push. Clients read the state under the same
        # monitor, so none sees it.
        with tango.AutoTangoMonitor(self), self._lock:
            current = self.get_state()
            self.set_state(state)
            try:
                self.push_change_event("State", state)
                self.push_archive_event("State", state)
            finally:
                self.set_state(current)

    def _fail(self, text: str) -> None:
        self.error_stream(text)
        self._set_state(DevState.FAULT, text)

    def _background_age(self) -> Optional[float]:
        if self._background_time is None:
            return None
        return max(0.0, time.time() - self._background_time)

    def _settle(self, note: Optional[str] = None) -> None:
        """ON or ALARM after a run, by the background's age."""
        age = self._background_age()
        limit = self.BackgroundMaxAge
        if limit > 0 and age is not None and age > limit:
            text = "the background is %.0f s old, more than %g s" % (age, limit)
            state = DevState.ALARM
        else:
            text = "the instrument is ready"
            state = DevState.ON
            if limit > 0 and age is not None:
                # Wake up when it grows too old, so that the state changes
                # (and its event goes out) without a client asking.
                self._arm_alarm(limit - age)
        if note:
            text = "%s; %s" % (text, note)
        self._set_state(state, text)

    def _arm_alarm(self, seconds: float) -> None:
        if self._alarm_timer is not None:
            self._alarm_timer.cancel()
        self._alarm_timer = threading.Timer(seconds + 0.01, self._alarm_due)
        self._alarm_timer.daemon = True
        self._alarm_timer.start()

    def _alarm_due(self) -> None:
        with self._lock:
            if self.get_state() == DevState.ON:
                self._settle()

    def _check_idle(self, what: str) -> None:
        state = self.get_state()
        if state in _IDLE_STATES:
            return
        if state == DevState.RUNNING:
            faults.throw(faults.REFUSED, "%s refused: a run is going (Stop it first)" % what,
                         what)
        faults.throw(faults.REFUSED, "%s refused in state %s: %s (Init re-opens the instrument)"
                     % (what, state, self.get_status()), what)

    def _library(self, what: str, call: Callable[[], T]) -> T:
        """Calls the library, reporting its refusal or failure as DevFailed."""
        try:
            return call()
        except (NadixqError, ValueError, TypeError, OSError) as error:
            faults.throw_from(error, what)

    # Settings ----------------------------------------------------------------
    # Memorized: with a database, a restarted server runs as it was set.

    def _write_setting(self, name: str, value: Union[int, float]) -> None:
        with self._lock:
            self._check_idle("writing %s" % name)
            # The binding checks the value before it changes anything.
            self._library("writing %s" % name, lambda: setattr(self._spectrometer, name, value))
            self._settings[name] = getattr(self._spectrometer, name)

    def _read_setting(self, name: str) -> Any:
        if self._spectrometer is None:
            faults.throw(faults.REFUSED, "the instrument is not open: %s" % self.get_status(),
                         "reading %s" % name)
        return getattr(self._spectrometer, name)

    @attribute(dtype=float, access=AttrWriteType.READ_WRITE, unit="cm-1", min_value=0.5,
               memorized=True, hw_memorized=True,
               format="%.3f", doc="spectral resolution; sets Points")
    def Resolution(self) -> Any:
        return self._read_setting("resolution")

    @Resolution.write  # type: ignore[no-redef]
    def Resolution(self, value: Any) -> None:
        self._write_setting("resolution", value)

    @attribute(dtype=LONG, access=AttrWriteType.READ_WRITE, min_value=1, max_value=LONG_MAX,
               memorized=True, hw_memorized=True,
               doc="scans co-added into one file")
    def Scans(self) -> Any:
        return self._read_setting("scans")

    @Scans.write  # type: ignore[no-redef]
    def Scans(self, value: Any) -> None:
        self._write_setting("scans", value)

    @attribute(dtype=LONG, access=AttrWriteType.READ_WRITE, min_value=0, max_value=LONG_MAX,
               memorized=True, hw_memorized=True,
               doc="files per run, 0: until stopped")
    def Files(self) -> Any:
        return self._read_setting("files")

    @Files.write  # type: ignore[no-redef]
    def Files(self, value: Any) -> None:
        self._write_setting("files", value)

    @attribute(dtype=LONG, access=AttrWriteType.READ_WRITE, min_value=1, max_value=4,
               memorized=True, hw_memorized=True,
               doc="gain multiple: 1, 2 or 4")
    def Gain(self) -> Any:
        return int(self._read_setting("gain"))

    @Gain.write  # type: ignore[no-redef]
    def Gain(self, value: Any) -> None:
        self._write_setting("gain", value)

    @attribute(dtype=LONG, doc="points per interferogram (32768: the finest setting's 30000)")
    def Points(self) -> Any:
        return self._read_setting("points")

    # Results -----------------------------------------------------------------

    @attribute(dtype=LONG, doc="scans co-added into the current file")
    def ScansDone(self) -> Any:
        return self._scans_done

    @attribute(dtype=LONG, doc="files done in the current or last run")
    def FilesDone(self) -> Any:
        return self._files_done

    @attribute(dtype=(float,), max_dim_x=MAX_POINTS, doc="the last file's interferogram")
    def Interferogram(self) -> Any:
        return self._interferogram

    @attribute(dtype=(float,), max_dim_x=MAX_SPECTRUM, unit="cm-1",
               doc="the spectra's wavenumber axis")
    def Wavenumber(self) -> Any:
        return self._wavenumber

    @attribute(dtype=(float,), max_dim_x=MAX_SPECTRUM, doc="the last file's single-beam spectrum")
    def SingleBeam(self) -> Any:
        return self._single_beam

    @attribute(dtype=(float,), max_dim_x=MAX_SPECTRUM,
               doc="the stored background's single-beam spectrum")
    def Background(self) -> Any:
        if self._background is None:
            return numpy.zeros(0), time.time(), AttrQuality.ATTR_INVALID
        return self._background.values

    @attribute(dtype=(float,), max_dim_x=MAX_SPECTRUM,
               doc="the last sample file's absorbance against the stored background")
    def Absorbance(self) -> Any:
        if self._absorbance.size == 0:
            return self._absorbance, time.time(), AttrQuality.ATTR_INVALID
        return self._absorbance

    @attribute(dtype=LONG, doc="index of the last file's zero path difference")
    def ZPD(self) -> Any:
        return self._zpd_index

    @attribute(dtype=float, doc="peak-to-peak of the last file's interferogram")
    def PeakToPeak(self) -> Any:
        return self._peak_to_peak

    @attribute(dtype=float, unit="s", doc="time of the last file, in s since 1970 (UTC)")
    def LastFileTime(self) -> Any:
        return self._last_file_time

    @attribute(dtype=str, doc="the SPC file of the current or last run")
    def RunFile(self) -> Any:
        return self._run_file

    @attribute(dtype=float, unit="s", doc="age of the stored background")
    def BackgroundAge(self) -> Any:
        age = self._background_age()
        if age is None:
            return float("nan"), time.time(), AttrQuality.ATTR_INVALID
        return age

    # Commands ----------------------------------------------------------------

    @command
    def Initialize(self) -> None:
        """Sends the settings to the board."""
        with self._lock:
            self._check_idle("Initialize")
            self._library("Initialize", self._open().initialize)
            self._prepared_for = self._board_settings()

    @command
    def Calibrate(self) -> None:
        """Runs the board's calibration scan."""
        with self._lock:
            self._check_idle("Calibrate")
            self._library("Calibrate", self._open().calibrate)

    @command
    def Start(self) -> None:
        """Starts a run with the current settings."""
        self._start(RUN)

    @command
    def TakeBackground(self) -> None:
        """Starts a background run: its spectrum is stored as the background."""
        self._start(BACKGROUND)

    @command
    def TakeSample(self) -> None:
        """Starts a sample run: its absorbance is computed against the stored
        background."""
        self._start(SAMPLE)

    @command
    def Stop(self) -> None:
        """Stops the run (nothing when none is going)."""
        run = self._run
        if run is None:
            return
        try:
            run.stop(_STOP_JOIN_SECONDS)
        except NadixqError as error:
            faults.throw_from(error, "Stop")

    # Runs --------------------------------------------------------------------

    def _start(self, kind: str) -> None:
        what = {RUN: "Start", BACKGROUND: "TakeBackground", SAMPLE: "TakeSample"}[kind]
        with self._lock:
            self._check_idle(what)
            s = self._open()
            if self._board_settings() != self._prepared_for:
                # Points and gain reach the board only at initialization: a
                # run with the current settings needs it first.
                self._library(what, self._prepare)
            path = os.path.join(self._directory, _file_name(self.get_name(), kind))
            # The binding checks the settings here; the run starts in its thread.
            files = self._library(what, lambda: s.acquire(stream=path))
            try:
                os.makedirs(self._directory, exist_ok=True)
                # Created here, so that a folder that cannot be written is
                # refused by the command rather than found by the run.
                open(path, "xb").close()
            except OSError as error:
                faults.throw(faults.SYSTEM_ERROR, "DataDirectory %s cannot be written: %s"
                             % (self._directory, faults.describe(error)), what)
            if sim.available() and kind != RUN:
                # The simulated instrument's film: out of the beam for a
                # background, in it for a sample.
                sim.set_sample_in_beam(kind == SAMPLE)
            self._files_done = self._scans_done = 0
            self._run_file = path
            if kind == BACKGROUND:
                self._background_sum, self._background_files = None, 0
            self._run = run = Run(s, kind, path, files, self._file_done, self._scans_changed,
                                  self._run_over)
            count = "%d files" % s.files if s.files else "files until Stop"
            self._set_state(DevState.RUNNING, "%s run: %s of %d scans into %s" % (
                kind, count, s.scans, path))
            self._push("FilesDone", 0)
            self._push("ScansDone", 0)
            run.start()

    def _scans_changed(self, scans: int) -> None:
        self._scans_done = scans
        self._push("ScansDone", scans)

    def _file_done(self, ifg: instrument.Interferogram, done: int, arrived: float) -> None:
        # Every event of the file carries the time the file arrived, so that
        # a client sees how long it took to reach it. The interferogram goes
        # out first, before its spectrum is computed.
        values = numpy.asarray(ifg.values, dtype=numpy.float64)
        with self._lock:
            self._interferogram = values
            self._zpd_index = -1 if ifg.zpd is None else ifg.zpd
            self._peak_to_peak = float(numpy.ptp(values)) if values.size else 0.0
            self._last_file_time = ifg.milliseconds / 1000.0
        self._push("Interferogram", values, stamp=arrived)
        self._push("PeakToPeak", self._peak_to_peak, stamp=arrived)

        single_beam = fourier.spectrum(values, sampling_wavenumber=self.SamplingWavenumber)
        kind = self._run.kind if self._run is not None else RUN
        absorbance = None
        with self._lock:
            if kind == BACKGROUND:
                # The background is the mean of its run's files.
                total: Array = single_beam.values if self._background_sum is None else \
                    self._background_sum + single_beam.values
                self._background_sum = total
                self._background_files += 1
                self._background = fourier.Spectrum(
                    single_beam.wavenumber, total / self._background_files,
                    single_beam.resolution, kind=single_beam.kind,
                    apodization=single_beam.apodization, zero_fill=single_beam.zero_fill,
                    phase=single_beam.phase, sampling_wavenumber=self.SamplingWavenumber)
                self._background_time = ifg.milliseconds / 1000.0
            elif kind == SAMPLE and self._background is not None and \
                    len(self._background) == len(single_beam):
                absorbance = fourier.absorbance(single_beam, self._background).values
            self._wavenumber = single_beam.wavenumber
            self._single_beam = single_beam.values
            if kind == SAMPLE:
                self._absorbance = numpy.zeros(0) if absorbance is None else absorbance
            self._files_done = done
        self._push("SingleBeam", single_beam.values, stamp=arrived)
        if kind == SAMPLE:
            if absorbance is None:
                self._push("Absorbance", numpy.zeros(0), AttrQuality.ATTR_INVALID, arrived)
            else:
                self._push("Absorbance", absorbance, stamp=arrived)
        # The count last: a client that sees it finds the file's data in place.
        self._push("FilesDone", done, stamp=arrived)
        self._push(DATA_READY, done)

    def _run_over(self, done: int, error: Optional[BaseException]) -> None:
        kind = self._run.kind if self._run is not None else RUN
        if sim.available() and kind == BACKGROUND:
            sim.set_sample_in_beam(True)
        with self._lock:
            self._run = None
        if error is not None and _is_device_failure(error):
            self._fail("%s: %s" % (faults.DEVICE_FAILURE, faults.describe(error)))
        elif error is not None:
            self.error_stream("the %s run failed: %s" % (kind, faults.describe(error)))
            self._settle("the last run failed: %s: %s" % (faults.reason_of(error),
                                                          faults.describe(error)))
        else:
            self._settle("the last run gave %d files" % done)


def _is_device_failure(error: Optional[BaseException]) -> bool:
    # A run that failed, got no file started or stored, or timed out: the
    # instrument is not working. Settings the board was not initialized for
    # are the device's to fix at the next start, not a fault.
    return isinstance(error, RunFailedError) and \
        error.reason != "not initialized for these settings"
