"""The command line: python3 -m nadixq acquire | spectrum | plot.

    acquire   runs acquisitions on the instrument, as nadixq-acquire does, and
              records a background and a sample into SPC files
    spectrum  turns SPC runs into a single-beam, transmittance or absorbance
              spectrum, writes it as JCAMP-DX and prints its bands
    plot      draws a run: the interferogram's centre burst, the single-beam
              spectra and the absorbance with its bands labelled (PNG)
    tango     runs the instrument as the Tango device server NadixqSpectrometer
"""

import argparse
import contextlib
import os
import sys

import numpy

from . import jcamp, sim, spc
from .apodization import NAMES as APODIZATIONS
from .bands import find_bands
from .errors import NadixqError
from .instrument import Spectrometer
from .processing import BASELINE_LINEAR, BASELINE_MEAN, baseline_correct_ifg, find_zpd
from .fourier import (HENE_WAVENUMBER, PHASE_MODES, TRANSMITTANCE, ZERO_FILL_FACTORS, absorbance,
                      spectrum, transmittance)

EXIT_OK = 0
EXIT_FAILURE = 1
EXIT_USAGE = 2
EXIT_INTERRUPTED = 130

# The range spectroscopists read a mid-infrared absorbance spectrum over.
BAND_RANGE = (400.0, 4000.0)


def main(argv=None):
    parser = _parser()
    options = parser.parse_args(argv)
    if options.command is None:
        parser.print_help()
        return EXIT_USAGE
    try:
        return options.handler(options)
    except NadixqError as error:
        print("nadixq: %s" % error, file=sys.stderr)
    except (OSError, ValueError) as error:
        print("nadixq: %s" % error, file=sys.stderr)
    return EXIT_FAILURE


def _parser():
    parser = argparse.ArgumentParser(prog="python3 -m nadixq", description=__doc__.split("\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", metavar="command")

    acquire = commands.add_parser(
        "acquire", help="run acquisitions, record a background and a sample",
        description="Runs acquisitions on the instrument and reports every file. --background "
                    "and --sample record one run each (on the simulated instrument with the "
                    "sample out of and in the beam; on a board, the command waits for the "
                    "sample to be put in between), --out a plain run.")
    acquire.add_argument("--model", type=int, default=1, help="board model, 1 to 5 (default 1)")
    detail = acquire.add_mutually_exclusive_group()
    detail.add_argument("--resolution", type=_positive_float,
                        help="spectral resolution in cm^-1 (sets the points)")
    detail.add_argument("--points", type=int, help="points per interferogram, 1 to 32768")
    acquire.add_argument("--scans", type=_positive_int, default=16,
                         help="scans co-added per file (default 16)")
    acquire.add_argument("--files", type=int, default=1,
                         help="files per run; 0 runs until Ctrl-C (default 1)")
    acquire.add_argument("--gain", type=float, default=1.0, choices=(1.0, 2.0, 4.0),
                         help="gain multiple (default 1)")
    acquire.add_argument("--background", metavar="FILE.spc",
                         help="record a background run (the sample out of the beam) into FILE")
    acquire.add_argument("--sample", metavar="FILE.spc",
                         help="record a sample run into FILE (after the background)")
    acquire.add_argument("--out", metavar="FILE.spc", help="record a plain run into FILE")
    acquire.add_argument("--quiet", action="store_true", help="print nothing but errors")
    acquire.add_argument("--sim-noise", type=float, metavar="SIGMA",
                         help="simulated instrument: noise per sample, in counts")
    acquire.add_argument("--sim-seed", type=int, metavar="N", help="simulated instrument: seed")
    acquire.add_argument("--sim-rate", type=_positive_float, metavar="HZ",
                         help="simulated instrument: sample rate of the sweep")
    acquire.add_argument("--sim-no-sample", action="store_true",
                         help="simulated instrument: the sample out of the beam for --out")
    acquire.set_defaults(handler=_acquire)

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

    tango = commands.add_parser(
        "tango", help="run the Tango device server NadixqSpectrometer",
        description="Runs the Tango device server NadixqSpectrometer/INSTANCE (as the installed "
                    "NadixqSpectrometer script does); the options after INSTANCE are Tango's, "
                    "e.g. -nodb -port 45450 -dlist lab/ftir/1 without a database.")
    tango.add_argument("instance", help="the server's instance name")
    tango.add_argument("options", nargs=argparse.REMAINDER, help="Tango server options")
    tango.set_defaults(handler=_tango)
    return parser


def _tango(options):
    try:
        from . import tango
    except ImportError as error:
        raise ValueError("the Tango server needs PyTango (Debian: python3-tango): %s" % error)
    return tango.main([options.instance] + options.options)


def _processing_options(command):
    command.add_argument("--apodization", choices=APODIZATIONS, default="happ-genzel",
                         help="apodization window (default happ-genzel)")
    command.add_argument("--zero-fill", type=int, choices=ZERO_FILL_FACTORS, default=2,
                         help="zero filling factor (default 2)")
    command.add_argument("--phase", choices=PHASE_MODES, default="mertz",
                         help="phase correction (default mertz)")
    command.add_argument("--laser", type=_positive_float, default=HENE_WAVENUMBER,
                         metavar="CM-1", help="reference laser wavenumber (default %(default)s)")
    command.add_argument("--subfile", type=int, metavar="N",
                         help="use subfile N (from 0) instead of the mean of all")
    command.add_argument("--transmittance", action="store_true",
                         help="transmittance rather than absorbance")
    command.add_argument("--prominence", type=_positive_float, default=0.05,
                         help="least prominence of a band (default 0.05)")
    command.add_argument("--model", type=int, help="the board model that recorded the runs")
    command.add_argument("--title", help="title of the spectrum")


# acquire ---------------------------------------------------------------------


def _acquire(options):
    if options.points is not None and not 1 <= options.points <= 32768:
        raise ValueError("--points must be 1 to 32768, not %d" % options.points)
    if options.files < 0:
        raise ValueError("--files must be 0 or more, not %d" % options.files)
    runs = [(path, in_beam, label) for path, in_beam, label in (
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
    say = (lambda text: None) if options.quiet else (lambda text: print(text, flush=True))

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
                read = 0
                # Closing the generator, also on Ctrl-C, stops the run and
                # completes the stream file.
                with contextlib.closing(s.acquire(stream=path)) as files_of_run:
                    for read, acquired in enumerate(files_of_run, start=1):
                        say("  file %d  %s  %s" % (read, _local_time(acquired.timestamp),
                                                   _summary(acquired.values)))
                if options.files and read < options.files:
                    raise ValueError("the %s run ended early after %d of %d files (see the debug "
                                     "trace)" % (label, read, options.files))
        except KeyboardInterrupt:
            say("stopped")
            return EXIT_INTERRUPTED if options.files else EXIT_OK
        finally:
            if simulated:
                sim.set_sample_in_beam(True)
    return EXIT_OK


def _local_time(stamp):
    return stamp.astimezone().isoformat(timespec="milliseconds")


def _summary(values):
    work = numpy.array(values)
    baseline_correct_ifg(work, BASELINE_LINEAR if work.size >= 64 else BASELINE_MEAN)
    try:
        zpd = "ZPD %d" % find_zpd(work)
    except NadixqError:
        zpd = "ZPD not found"
    return "%s  p-p %.1f" % (zpd, float(work.max() - work.min()))


# spectrum and plot -----------------------------------------------------------


class _Run:
    """One SPC run: its mean (or chosen) interferogram and that one's spectrum."""

    def __init__(self, path, options):
        self.path = path
        self.file = spc.read(path)
        if len(self.file) == 0:
            raise ValueError("%s holds no subfile" % path)
        if options.subfile is None:
            self.interferogram = self.file.y.mean(axis=0)
            first = self.file.subfiles[0]
        else:
            if not 0 <= options.subfile < len(self.file):
                raise ValueError("%s has subfiles 0 to %d" % (path, len(self.file) - 1))
            first = self.file.subfiles[options.subfile]
            self.interferogram = first.values
        self.time = first.time
        self.spectrum = spectrum(self.interferogram, options.apodization, options.zero_fill,
                                 options.phase, options.laser)
        self.spectrum.timestamp = self.time


def _result(options):
    """The sample's run, the background's (or None) and the spectrum to report."""
    sample = _Run(options.run, options)
    if options.background is None:
        return sample, None, sample.spectrum
    background = _Run(options.background, options)
    ratio = transmittance if options.transmittance else absorbance
    return sample, background, ratio(sample.spectrum, background.spectrum)


def _spectrum(options):
    sample, background, result = _result(options)
    if options.output:
        # A single beam where it rises above 1% of its largest value; a ratio
        # is written where it is finite.
        low, high = (None, None) if background else _lit_range(result)
        jcamp.write(options.output, result, title=options.title or _title(options, result),
                    low=low, high=high, model=options.model)
        print("wrote %s (%s)" % (options.output, result.kind))
    if background is not None:
        _print_bands(result, options.prominence)
    return EXIT_OK


def _plot(options):
    try:
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


def _title(options, result):
    name = os.path.basename(options.run)
    if options.background:
        return "%s of %s against %s" % (result.kind, name, os.path.basename(options.background))
    return "single-beam spectrum of %s" % name


def _lit_range(single_beam):
    lit = numpy.flatnonzero(single_beam.values > 0.01 * numpy.max(single_beam.values))
    return single_beam.wavenumber[lit[0]], single_beam.wavenumber[lit[-1]]




def _print_bands(result, prominence):
    bands = sorted(find_bands(result, prominence, *BAND_RANGE), reverse=True)
    unit = "transmittance" if result.kind == TRANSMITTANCE else "absorbance"
    print("%d bands from %g to %g cm^-1 (prominence %g):" % (
        len(bands), BAND_RANGE[1], BAND_RANGE[0], prominence))
    print("  %14s  %13s" % ("wavenumber/cm-1", unit))
    for centre, height in bands:
        print("  %14.1f  %13.3f" % (centre, height))


def _positive_float(text):
    value = float(text)
    if not value > 0.0 or value == float("inf"):
        raise argparse.ArgumentTypeError("must be a positive number: %s" % text)
    return value


def _positive_int(text):
    value = int(text)
    if value < 1:
        raise argparse.ArgumentTypeError("must be 1 or more: %s" % text)
    return value


if __name__ == "__main__":
    sys.exit(main())
