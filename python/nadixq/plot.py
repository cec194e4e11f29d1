"""Pictures of a run with matplotlib (without a display: the Agg backend).

draw_run() puts up to three panels into one PNG file: the interferogram
around its centre burst, the single-beam spectra, and the absorbance (or
transmittance) from 4000 to 400 cm^-1 on a descending axis, as
spectroscopists draw it, with the bands labelled.
"""

import matplotlib

matplotlib.use("Agg")

import matplotlib.pyplot as pyplot  # noqa: E402
import numpy  # noqa: E402

from .fourier import TRANSMITTANCE  # noqa: E402

# Samples shown either side of the zero path difference.
BURST_HALF_WIDTH = 60
RANGE = (4000.0, 400.0)
# Bands labelled at most, the highest ones.
LABELLED_BANDS = 16


def draw_run(path, title, sample_ifg, sample, background_ifg=None, background=None, result=None,
             bands=()):
    """Draws a run into the PNG file `path`: `sample_ifg` and `sample` (its
    single-beam Spectrum), optionally the same of the background, and
    `result` (the absorbance or transmittance Spectrum) with `bands`, a list
    of (wavenumber, height) as find_bands() gives them."""
    panels = 3 if result is not None else 2
    figure, axes = pyplot.subplots(panels, 1, figsize=(10, 3.4 * panels),
                                   gridspec_kw={"height_ratios": [1, 1, 1.6][:panels]})
    figure.suptitle(title)

    burst = axes[0]
    for values, spectrum, label in ((sample_ifg, sample, "sample"),
                                    (background_ifg, background, "background")):
        if values is None:
            continue
        centre = int(round(spectrum.zpd))
        first = max(0, centre - BURST_HALF_WIDTH)
        shown = numpy.asarray(values[first:centre + BURST_HALF_WIDTH + 1], dtype=numpy.float64)
        burst.plot(numpy.arange(first, first + shown.size), shown - numpy.mean(values), lw=1,
                   label=label)
    burst.set_xlabel("sample (zero path difference at %.2f)" % sample.zpd)
    burst.set_ylabel("interferogram")
    burst.set_title("centre burst", fontsize="medium")
    burst.legend(loc="upper right", fontsize="small")

    single = axes[1]
    for spectrum, label in ((background, "background"), (sample, "sample")):
        if spectrum is not None:
            single.plot(spectrum.wavenumber, spectrum.values, lw=0.8, label=label)
    # From where the light sets in to where it ends, highest wavenumber left.
    lit = numpy.flatnonzero(sample.values > 0.005 * numpy.max(sample.values))
    low, high = sample.wavenumber[lit[0]], sample.wavenumber[lit[-1]]
    margin = 0.04 * (high - low)
    single.set_xlim(min(sample.wavenumber[-1], high + margin), max(0.0, low - margin))
    single.set_xlabel("wavenumber / cm$^{-1}$")
    single.set_ylabel("single beam")
    single.set_title("single-beam spectra (%s, zero filling %s, %s phase; "
                     "resolution %.2f cm$^{-1}$)" % (sample.apodization, sample.zero_fill,
                                                     sample.phase, sample.resolution),
                     fontsize="medium")
    single.legend(loc="upper right", fontsize="small")

    if result is not None:
        _draw_result(axes[2], result, bands)
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    pyplot.close(figure)


def _draw_result(axes, result, bands):
    shown = result.between(*RANGE)
    axes.plot(shown.wavenumber, shown.values, lw=0.8, color="black")
    axes.set_xlim(*RANGE)  # descending
    axes.set_xlabel("wavenumber / cm$^{-1}$")
    transmittance = result.kind == TRANSMITTANCE
    axes.set_ylabel("transmittance" if transmittance else "absorbance")
    finite = shown.values[numpy.isfinite(shown.values)]
    if finite.size:
        low, high = float(numpy.min(finite)), float(numpy.max(finite))
        margin = 0.12 * (high - low or 1.0)
        axes.set_ylim(low - margin * (2.0 if transmittance else 0.3),
                      high + margin * (0.3 if transmittance else 2.0))
    for centre, height in list(bands)[:LABELLED_BANDS]:
        offset = -12 if transmittance else 8
        axes.annotate("%.0f" % centre, (centre, height), xytext=(0, offset),
                      textcoords="offset points", ha="center",
                      va="top" if transmittance else "bottom", fontsize="x-small", rotation=90)
    axes.set_title("%s, %d bands labelled" % (result.kind, min(len(bands), LABELLED_BANDS)),
                   fontsize="medium")
