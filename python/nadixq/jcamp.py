"""Writing spectra as JCAMP-DX 5.01 files (INFRARED SPECTRUM, one block).

The ordinates are written as integers times ##YFACTOR, so the file holds
every value to within half a YFACTOR (`digits` significant digits of the
largest value); the abscissae follow from ##FIRSTX, ##LASTX and ##NPOINTS.
DIFDUP, the standard's compressed form, writes the first ordinate of a line
in SQZ form and the others as differences (DIF) with repeat counts (DUP);
every line after one that ends in a difference starts with that line's last
ordinate again, as the check value readers expect. AFFN writes plain numbers.
"""

from __future__ import annotations

import datetime
import math
import os
from typing import Any, List, Optional, Sequence, Tuple

import numpy

from .fourier import ABSORBANCE, SINGLE_BEAM, TRANSMITTANCE, Array, Spectrum

COMPRESSIONS = ("difdup", "affn")

_YUNITS = {ABSORBANCE: "ABSORBANCE", TRANSMITTANCE: "TRANSMITTANCE",
           SINGLE_BEAM: "ARBITRARY UNITS"}
_LINE_WIDTH = 80  # the standard's longest data line

_SQZ_POSITIVE = "@ABCDEFGHI"
_SQZ_NEGATIVE = "@abcdefghi"
_DIF_POSITIVE = "%JKLMNOPQR"
_DIF_NEGATIVE = "%jklmnopqr"
_DUP = " STUVWXYZs"


#: ##OWNER= when the caller names none: the standard wants a value there.
UNKNOWN_OWNER = "unknown"


def write(path: "os.PathLike[str] | str", spectrum: Spectrum, title: Optional[str] = None,
          compression: str = "difdup", low: Optional[float] = None, high: Optional[float] = None,
          model: Optional[int] = None, origin: str = "nadixq", owner: Optional[str] = None,
          digits: int = 7, resolution: Optional[float] = None) -> None:
    """Writes `spectrum` (a nadixq.Spectrum) to `path` as a JCAMP-DX 5.01
    INFRARED SPECTRUM: ##XUNITS=1/CM and ##YUNITS=ABSORBANCE, TRANSMITTANCE
    or ARBITRARY UNITS (a single-beam spectrum) after its kind, with the
    origin, the owner (`owner`, else "unknown": the record must have a
    value), the date (the spectrum's time, else now), the resolution
    (`resolution`, else the spectrum's nominal resolution, the row of the
    library its point count belongs to, else the computed one; the computed
    1/OPD value goes into ##$RESOLUTION 1/OPD= beside it), the instrument (`model`: the board model that recorded it) and the
    processing parameters. `low` and `high` (cm^-1) limit the range written.
    The format has no way to write a missing value, so of the range only the
    longest stretch of finite values is written: for a ratio of two spectra,
    the band where the background carried light (NaN outside it)."""
    if compression not in COMPRESSIONS:
        raise ValueError("compression must be one of %s, not %r" % (COMPRESSIONS, compression))
    if not 1 <= digits <= 9:
        raise ValueError("digits must be 1 to 9, not %r" % (digits,))
    x, y = _finite_range(spectrum, low, high)
    largest = float(numpy.max(numpy.abs(y)))
    y_factor = 10.0 ** (math.floor(math.log10(largest)) - (digits - 1)) if largest > 0 else 1.0
    ordinates = numpy.rint(y / y_factor).astype(numpy.int64).tolist()
    delta = (x[-1] - x[0]) / (x.size - 1) if x.size > 1 else 0.0

    nominal = resolution if resolution is not None else spectrum.nominal_resolution
    stamp = spectrum.time or datetime.datetime.now(datetime.timezone.utc)
    if stamp.tzinfo is not None:
        stamp = stamp.astimezone(datetime.timezone.utc)
    lines = [
        "##TITLE=%s" % _text(title or "nadixq %s spectrum" % spectrum.kind),
        "##JCAMP-DX=5.01",
        "##DATA TYPE=INFRARED SPECTRUM",
        "##DATA CLASS=XYDATA",
        "##ORIGIN=%s" % _text(origin),
        "##OWNER=%s" % (_text(owner) if owner and _text(owner) else UNKNOWN_OWNER),
        "##LONGDATE=%s" % stamp.strftime("%Y/%m/%d %H:%M:%S +0000"),
        "##SPECTROMETER/DATA SYSTEM=%s" % ("nadixq FTIR, model %s" % model if model is not None
                                            else "nadixq FTIR"),
        "##RESOLUTION=%.6g" % (nominal if nominal is not None else spectrum.resolution),
        # The computed value beside it: 1 / the largest optical path difference.
        "##$RESOLUTION 1/OPD=%.6g" % spectrum.resolution,
    ]
    processing = (("APODIZATION", spectrum.apodization), ("ZERO FILLING", spectrum.zero_fill),
                  ("PHASE CORRECTION", spectrum.phase),
                  ("SAMPLING WAVENUMBER", spectrum.sampling_wavenumber))
    lines += ["##$%s=%s" % (label, value) for label, value in processing if value is not None]
    lines += [
        "##XUNITS=1/CM",
        "##YUNITS=%s" % _YUNITS.get(spectrum.kind, "ARBITRARY UNITS"),
        "##XFACTOR=1",
        "##YFACTOR=%.12g" % y_factor,
        "##FIRSTX=%.12g" % x[0],
        "##LASTX=%.12g" % x[-1],
        "##DELTAX=%.12g" % delta,
        "##MINX=%.12g" % x[0],
        "##MAXX=%.12g" % x[-1],
        "##MINY=%.12g" % (min(ordinates) * y_factor),
        "##MAXY=%.12g" % (max(ordinates) * y_factor),
        "##NPOINTS=%d" % x.size,
        "##FIRSTY=%.12g" % (ordinates[0] * y_factor),
        "##XYDATA=(X++(Y..Y))",
    ]
    abscissae = [x[0] + i * delta for i in range(x.size)]
    encode = _difdup_lines if compression == "difdup" else _affn_lines
    lines += encode(abscissae, ordinates)
    lines.append("##END=")
    with open(path, "w", encoding="ascii", newline="\r\n") as out:
        out.write("\n".join(lines) + "\n")


def _finite_range(spectrum: Spectrum, low: Optional[float],
                  high: Optional[float]) -> Tuple[Array, Array]:
    x = spectrum.wavenumber
    y = spectrum.values
    low = -math.inf if low is None else low
    high = math.inf if high is None else high
    inside = (x >= min(low, high)) & (x <= max(low, high))
    x, y = x[inside], y[inside]
    edge = numpy.zeros(1, dtype=numpy.int8)
    edges = numpy.flatnonzero(numpy.diff(numpy.concatenate(
        (edge, numpy.isfinite(y).astype(numpy.int8), edge))))
    runs = [(int(a), int(b)) for a, b in zip(edges[0::2], edges[1::2])]
    if not runs or max(stop - start for start, stop in runs) < 2:
        raise ValueError("the spectrum has no two neighbouring finite values in the range to "
                         "write")
    start, stop = max(runs, key=lambda run: run[1] - run[0])
    return x[start:stop], y[start:stop]


def _text(value: Any) -> str:
    """A label's value on one line of printable ASCII."""
    text = " ".join(str(value).split())
    return text.encode("ascii", "replace").decode("ascii")


def _abscissa(value: float) -> str:
    return "%.12g" % value


def _coded(value: int, positive: str, negative: str) -> str:
    """An integer with its first digit replaced by a letter of the form."""
    digits = str(abs(value))
    table = negative if value < 0 else positive
    return table[int(digits[0])] + digits[1:]


def _dup(count: int) -> str:
    digits = str(count)
    return _DUP[int(digits[0])] + digits[1:]


def _difdup_lines(abscissae: Sequence[float], ordinates: Sequence[int]) -> List[str]:
    lines = []
    count = len(ordinates)
    first = 0
    while True:
        line = _abscissa(abscissae[first]) + _coded(ordinates[first], _SQZ_POSITIVE,
                                                    _SQZ_NEGATIVE)
        following = first + 1
        while following < count:
            step = ordinates[following] - ordinates[following - 1]
            run = 1
            while (following + run < count and
                   ordinates[following + run] - ordinates[following + run - 1] == step):
                run += 1
            token = _coded(step, _DIF_POSITIVE, _DIF_NEGATIVE)
            if run > 1:
                token += _dup(run)
            if len(line) + len(token) > _LINE_WIDTH:
                break
            line += token
            following += run
        lines.append(line)
        if following >= count:
            if following - 1 > first:
                # The last ordinate was a difference: repeat it as the check.
                lines.append(_abscissa(abscissae[-1]) + _coded(ordinates[-1], _SQZ_POSITIVE,
                                                               _SQZ_NEGATIVE))
            return lines
        if following == first + 1:
            raise ValueError("an ordinate does not fit on a line")
        first = following - 1  # the next line starts with the check value


def _affn_lines(abscissae: Sequence[float], ordinates: Sequence[int]) -> List[str]:
    lines = []
    first = 0
    count = len(ordinates)
    while first < count:
        line = _abscissa(abscissae[first])
        following = first
        while following < count:
            token = " %d" % ordinates[following]
            if len(line) + len(token) > _LINE_WIDTH and following > first:
                break
            line += token
            following += 1
        lines.append(line)
        first = following
    return lines
