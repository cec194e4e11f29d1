"""The instrument as the server drives it: one thread owns the Spectrometer
and runs one thing at a time (open, align, a background or sample run);
requests from the pages reach it through a queue, stop() directly.

Every file of a run becomes a frame for the pages (frames.py), every change
of state a status message; both go to `publish(kind, message)`, which must
be callable from this thread (the server hands them to its event loop).
"""

from __future__ import annotations

import contextlib
import json
import logging
import queue
import threading
import time
from typing import Any, Callable, Dict, List, Optional, Tuple, Union

import numpy
import numpy.typing

from .. import sim
from ..bands import find_bands
from ..errors import NadixqError
from ..fourier import Spectrum, absorbance, spectrum
from ..instrument import Interferogram, Spectrometer
from ..processing import BASELINE_LINEAR, baseline_correct_ifg
from . import frames, settings as settings_module
from .runs import Record, RunStore

Publish = Callable[[str, Union[bytes, str]], None]
Request = Tuple[Any, ...]

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


def _now_ms() -> float:
    return time.time() * 1000.0


def _fault(error: BaseException, text: Optional[str] = None) -> Dict[str, Any]:
    """The banner's content: the library's message and result code."""
    code = getattr(error, "code", None)
    shown = None
    if isinstance(code, int):
        shown = "%d" % code if -0x10000 < code < 0x10000 else "0x%08X" % (code & 0xFFFFFFFF)
    return {"message": text or str(error), "step": getattr(error, "step", None), "code": shown,
            "time": _now_ms()}


class Station:
    def __init__(self, model: int, store: RunStore, publish: Publish) -> None:
        self.model = model
        self.store = store
        self._publish = publish
        self._lock = threading.RLock()
        self._queue: "queue.Queue[Optional[Request]]" = queue.Queue()
        self._thread = threading.Thread(target=self._serve, name="nadixq-station", daemon=True)
        self._spectrometer: Optional[Spectrometer] = None
        # (points, gain) the board was initialized and calibrated for.
        self._configured: Optional[Tuple[int, int]] = None
        self.mode = OPENING
        self.settings = dict(settings_module.DEFAULTS)
        self.fault: Optional[Dict[str, Any]] = None
        self.notice: Optional[str] = None
        self.run: Optional[Record] = None  # the record of the run going on
        self.background: Optional[Dict[str, Any]] = None  # {"id", "time", "spectrum"}
        # Requests are numbered as they are queued; a stop ends every one
        # queued so far, also one that has not started yet.
        self._queued = 0
        self._stopped_through = 0
        self._current = 0
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

    def start(self) -> None:
        self._thread.start()
        self._enqueue("open")

    def shutdown(self) -> None:
        self.stop()
        self._queue.put(None)
        if self._thread.is_alive():
            self._thread.join(30.0)
        with self._lock:
            if self._spectrometer is not None:
                self._spectrometer.close()
                self._spectrometer = None

    def reopen(self) -> None:
        self.stop()
        self._enqueue("open")

    def align(self) -> None:
        with self._lock:
            if self.mode in KINDS:
                raise Busy("a %s run is going: stop it first" % self.mode)
            if self.mode == ALIGN:
                return
        self._enqueue("align")

    def measure(self, kind: Any, changes: Any) -> None:
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
        self._enqueue("measure", kind, chosen)

    def change_settings(self, changes: Any) -> None:
        with self._lock:
            self.settings = settings_module.validated(changes, self.settings)
        self.publish_status()

    def _enqueue(self, *request: Any) -> None:
        with self._lock:
            self._queued += 1
            self._queue.put((self._queued,) + request)

    def _stopped(self) -> bool:
        with self._lock:
            return self._stopped_through >= self._current

    def stop(self) -> None:
        with self._lock:
            self._stop_locked()

    def _stop_locked(self) -> None:
        self._stopped_through = self._queued
        if self._spectrometer is not None and self.mode in (ALIGN,) + KINDS:
            try:
                self._spectrometer.stop()
            except (NadixqError, ValueError) as error:
                log.warning("stop: %s", error)

    def simulator(self, action: Any) -> None:
        """The simulated instrument's board unplugged or plugged in again."""
        if not self.simulated:
            raise ValueError("the instrument is not the simulated one")
        if action == "unplug":
            sim.unplug()
        elif action == "replug":
            replug = getattr(sim, "replug", None)
            if replug is not None:
                replug()
            else:
                sim.reset()
        else:
            raise ValueError("the simulator's actions are unplug and replug, not %r" % (action,))

    # State.

    def status(self) -> Dict[str, Any]:
        with self._lock:
            s = self._spectrometer
            progress: Dict[str, int] = {"scans": 0, "files": 0,
                                        "scans_per_file": self.settings["scans"],
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

    def publish_status(self) -> None:
        self._publish("status", json.dumps(self.status()))

    def publish_runs(self) -> None:
        self._publish("runs", json.dumps({"type": "runs", "runs": self.store.records()}))

    @property
    def busy(self) -> bool:
        return self.mode in (ALIGN,) + KINDS

    # The thread.

    def _serve(self) -> None:
        while True:
            request = self._queue.get()
            if request is None:
                return
            number, name = request[0], request[1]
            handler = getattr(self, "_" + name)
            with self._lock:
                self._current = number
            try:
                handler(*request[2:])
            except NadixqError as error:
                log.warning("%s: %s", name, error)
                self._set(fault=_fault(error))
            except (ValueError, TypeError, OSError) as error:
                log.warning("%s: %s", name, error)
                self._set(fault=_fault(error))
            except Exception as error:  # shown on the page rather than lost in a thread
                log.exception("%s failed", name)
                self._set(fault=_fault(error, "%s: %s" % (type(error).__name__, error)))
            finally:
                self._set(mode=IDLE, run=None)

    def _set(self, **changes: Any) -> None:
        with self._lock:
            for name, value in changes.items():
                setattr(self, name, value)
        self.publish_status()

    def _open(self) -> None:
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

    def _ready_instrument(self) -> Spectrometer:
        with self._lock:
            s = self._spectrometer
        if s is None or s.closed:
            raise ValueError("the instrument is not open: re-open it")
        return s

    def _configure(self, chosen: Dict[str, Any]) -> Spectrometer:
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

    def _align(self) -> None:
        s = self._configure(self.settings)
        if self._stopped():
            return  # stopped before it began
        self._set(mode=ALIGN, fault=None, notice=None)
        delivered = 0
        with contextlib.closing(s.acquire(files=0, scans=1)) as files:
            for acquired in files:
                received = _now_ms()
                delivered += 1
                self._publish("align", self._align_frame(acquired, received))
        self._check_ended(delivered, 0)

    def _align_frame(self, acquired: Interferogram, received: float) -> bytes:
        values = numpy.asarray(acquired.values)
        work = numpy.array(values)
        baseline_correct_ifg(work, BASELINE_LINEAR)
        zpd: Optional[int] = acquired.zpd
        self._sequence += 1
        header = {"type": "align", "seq": self._sequence, "t_signal": received,
                  "t_sent": _now_ms(), "points": int(values.size), "zpd": zpd,
                  "pp": float(work.max() - work.min()),
                  "signal": 100.0 * float(numpy.max(numpy.abs(values))) / FULL_SCALE}
        return frames.encode(header, [("ifg", values)])

    def _measure(self, kind: str, chosen: Dict[str, Any]) -> None:
        with self._lock:
            self.settings = chosen
        s = self._configure(chosen)
        if self._stopped():
            return  # stopped before it began: nothing to keep
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
        delivered, result = 0, "complete"
        total: Optional[numpy.typing.NDArray[numpy.float64]] = None
        try:
            with contextlib.closing(s.acquire(files=chosen["files"], scans=chosen["scans"],
                                              stream=path)) as files:
                for acquired in files:
                    received, cpu = _now_ms(), time.thread_time()
                    values = numpy.asarray(acquired.values, dtype=numpy.float64)
                    total = values.copy() if total is None else total + values
                    delivered += 1
                    with self._lock:
                        if self.run is not None:
                            self.run["files"] = delivered
                    frame, ratio = self._measure_frame(kind, record["id"], values, delivered,
                                                       received, cpu, background)
                    self._publish("measure", frame)
                    if ratio is not None:
                        # The band search takes longer than everything else
                        # of a file: its list follows the plots.
                        self._publish("bands", json.dumps({
                            "type": "bands", "run": record["id"], "file": delivered,
                            "t_signal": received, "bands": _band_list(ratio)}))
            if self._stopped():
                result = "stopped"
            self._check_ended(delivered, chosen["files"])
        except NadixqError as error:
            result = "failed: %s" % error
            raise
        finally:
            if kind == "background" and total is not None:
                mean = spectrum(total / delivered)
                with self._lock:
                    self.background = {"id": record["id"], "time": record["started"],
                                       "spectrum": mean}
            self.store.finish(record["id"], files=delivered, result=result)
            self.publish_runs()

    def _measure_frame(self, kind: str, run_id: str, values: numpy.typing.NDArray[numpy.float64],
                       index: int, received: float, cpu: float,
                       background: Optional[Dict[str, Any]]
                       ) -> Tuple[bytes, Optional[Spectrum]]:
        """The frame of a file's spectra, and its absorbance when it has one."""
        single = spectrum(values)
        arrays: List[Tuple[str, numpy.typing.NDArray[numpy.float64]]] = [("single", single.values)]
        ratio = None
        if background is not None and len(background["spectrum"]) != len(single):
            background = None
            self._set(notice="the background was taken at other settings: take a new one; "
                             "the sample shows its single beam only")
        if background is not None:
            ratio = absorbance(single, background["spectrum"])
            arrays += [("background", background["spectrum"].values),
                       ("absorbance", ratio.values)]
        header = {"type": "measure", "kind": kind, "run": run_id, "file": index,
                  "t_signal": received, "t_sent": _now_ms(), "resolution": single.resolution,
                  # The processor time the frame took this thread: the part
                  # of t_sent - t_signal that is the server's own work.
                  "cpu_ms": 1000.0 * (time.thread_time() - cpu),
                  "background": background["id"] if background else None, "bands": None}
        return _spectra_frame(header, single, arrays, ratio), ratio

    def _check_ended(self, delivered: int, asked: int) -> None:
        """A run that ended before its count without a stop failed: the
        library's own error when it raised one, this otherwise."""
        if self._stopped() or (asked and delivered >= asked):
            return
        raise _RunEnded(delivered, asked)


class _RunEnded(ValueError):
    # The library reports no result of its own for a run that ends early:
    # shown as a refusal, code 1.
    code = 1
    step = "run"

    def __init__(self, delivered: int, asked: int) -> None:
        wanted = "%d files" % asked if asked else "until stopped"
        super().__init__("the run ended by itself after %d files (asked: %s): the board failed "
                         "or was unplugged" % (delivered, wanted))


def run_frame(store: RunStore, run_id: str) -> Optional[bytes]:
    """A measure frame of a kept run (the mean of its files), or None."""
    shown = store.result(run_id)
    if shown is None:
        return None
    record, single, background, ratio = shown
    arrays: List[Tuple[str, numpy.typing.NDArray[numpy.float64]]] = [("single", single.values)]
    bands: List[List[float]] = []
    if ratio is not None and background is not None:
        bands = _band_list(ratio)
        arrays += [("background", background.values), ("absorbance", ratio.values)]
    header = {"type": "measure", "kind": record["kind"], "run": run_id, "file": record["files"],
              "kept": True, "t_signal": None, "resolution": single.resolution,
              "background": record.get("background"), "bands": bands}
    return _spectra_frame(header, single, arrays, ratio)


def _spectra_frame(header: Dict[str, Any], single: Spectrum,
                   arrays: List[Tuple[str, numpy.typing.NDArray[numpy.float64]]],
                   ratio: Optional[Spectrum]) -> bytes:
    """A frame of spectra on the single beam's axis, over the shown range
    (narrowed to where the ratio is finite). The axis is even: it goes as
    its first value, step and length, not as an array."""
    wavenumber = single.wavenumber
    keep = (wavenumber >= SHOWN_RANGE[0]) & (wavenumber <= SHOWN_RANGE[1])
    if ratio is not None:
        keep &= numpy.isfinite(ratio.values)
    where = numpy.flatnonzero(keep)
    start, stop = (int(where[0]), int(where[-1]) + 1) if where.size else (0, 0)
    step = float(wavenumber[1] - wavenumber[0]) if wavenumber.size > 1 else 0.0
    first = float(wavenumber[start]) if stop > start else 0.0
    header = dict(header, axis={"first": first, "step": step, "length": stop - start})
    return frames.encode(header, [(name, array[start:stop]) for name, array in arrays])


def _band_list(ratio: Spectrum) -> List[List[float]]:
    """The highest bands of an absorbance, as [wavenumber, height] from the
    highest wavenumber down, as spectroscopists list them."""
    bands = find_bands(ratio, BAND_PROMINENCE, *SHOWN_RANGE)[:MOST_BANDS]
    return [[float(w), float(h)] for w, h in sorted(bands, reverse=True)]


def _simulated() -> bool:
    try:
        return sim.available()
    except Exception:
        return False
