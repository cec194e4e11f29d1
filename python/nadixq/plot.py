"""Pictures of a run with matplotlib.

draw_run() puts up to three panels into one picture file: the interferogram
around its centre burst, the single-beam spectra where they carry light, and
the absorbance (or transmittance) from 4000 to 400 cm^-1 on a descending
axis, as spectroscopists draw it, with the bands labelled. The module leaves
matplotlib's backend alone: the command line chooses one that needs no
display, a program of its own keeps its own.
"""

from __future__ import annotations

from typing import Any, List, Optional, Sequence, Tuple

import matplotlib.pyplot as pyplot  # type: ignore[import]
import numpy
import numpy.typing

from .fourier import TRANSMITTANCE, Spectrum, resolution_text

# Samples shown either side of the zero path difference.
BURST_HALF_WIDTH = 60
RANGE = (4000.0, 400.0)
# Bands labelled at most, the highest ones.
LABELLED_BANDS = 16
# One colour per beam in every panel.
SAMPLE_COLOUR = "tab:blue"
BACKGROUND_COLOUR = "tab:orange"
# The single-beam panel shows where the spectrum rises above this share of
# its largest value, with a margin.
LIGHT_FLOOR = 0.005
# Labels closer than this share of the axis width are moved apart.
_LABEL_SPACING = 0.022


def draw_run(path: str, title: str, sample_ifg: numpy.typing.ArrayLike, sample: Spectrum,
             background_ifg: Optional[numpy.typing.ArrayLike] = None,
             background: Optional[Spectrum] = None, result: Optional[Spectrum] = None,
             bands: Sequence[Tuple[float, float]] = ()) -> None:
    """Draws a run into the picture file `path` (its format from its name):
    `sample_ifg` and `sample` (its single-beam Spectrum), optionally the same
    of the background, and `result` (the absorbance or transmittance
    Spectrum) with `bands`, a list of (wavenumber, height) as find_bands()
    gives them."""
    panels = 3 if result is not None else 2
    figure, axes = pyplot.subplots(panels, 1, figsize=(10, 3.4 * panels),
                                   gridspec_kw={"height_ratios": [1, 1, 1.6][:panels]})
    figure.suptitle(title)

    burst = axes[0]
    beams = ((sample_ifg, sample, "sample", SAMPLE_COLOUR),
             (background_ifg, background, "background", BACKGROUND_COLOUR))
    for values, beam, label, colour in beams:
        if values is None or beam is None:
            continue
        samples = numpy.asarray(values, dtype=numpy.float64)
        centre = int(round(beam.zpd or 0.0))
        first = max(0, centre - BURST_HALF_WIDTH)
        shown = samples[first:centre + BURST_HALF_WIDTH + 1]
        burst.plot(numpy.arange(first, first + shown.size), shown - numpy.mean(samples), lw=1,
                   label=label, color=colour)
    zpd = sample.zpd if sample.zpd is not None else 0.0
    burst.set_xlabel("sample index (ZPD %d: largest sample of the burst; refined %.2f)"
                     % (int(round(zpd)), zpd))
    burst.set_ylabel("interferogram / counts")
    burst.set_title("centre burst", fontsize="medium")
    burst.legend(loc="upper right", fontsize="small")

    single = axes[1]
    for _, beam, label, colour in beams[::-1]:
        if beam is not None:
            single.plot(beam.wavenumber, beam.values, lw=0.8, label=label, color=colour)
    low, high = _lit(sample, background)
    margin = 0.04 * (high - low)
    single.set_xlim(high + margin, max(0.0, low - margin))  # descending
    single.set_xlabel("wavenumber / cm$^{-1}$")
    single.set_ylabel("single beam / a.u.")
    single.set_title("single-beam spectra (%s, zero filling %s, %s phase; resolution %s)"
                     % (sample.apodization, sample.zero_fill, sample.phase,
                        resolution_text(sample).replace("cm^-1", "cm$^{-1}$")),
                     fontsize="medium")
    single.legend(loc="upper right", fontsize="small")

    if result is not None:
        _draw_result(axes[2], result, bands)
    figure.tight_layout()
    figure.savefig(path, dpi=110)
    pyplot.close(figure)


def _lit(sample: Spectrum, background: Optional[Spectrum]) -> Tuple[float, float]:
    """From where the light sets in to where it ends, in either beam."""
    low, high = float(sample.wavenumber[-1]), float(sample.wavenumber[0])
    for beam in (sample, background):
        if beam is None or not len(beam):
            continue
        lit = numpy.flatnonzero(beam.values > LIGHT_FLOOR * numpy.max(beam.values))
        if lit.size:
            low = min(low, float(beam.wavenumber[lit[0]]))
            high = max(high, float(beam.wavenumber[lit[-1]]))
    if not low < high:
        return float(sample.wavenumber[0]), float(sample.wavenumber[-1])
    return low, high


def _draw_result(axes: Any, result: Spectrum, bands: Sequence[Tuple[float, float]]) -> None:
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
    labelled = list(bands)[:LABELLED_BANDS]
    offset = -12 if transmittance else 8
    for (centre, height), placed in zip(labelled, _spread([c for c, _ in labelled])):
        axes.annotate("%.0f" % centre, (centre, height), xytext=(placed, offset),
                      textcoords=("data", "offset points"), ha="center",
                      va="top" if transmittance else "bottom", fontsize="x-small", rotation=90,
                      arrowprops={"arrowstyle": "-", "lw": 0.4, "color": "grey"}
                      if placed != centre else None)
    axes.set_title("%s, %d bands labelled" % (result.kind, len(labelled)), fontsize="medium")


def _spread(centres: List[float]) -> List[float]:
    """Label positions along the axis, each at its band where there is room,
    pushed apart (in order of wavenumber) where labels would collide."""
    if not centres:
        return []
    spacing = _LABEL_SPACING * abs(RANGE[0] - RANGE[1])
    order = sorted(range(len(centres)), key=lambda i: centres[i])
    placed = [0.0] * len(centres)
    previous = -numpy.inf
    for i in order:
        placed[i] = max(centres[i], previous + spacing)
        previous = placed[i]
    return placed
