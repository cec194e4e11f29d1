"""The runs kept in the data folder: one SPC file per run, streamed there by
the library, and a JSON sidecar beside it with the settings, kind, times,
model and result. The index is rebuilt from the folder at start; a run is
named by its id only, so no path from a request reaches the file system."""

from __future__ import annotations

import datetime
import json
import os
import re
import tempfile
import threading
from typing import Any, Dict, List, Optional, Tuple

import numpy

from .. import jcamp, spc
from ..fourier import Spectrum, absorbance, spectrum

Record = Dict[str, Any]

# Ids are made here: a UTC time, the kind, and a counter when two runs start
# within the same second.
ID_PATTERN = re.compile(r"\d{8}-\d{6}-(background|sample)(-\d+)?")
# A sidecar left "running" by a server that did not end the run.
INTERRUPTED = "interrupted"


def _now_ms() -> float:
    return datetime.datetime.now(datetime.timezone.utc).timestamp() * 1000.0


class RunStore:
    def __init__(self, folder: str) -> None:
        self.folder = os.path.abspath(folder)
        os.makedirs(self.folder, exist_ok=True)
        self._lock = threading.Lock()
        self._index: Dict[str, Record] = {}
        self._rebuild()

    def _rebuild(self) -> None:
        for name in sorted(os.listdir(self.folder)):
            run_id, extension = os.path.splitext(name)
            if extension != ".json" or not ID_PATTERN.fullmatch(run_id):
                continue
            if not os.path.isfile(self.spc_path_of(run_id)):
                continue
            try:
                with open(os.path.join(self.folder, name)) as sidecar:
                    record = json.load(sidecar)
            except (OSError, ValueError):
                continue
            if not isinstance(record, dict):
                continue
            record["id"] = run_id
            if record.get("result") == "running":
                record["result"] = INTERRUPTED
            self._index[run_id] = record

    def spc_path_of(self, run_id: str) -> str:
        return os.path.join(self.folder, run_id + ".spc")

    def begin(self, kind: str, settings: Dict[str, Any], model: int,
              background: Optional[str] = None) -> Tuple[Record, str]:
        """A new run's record (written at once, result "running") and the
        path of its SPC file."""
        stamp = datetime.datetime.now(datetime.timezone.utc).strftime("%Y%m%d-%H%M%S")
        with self._lock:
            run_id, counter = "%s-%s" % (stamp, kind), 1
            while run_id in self._index or os.path.exists(self.spc_path_of(run_id)):
                counter += 1
                run_id = "%s-%s-%d" % (stamp, kind, counter)
            record: Record = {"id": run_id, "kind": kind, "model": model,
                              "settings": dict(settings), "background": background,
                              "started": _now_ms(), "ended": None, "files": 0,
                              "result": "running"}
            self._index[run_id] = record
        self._write(record)
        return dict(record), self.spc_path_of(run_id)

    def finish(self, run_id: str, **changes: Any) -> Record:
        with self._lock:
            record = self._index[run_id]
            record.update(changes, ended=_now_ms())
            record = dict(record)
        self._write(record)
        return record

    def _write(self, record: Record) -> None:
        path = os.path.join(self.folder, record["id"] + ".json")
        with tempfile.NamedTemporaryFile("w", dir=self.folder, suffix=".tmp",
                                         delete=False) as partial:
            json.dump(record, partial, indent=1)
        os.replace(partial.name, path)

    def record(self, run_id: Any) -> Optional[Record]:
        """The run's record, or None for anything that is not an id of the
        index (a path, an encoded path, an unknown name)."""
        with self._lock:
            record = self._index.get(run_id) if isinstance(run_id, str) else None
            return dict(record) if record else None

    def records(self) -> List[Record]:
        """Every run, newest first."""
        with self._lock:
            return sorted((dict(r) for r in self._index.values()),
                          key=lambda r: r.get("started") or 0, reverse=True)

    def newest_background(self) -> Optional[Record]:
        for record in self.records():
            if record.get("kind") == "background" and record.get("files"):
                return record
        return None

    # What a run holds, for the plots and the downloads.

    def single_beam(self, run_id: str) -> Optional[Spectrum]:
        """The single-beam spectrum of the mean of the run's files, or None
        when the run has none."""
        record = self.record(run_id)
        if record is None:
            return None
        with spc.read(self.spc_path_of(run_id)) as kept:
            if len(kept) == 0:
                return None
            mean = kept.y.mean(axis=0, dtype=numpy.float64)
        result = spectrum(mean)
        # The file keeps its times only to a float32's step; the sidecar has
        # the run's start exactly.
        if record.get("started"):
            result.timestamp = datetime.datetime.fromtimestamp(record["started"] / 1000.0,
                                                               datetime.timezone.utc)
        return result

    def result(self, run_id: str) -> Optional[Tuple[Record, Spectrum, Optional[Spectrum],
                                                    Optional[Spectrum]]]:
        """(record, single beam, background's single beam or None, absorbance
        or None) of a run, or None when there is nothing to show."""
        record = self.record(run_id)
        if record is None:
            return None
        single = self.single_beam(run_id)
        if single is None:
            return None
        background = ratio = None
        if record.get("kind") == "sample" and record.get("background"):
            background = self.single_beam(record["background"])
            if background is not None and len(background) == len(single):
                ratio = absorbance(single, background)
            else:
                background = None
        return record, single, background, ratio

    def jcamp_text(self, run_id: str) -> Optional[bytes]:
        """The run as JCAMP-DX: the absorbance against its background, or its
        single beam. None when the run holds no file."""
        shown = self.result(run_id)
        if shown is None:
            return None
        record, single, background, ratio = shown
        chosen = ratio if ratio is not None else single
        low, high = (None, None) if ratio is not None else _lit_range(single)
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "run.jdx")
            jcamp.write(path, chosen, title="%s %s" % (chosen.kind, run_id), low=low, high=high,
                        model=record.get("model"))
            with open(path, "rb") as written:
                return written.read()


def _lit_range(single_beam: Spectrum) -> Tuple[float, float]:
    lit = numpy.flatnonzero(single_beam.values > 0.01 * numpy.max(single_beam.values))
    return float(single_beam.wavenumber[lit[0]]), float(single_beam.wavenumber[lit[-1]])
