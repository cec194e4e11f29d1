"""The instrument as the server drives it: one thread owns the Spectrometer
and runs one thing at a time (open, align, a background or sample run);
requests from the pages reach it through a queue, stop() directly.

Every file of a run becomes a frame for the pages (frames.py), every change
of state a status message; both go to `publish(kind, message)`, which must
be callable from this thread (the server hands them to its event loop).
"""

import contextlib
import json
import logging
import queue
import threading
import time

import numpy

from .. import sim
from ..bands import find_bands
from ..errors import NadixqError
from ..fourier import absorbance, spectrum
from ..instrument import Spectrometer
from ..processing import BASELINE_LINEAR, baseline_correct_ifg, find_zpd
from . import frames, settings as settings_module

log = logging.getLogger("nadixq.web")

# The converter's full scale, in counts either side of zero: the signal is
# shown as its largest |value| in per cent of it.
FULL_SCALE = 32768.0
# The range the spectra are shown and searched for bands in.
SHOWN_RANGE = (400.0, 4000.0)
BAND_PROMINENCE = 0.05
MOST_BANDS = 24

IDLE, OPENING, ALIGN = "idle", "opening", "align"
KINDS = ("background", "sample")


class Busy(RuntimeError):
    """A request that the current state does not allow (a run is going)."""


def _now_ms():
    return time.time() * 1000.0


def _fault(error, text=None):
    code = getattr(error, "code", None)
    return {"message": text or str(error), "step": getattr(error, "step", None),
            "code": None if code is None else "0x%08X" % (code & 0xFFFFFFFF)
            if not -0x10000 < code < 0x10000 else "%d" % code,
            "time": _now_ms()}


class Station:
    def __init__(self, model, store, publish):
        self.model = model
        self.store = store
        self._publish = publish
        self._lock = threading.RLock()
        self._queue = queue.Queue()
        self._thread = threading.Thread(target=self._serve, name="nadixq-station", daemon=True)
        self._spectrometer = None
        self._configured = None  # (points, gain) the board was calibrated for
        self.mode = OPENING
        self.settings = dict(settings_module.DEFAULTS)
        self.fault = None
        self.notice = None
        self.run = None  # the record of the run going on
        self.background = None  # {"id", "time", "spectrum"}
        self._stop_asked = False
        self._sequence = 0
        self.simulated = _simulated()
        newest = store.newest_background()
        if newest is not None:
            with contextlib.suppress(Exception):
                single = store.single_beam(newest["id"])
                if single is not None:
                    self.background = {"id": newest["id"], "time": newest["started"],
                                       "spectrum": single}

    # Requests, from any thread.

    def start(self):
        self._thread.start()
        self._queue.put(("open",))

    def shutdown(self):
        self.stop()
        self._queue.put(None)
        self._thread.join(30.0)
        with self._lock:
            if self._spectrometer is not None:
                self._spectrometer.close()
                self._spectrometer = None

    def reopen(self):
        self.stop()
        self._queue.put(("open",))

    def align(self):
        with self._lock:
            if self.mode in KINDS:
                raise Busy("a %s run is going: stop it first" % self.mode)
            if self.mode == ALIGN:
                return
        self._queue.put(("align",))

    def measure(self, kind, changes):
        """Starts a background or sample run with the settings changed by
        `changes` (validated: ValueError with the reason)."""
        if kind not in KINDS:
            raise ValueError("the kind of run is background or sample, not %r" % (kind,))
        with self._lock:
            chosen = settings_module.validated(changes, self.settings)
            if self.mode in KINDS:
                raise Busy("a %s run is going: stop it first" % self.mode)
            if self.mode == ALIGN:
                self._stop_locked()
        self._queue.put(("measure", kind, chosen))

    def change_settings(self, changes):
        with self._lock:
            self.settings = settings_module.validated(changes, self.settings)
        self.publish_status()

    def stop(self):
        with self._lock:
            self._stop_locked()

    def _stop_locked(self):
        self._stop_asked = True
        if self._spectrometer is not None and self.mode in (ALIGN,) + KINDS:
            try:
                self._spectrometer.stop()
            except (NadixqError, ValueError) as error:
                log.warning("stop: %s", error)

    def simulator(self, action):
        """The simulated instrument's board unplugged or plugged in again."""
        if not self.simulated:
            raise ValueError("the instrument is not the simulated one")
        if action == "unplug":
            sim.unplug()
        elif action == "replug":
            replug = getattr(sim, "replug", None)
            replug() if replug else sim.reset()
        else:
            raise ValueError("the simulator's actions are unplug and replug, not %r" % (action,))

    # State.

    def status(self):
        with self._lock:
            s = self._spectrometer
            progress = {"scans": 0, "files": 0, "scans_per_file": self.settings["scans"],
                        "files_per_run": self.settings["files"]}
            points = library_status = None
            if s is not None and not s.closed:
                with contextlib.suppress(NadixqError, ValueError):
                    progress["scans"], progress["files"] = s.scan_progress, s.file_progress
                    points, library_status = s.points, s.status
            if self.mode == ALIGN:
                progress.update(scans_per_file=1, files_per_run=0)
            background = None
            if self.background is not None:
                background = {"id": self.background["id"], "time": self.background["time"],
                              "points": len(self.background["spectrum"])}
            return {"type": "status", "model": self.model, "simulated": self.simulated,
                    "mode": self.mode, "open": s is not None and not s.closed,
                    "library_status": library_status, "points": points,
                    "settings": dict(self.settings), "progress": progress,
                    "run": dict(self.run) if self.run else None, "background": background,
                    "fault": self.fault, "notice": self.notice, "server_time": _now_ms()}

    def publish_status(self):
        self._publish("status", json.dumps(self.status()))

    def publish_runs(self):
        self._publish("runs", json.dumps({"type": "runs", "runs": self.store.records()}))

    @property
    def busy(self):
        return self.mode in (ALIGN,) + KINDS

    # The thread.

    def _serve(self):
        while True:
            request = self._queue.get()
            if request is None:
                return
            handler = getattr(self, "_" + request[0])
            with self._lock:
                self._stop_asked = False
            try:
                handler(*request[1:])
            except NadixqError as error:
                log.warning("%s: %s", request[0], error)
                self._set(fault=_fault(error))
            except (ValueError, TypeError, OSError) as error:
                log.warning("%s: %s", request[0], error)
                self._set(fault=_fault(error))
            except Exception as error:  # shown on the page rather than lost in a thread
                log.exception("%s failed", request[0])
                self._set(fault=_fault(error, "%s: %s" % (type(error).__name__, error)))
            finally:
                self._set(mode=IDLE, run=None)

    def _set(self, **changes):
        with self._lock:
            for name, value in changes.items():
                setattr(self, name, value)
        self.publish_status()

    def _open(self):
        self._set(mode=OPENING, notice=None)
        with self._lock:
            if self._spectrometer is not None:
                self._spectrometer.close()
                self._spectrometer = None
            self._configured = None
        spectrometer = Spectrometer(self.model)
        with self._lock:
            self._spectrometer = spectrometer
        self._configure(self.settings)
        self._set(fault=None)

    def _ready_instrument(self):
        with self._lock:
            s = self._spectrometer
        if s is None or s.closed:
            raise ValueError("the instrument is not open: re-open it")
        return s

    def _configure(self, chosen):
        """Sends the settings to the board; initializes and calibrates again
        only when the points or the gain changed."""
        s = self._ready_instrument()
        s.gain = chosen["gain"]
        s.resolution = chosen["resolution"]
        wanted = (s.points, chosen["gain"])
        if wanted != self._configured:
            s.initialize()
            s.calibrate()
            self._configured = wanted
        return s

    def _align(self):
        s = self._configure(self.settings)
        self._set(mode=ALIGN, fault=None, notice=None)
        delivered = 0
        with contextlib.closing(s.acquire(files=0, scans=1)) as files:
            for acquired in files:
                received = _now_ms()
                delivered += 1
                self._publish("align", self._align_frame(acquired, received))
        self._check_ended(delivered, 0)

    def _align_frame(self, acquired, received):
        values = numpy.asarray(acquired.values)
        work = numpy.array(values)
        baseline_correct_ifg(work, BASELINE_LINEAR)
        zpd = getattr(acquired, "zpd", None)
        if zpd is None:
            try:
                zpd = find_zpd(work)
            except NadixqError:
                zpd = None
        self._sequence += 1
        header = {"type": "align", "seq": self._sequence, "t_signal": received,
                  "t_sent": _now_ms(), "points": int(values.size), "zpd": zpd,
                  "pp": float(work.max() - work.min()),
                  "signal": 100.0 * float(numpy.max(numpy.abs(values))) / FULL_SCALE}
        return frames.encode(header, [("ifg", values)])

    def _measure(self, kind, chosen):
        with self._lock:
            self.settings = chosen
        s = self._configure(chosen)
        background = self.background if kind == "sample" else None
        notice = None
        if kind == "sample" and background is None:
            notice = "no background: the sample shows its single beam only; take a background"
        if self.simulated:
            sim.set_sample_in_beam(kind == "sample")
        record, path = self.store.begin(kind, chosen, self.model,
                                        background["id"] if background else None)
        self._set(mode=kind, run=record, fault=None, notice=notice)
        self.publish_runs()
        delivered, total, result = 0, None, "complete"
        try:
            with contextlib.closing(s.acquire(files=chosen["files"], scans=chosen["scans"],
                                              stream=path)) as files:
                for acquired in files:
                    received = _now_ms()
                    values = numpy.asarray(acquired.values, dtype=numpy.float64)
                    total = values.copy() if total is None else total + values
                    delivered += 1
                    with self._lock:
                        self.run["files"] = delivered
                    self._publish("measure", self._measure_frame(
                        kind, record["id"], values, delivered, received, background))
            with self._lock:
                stopped = self._stop_asked
            if stopped:
                result = "stopped"
            self._check_ended(delivered, chosen["files"])
        except NadixqError as error:
            result = "failed: %s" % error
            raise
        finally:
            if kind == "background" and delivered:
                mean = spectrum(total / delivered)
                with self._lock:
                    self.background = {"id": record["id"], "time": record["started"],
                                       "spectrum": mean}
            self.store.finish(record["id"], files=delivered, result=result)
            self.publish_runs()

    def _measure_frame(self, kind, run_id, values, index, received, background):
        single = spectrum(values)
        shown = (single.wavenumber >= SHOWN_RANGE[0]) & (single.wavenumber <= SHOWN_RANGE[1])
        arrays = [("single", single.values)]
        bands = []
        if background is not None and len(background["spectrum"]) != len(single):
            background = None
            self._set(notice="the background was taken at other settings: take a new one; "
                             "the sample shows its single beam only")
        if background is not None:
            ratio = absorbance(single, background["spectrum"])
            bands = find_bands(ratio, BAND_PROMINENCE, *SHOWN_RANGE)[:MOST_BANDS]
            shown &= numpy.isfinite(ratio.values)
            arrays += [("background", background["spectrum"].values),
                       ("absorbance", ratio.values)]
        header = {"type": "measure", "kind": kind, "run": run_id, "file": index,
                  "t_signal": received, "t_sent": _now_ms(), "resolution": single.resolution,
                  "background": background["id"] if background else None,
                  "bands": [[float(w), float(h)] for w, h in sorted(bands, reverse=True)]}
        arrays = [("wavenumber", single.wavenumber[shown])] + [
            (name, values[shown]) for name, values in arrays]
        return frames.encode(header, arrays)

    def _check_ended(self, delivered, asked):
        """A run that ended before its count without a stop failed: the
        library's own error when it raised one, this otherwise."""
        with self._lock:
            stopped = self._stop_asked
        if stopped or (asked and delivered >= asked):
            return
        raise _RunEnded(delivered, asked)


class _RunEnded(ValueError):
    # The library reports no result of its own for a run that ends early:
    # shown as a refusal, code 1.
    code = 1
    step = "run"

    def __init__(self, delivered, asked):
        wanted = "%d files" % asked if asked else "until stopped"
        super().__init__("the run ended by itself after %d files (asked: %s): the board failed "
                         "or was unplugged" % (delivered, wanted))


def run_frame(store, run_id):
    """A measure frame of a kept run (the mean of its files), or None."""
    shown = store.result(run_id)
    if shown is None:
        return None
    record, single, background, ratio = shown
    inside = (single.wavenumber >= SHOWN_RANGE[0]) & (single.wavenumber <= SHOWN_RANGE[1])
    arrays = [("single", single.values)]
    bands = []
    if ratio is not None:
        inside &= numpy.isfinite(ratio.values)
        bands = find_bands(ratio, BAND_PROMINENCE, *SHOWN_RANGE)[:MOST_BANDS]
        arrays += [("background", background.values), ("absorbance", ratio.values)]
    header = {"type": "measure", "kind": record["kind"], "run": run_id, "file": record["files"],
              "kept": True, "t_signal": None, "resolution": single.resolution,
              "background": record.get("background"),
              "bands": [[float(w), float(h)] for w, h in sorted(bands, reverse=True)]}
    return frames.encode(header, [("wavenumber", single.wavenumber[inside])] +
                         [(name, values[inside]) for name, values in arrays])


def _simulated():
    try:
        return sim.available()
    except Exception:
        return False
