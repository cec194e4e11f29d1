"""Apodization windows of Fourier-transform spectroscopy.

Each window is a function of the optical path difference relative to the
largest one used, u = |x| / L from 0 at the zero path difference to 1 at the
interferogram's end, and is 0 beyond it. The choice trades the width of the
instrument line shape against the height of its side lobes:

    boxcar               1 (no apodization: the narrowest line, sidelobes of -22%)
    triangular           1 - u
    happ-genzel          0.54 + 0.46 cos(pi u)
    blackman-harris-3    0.42323 + 0.49755 cos(pi u) + 0.07922 cos(2 pi u)
    norton-beer-medium   0.152442 - 0.136176 (1 - u^2) + 0.983734 (1 - u^2)^2
"""

from __future__ import annotations

from typing import Callable, Dict

import numpy
import numpy.typing

Array = numpy.typing.NDArray[numpy.float64]

NAMES = ("boxcar", "triangular", "happ-genzel", "blackman-harris-3", "norton-beer-medium")


def _boxcar(u: Array) -> Array:
    return numpy.ones_like(u)


def _triangular(u: Array) -> Array:
    return 1.0 - u


def _happ_genzel(u: Array) -> Array:
    weights: Array = 0.54 + 0.46 * numpy.cos(numpy.pi * u)
    return weights


def _blackman_harris_3(u: Array) -> Array:
    weights: Array = (0.42323 + 0.49755 * numpy.cos(numpy.pi * u) +
                      0.07922 * numpy.cos(2.0 * numpy.pi * u))
    return weights


def _norton_beer_medium(u: Array) -> Array:
    q = 1.0 - u * u
    return 0.152442 - 0.136176 * q + 0.983734 * q * q


_WINDOWS: Dict[str, Callable[[Array], Array]] = dict(zip(NAMES, (_boxcar, _triangular, _happ_genzel, _blackman_harris_3,
                            _norton_beer_medium)))


def check(name: str) -> str:
    """`name` if it names a window; ValueError otherwise."""
    if name not in _WINDOWS:
        raise ValueError("unknown apodization %r (one of %s)" % (name, ", ".join(NAMES)))
    return name


def window(name: str, u: numpy.typing.ArrayLike) -> Array:
    """The window `name` at the relative path differences `u` (an array;
    the sign is ignored), 0 where |u| > 1."""
    relative = numpy.abs(numpy.asarray(u, dtype=numpy.float64))
    weights = _WINDOWS[check(name)](numpy.minimum(relative, 1.0))
    return numpy.where(relative <= 1.0, weights, 0.0)
