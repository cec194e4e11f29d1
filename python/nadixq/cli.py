"""The command line: python3 -m nadixq acquire | spectrum | plot.

    acquire   runs acquisitions on the instrument, as nadixq-acquire does, and
              records a background and a sample into SPC files
    spectrum  turns SPC runs into a single-beam, transmittance or absorbance
              spectrum, writes it as JCAMP-DX and prints its bands
    plot      draws a run: the interferogram's centre burst, the single-beam
              spectra and the absorbance with its bands labelled (PNG)
    serve     serves the instrument's live view to a browser (nadixq.web)
    tango     runs the instrument as the Tango device server NadixqSpectrometer

A subcommand is a function that adds its parser to the subparsers it is
given and sets the parser's `handler` (a function of the parsed options
that returns the exit status); SUBCOMMANDS lists them in the order of the
help text. A subcommand whose code needs more than this package imports it
in its handler.
"""

from __future__ import annotations

import argparse
import contextlib
import datetime
import logging
import os
import sys
from typing import Any, Callable, List, Optional, Sequence, Tuple

import numpy

from . import jcamp, sim, spc
from .apodization import NAMES as APODIZATIONS
from .bands import find_bands
from .errors import NadixqError
from .instrument import Spectrometer
from .processing import BASELINE_LINEAR, BASELINE_MEAN, baseline_correct_ifg
from .fourier import (PHASE_MODES, SAMPLING_WAVENUMBER, TRANSMITTANCE, ZERO_FILL_FACTORS, Array,
                      Spectrum, absorbance, spectrum, transmittance)

EXIT_OK = 0
EXIT_FAILURE = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130

# The range spectroscopists read a mid-infrared absorbance spectrum over.
BAND_RANGE = (400.0, 4000.0)


def main(argv: Optional[Sequence[str]] = None) -> int:
    parser = _parser()
    options = parser.parse_args(argv)
    if options.command is None:
        parser.print_help()
        return EXIT_USAGE
    if getattr(options, "verbose", False):
        logging.basicConfig(level=logging.DEBUG, format="%(name)s: %(message)s")
    try:
        return int(options.handler(options))
    except (NadixqError, OSError, ValueError) as error:
        print("nadixq: %s" % error, file=sys.stderr)
    return EXIT_FAILURE


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="python3 -m nadixq", description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", metavar="command")
    for add in SUBCOMMANDS:
        add(commands)
    return parser


def _add_acquire(commands: Any) -> None:
    acquire = commands.add_parser(
        "acquire", help="run acquisitions, record a background and a sample",
        description="Runs acquisitions on the instrument and reports every file. --background "
                    "and --sample record one run each (on the simulated instrument with the "
                    "sample out of and in the beam; on a board, the command waits for the "
                    "sample to be put in between), --out a plain run.")
    acquire.add_argument("--model", type=int, default=1, help="board model, 1 to 5 (default 1)")
    detail = acquire.add_mutually_exclusive_group()
    detail.add_argument("--resolution", type=_positive_float,
                        help="spectral resolution in cm^-1, 0.5 or coarser (sets the points)")
    detail.add_argument("--points", type=int,
                        help="points per interferogram, 1 to 32767, or 32768 for the finest")
    acquire.add_argument("--scans", type=_positive_int, default=16,
                         help="scans co-added per file (default 16)")
    acquire.add_argument("--files", type=int, default=1,
                         help="files per run; 0 runs until Ctrl-C (default 1)")
    acquire.add_argument("--gain", type=float, default=1.0, choices=(1.0, 2.0, 4.0),
                         help="gain multiple (default 1)")
    acquire.add_argument("--timeout", type=_positive_float, metavar="SECONDS",
                         help="longest wait for one file (default: generous for the settings)")
    acquire.add_argument("--background", metavar="FILE.spc",
                         help="record a background run (the sample out of the beam) into FILE")
    acquire.add_argument("--sample", metavar="FILE.spc",
                         help="record a sample run into FILE (after the background)")
    acquire.add_argument("--out", metavar="FILE.spc", help="record a plain run into FILE")
    acquire.add_argument("--quiet", action="store_true", help="print nothing but errors")
    acquire.add_argument("--verbose", action="store_true",
                         help="log the runs and every file (logger nadixq)")
    acquire.add_argument("--sim-noise", type=float, metavar="SIGMA",
                         help="simulated instrument: noise per sample, in counts")
    acquire.add_argument("--sim-seed", type=int, metavar="N", help="simulated instrument: seed")
    acquire.add_argument("--sim-rate", type=_positive_float, metavar="HZ",
                         help="simulated instrument: sample rate of the sweep")
    acquire.add_argument("--sim-no-sample", action="store_true",
                         help="simulated instrument: the sample out of the beam for --out")
    acquire.set_defaults(handler=_acquire)


def _add_spectrum_and_plot(commands: Any) -> None:
    for name, text in (("spectrum", "turn SPC runs into a spectrum, JCAMP-DX and a band table"),
                       ("plot", "draw a run and its absorbance into a PNG file")):
        command = commands.add_parser(name, help=text, description=text[0].upper() + text[1:] +
                                      ". A run's subfiles are averaged.")
        command.add_argument("run", metavar="RUN.spc", help="the sample's run")
        command.add_argument("--background", metavar="BG.spc",
                             help="the background's run: gives transmittance and absorbance")
        command.add_argument("-o", "--output", metavar="FILE",
                             help="the JCAMP-DX file to write" if name == "spectrum"
                             else "the PNG file to write (default: RUN.png)")
        _processing_options(command)
        command.set_defaults(handler=_spectrum if name == "spectrum" else _plot)


def _processing_options(command: argparse.ArgumentParser) -> None:
    command.add_argument("--apodization", choices=APODIZATIONS, default="happ-genzel",
                         help="apodization window (default happ-genzel)")
    command.add_argument("--zero-fill", type=int, choices=ZERO_FILL_FACTORS, default=2,
                         help="zero filling factor (default 2)")
    command.add_argument("--phase", choices=PHASE_MODES, default="mertz",
                         help="phase correction (default mertz)")
    sampling = command.add_mutually_exclusive_group()
    sampling.add_argument("--sampling-wavenumber", type=_positive_float, metavar="CM-1",
                          help="1 / sample spacing in cm^-1 (default: twice the folding "
                               "wavenumber in the SPC file, else %g)" % SAMPLING_WAVENUMBER)
    sampling.add_argument("--laser", type=_positive_float, metavar="CM-1",
                          help="reference laser wavenumber of an instrument that samples at "
                               "every zero crossing (the sampling wavenumber is twice it)")
    command.add_argument("--subfile", type=int, metavar="N",
                         help="use subfile N (from 0) instead of the mean of all")
    command.add_argument("--transmittance", action="store_true",
                         help="transmittance rather than absorbance")
    command.add_argument("--prominence", type=_positive_float, default=0.05,
                         help="least prominence of a band (default 0.05)")
    command.add_argument("--model", type=int, help="the board model that recorded the runs")
    command.add_argument("--title", help="title of the spectrum")
    command.add_argument("--owner", help="owner of the data, for the JCAMP-DX file")


# acquire ---------------------------------------------------------------------


def _acquire(options: argparse.Namespace) -> int:
    runs: List[Tuple[Optional[str], bool, str]] = [(path, in_beam, label) for path, in_beam, label in (
        (options.background, False, "background"), (options.sample, True, "sample"),
        (options.out, not options.sim_no_sample, "run")) if path]
    if not runs:
        runs = [(None, not options.sim_no_sample, "run")]
    simulated = sim.available()
    if simulated:
        if options.sim_noise is not None:
            sim.set_noise(options.sim_noise)
        if options.sim_seed is not None:
            sim.set_seed(options.sim_seed)
        if options.sim_rate is not None:
            sim.set_scan_rate(options.sim_rate)
    def say(text: str) -> None:
        if not options.quiet:
            print(text, flush=True)

    with Spectrometer(options.model) as s:
        s.gain = options.gain
        if options.resolution is not None:
            s.resolution = options.resolution
        if options.points is not None:
            s.points = options.points
        s.scans, s.files = options.scans, options.files
        s.initialize()
        s.calibrate()
        try:
            for path, in_beam, label in runs:
                if simulated:
                    sim.set_sample_in_beam(in_beam)
                elif len(runs) > 1 and sys.stdin.isatty():
                    input("%s the sample %s the beam and press Enter " % (
                        ("put", "in") if in_beam else ("take", "out of")))
                target = " -> %s" % path if path else ""
                files = "%d files" % options.files if options.files else "files until Ctrl-C"
                say("%s: model %d, %d points, %d scans per file, %s%s" % (
                    label, options.model, s.points, options.scans, files, target))
                # Closing the generator, also on Ctrl-C, stops the run and
                # completes the stream file. A run that fails raises.
                with contextlib.closing(s.acquire(stream=path,
                                                  timeout=options.timeout)) as files_of_run:
                    for acquired in files_of_run:
                        zpd = "ZPD %d" % acquired.zpd if acquired.zpd is not None else \
                            "ZPD not found"
                        say("  file %d  %s  %s (largest sample of the burst)  p-p %.1f" % (
                            (acquired.index or 0) + 1, _local_time(acquired.time), zpd,
                            _peak_to_peak(acquired.values)))
        except KeyboardInterrupt:
            say("stopped")
            return EXIT_INTERRUPTED if options.files else EXIT_OK
        finally:
            if simulated:
                sim.set_sample_in_beam(True)
    return EXIT_OK


def _local_time(stamp: datetime.datetime) -> str:
    return stamp.astimezone().isoformat(timespec="milliseconds")


def _peak_to_peak(values: Array) -> float:
    work = numpy.array(values)
    baseline_correct_ifg(work, BASELINE_LINEAR if work.size >= 64 else BASELINE_MEAN)
    return float(work.max() - work.min())


# spectrum and plot -----------------------------------------------------------


class _Run:
    """One SPC run: its mean (or chosen) interferogram and that one's spectrum."""

    def __init__(self, path: str, options: argparse.Namespace) -> None:
        self.path = path
        with spc.read(path) as run:
            if len(run) == 0:
                raise ValueError("%s holds no subfile" % path)
            if options.subfile is None:
                self.interferogram: Array = run.y.mean(axis=0, dtype=numpy.float64)
                first = run.subfiles[0]
            else:
                if not 0 <= options.subfile < len(run):
                    raise ValueError("%s has subfiles 0 to %d" % (path, len(run) - 1))
                first = run.subfiles[options.subfile]
                self.interferogram = numpy.array(first.values, dtype=numpy.float64)
            sampling = _sampling(options, run)
            # The subfile's time is a float32 of seconds: to its step, not more.
            self.time = datetime.datetime.fromtimestamp(round(first.seconds),
                                                        datetime.timezone.utc)
        self.spectrum = spectrum(self.interferogram, options.apodization, options.zero_fill,
                                 options.phase, sampling_wavenumber=sampling)
        self.spectrum.time = self.time


def _sampling(options: argparse.Namespace, run: spc.SpcFile) -> float:
    if options.laser is not None:
        return 2.0 * float(options.laser)
    if options.sampling_wavenumber is not None:
        return float(options.sampling_wavenumber)
    return run.sampling_wavenumber or SAMPLING_WAVENUMBER


def _result(options: argparse.Namespace) -> Tuple[_Run, Optional[_Run], Spectrum]:
    """The sample's run, the background's (or None) and the spectrum to report."""
    sample = _Run(options.run, options)
    if options.background is None:
        return sample, None, sample.spectrum
    background = _Run(options.background, options)
    ratio = transmittance if options.transmittance else absorbance
    return sample, background, ratio(sample.spectrum, background.spectrum)


def _spectrum(options: argparse.Namespace) -> int:
    sample, background, result = _result(options)
    if options.output:
        # A single beam where it rises above 1% of its largest value; a ratio
        # is written where it is finite.
        low, high = (None, None) if background else _lit_range(result)
        jcamp.write(options.output, result, title=options.title or _title(options, result),
                    low=low, high=high, model=options.model, owner=options.owner)
        print("wrote %s (%s)" % (options.output, result.kind))
    if background is not None:
        _print_bands(result, options.prominence)
    return EXIT_OK


def _plot(options: argparse.Namespace) -> int:
    try:
        # Pictures into files, without a display: the command line's choice.
        import matplotlib  # type: ignore[import]
        matplotlib.use("Agg")
        from . import plot
    except ImportError as error:
        raise ValueError("plots need matplotlib (Debian: python3-matplotlib): %s" % error)
    sample, background, result = _result(options)
    output = options.output or os.path.splitext(options.run)[0] + ".png"
    bands = find_bands(result, options.prominence, *BAND_RANGE) if background else []
    plot.draw_run(output, options.title or _title(options, result), sample.interferogram,
                  sample.spectrum, background.interferogram if background else None,
                  background.spectrum if background else None, result if background else None,
                  bands)
    print("wrote %s" % output)
    return EXIT_OK


def _title(options: argparse.Namespace, result: Spectrum) -> str:
    name = os.path.basename(options.run)
    if options.background:
        return "%s of %s against %s" % (result.kind, name, os.path.basename(options.background))
    return "single-beam spectrum of %s" % name


def _lit_range(single_beam: Spectrum) -> Tuple[float, float]:
    lit = numpy.flatnonzero(single_beam.values > 0.01 * numpy.max(single_beam.values))
    return float(single_beam.wavenumber[lit[0]]), float(single_beam.wavenumber[lit[-1]])


def _print_bands(result: Spectrum, prominence: float) -> None:
    bands = sorted(find_bands(result, prominence, *BAND_RANGE), reverse=True)
    unit = "transmittance" if result.kind == TRANSMITTANCE else "absorbance"
    print("%d bands from %g to %g cm^-1 (prominence %g):" % (
        len(bands), BAND_RANGE[1], BAND_RANGE[0], prominence))
    print("  %14s  %13s" % ("wavenumber/cm-1", unit))
    for centre, height in bands:
        print("  %14.1f  %13.3f" % (centre, height))


def _positive_float(text: str) -> float:
    value = float(text)
    if not value > 0.0 or value == float("inf"):
        raise argparse.ArgumentTypeError("must be a positive number: %s" % text)
    return value


def _positive_int(text: str) -> int:
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be 1 or more: %s" % text)
    return value


def _add_serve(commands: Any) -> None:
    from . import web
    serve = commands.add_parser("serve", help="serve the instrument's live view to a browser",
                                description=web.__doc__.split("\n")[0] if web.__doc__ else None)
    web.add_arguments(serve)
    serve.set_defaults(handler=web.serve)


def _add_tango(commands: Any) -> None:
    tango = commands.add_parser(
        "tango", help="run the Tango device server NadixqSpectrometer",
        description="Runs the Tango device server NadixqSpectrometer/INSTANCE (as the installed "
                    "NadixqSpectrometer script does); the options after INSTANCE are Tango's, "
                    "e.g. -nodb -port 45450 -dlist lab/ftir/1 without a database.")
    tango.add_argument("instance", help="the server's instance name")
    tango.add_argument("options", nargs=argparse.REMAINDER, help="Tango server options")
    tango.set_defaults(handler=_tango)


def _tango(options: argparse.Namespace) -> int:
    try:
        from . import tango
    except ImportError as error:
        raise ValueError("the Tango server needs PyTango (Debian: python3-tango): %s" % error)
    return tango.main([options.instance] + options.options)


SUBCOMMANDS: List[Callable[[Any], None]] = [
    _add_acquire, _add_spectrum_and_plot, _add_serve, _add_tango]

if __name__ == "__main__":
    sys.exit(main())
