"""The measurement settings a page may send, checked before they reach the
instrument: a bad value is answered with its reason, never half applied."""

from __future__ import annotations

import math
from typing import Any, Callable, Dict, Optional

Settings = Dict[str, Any]

# The settings of a fresh server: 4 cm^-1 (4096 points), 16 scans, one file.
DEFAULTS: Settings = {"resolution": 4.0, "scans": 16, "files": 1, "gain": 1}

GAINS = (1, 2, 4)
FINEST_RESOLUTION = 0.5
LARGEST_COUNT = 2 ** 31 - 1


def validated(changes: Any, current: Optional[Settings] = None) -> Settings:
    """`current` (default DEFAULTS) updated with the mapping `changes`, each
    value checked. Raises ValueError with the reason for the first bad one;
    unknown names are errors too, so a misspelt setting is not ignored."""
    if not isinstance(changes, dict):
        raise ValueError("the settings must be a JSON object")
    result = dict(DEFAULTS if current is None else current)
    for name, value in changes.items():
        if name not in DEFAULTS:
            raise ValueError("unknown setting %r (known: %s)" % (name, ", ".join(DEFAULTS)))
        result[name] = _CHECKS[name](value)
    return result


def _number(name: str, value: Any) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise ValueError("%s must be a number, not %s" % (name, _shown(value)))
    if not math.isfinite(value):
        raise ValueError("%s must be finite, not %s" % (name, value))
    return float(value)


def _whole(name: str, value: Any, lowest: int) -> int:
    number = _number(name, value)
    if number != int(number):
        raise ValueError("%s must be a whole number, not %s" % (name, value))
    whole = int(number)
    if not lowest <= whole <= LARGEST_COUNT:
        raise ValueError("%s must be %d to %d, not %d" % (name, lowest, LARGEST_COUNT, whole))
    return whole


def _resolution(value: Any) -> float:
    number = _number("resolution", value)
    if number < FINEST_RESOLUTION:
        raise ValueError("resolution must be %g cm^-1 or coarser, not %g" % (FINEST_RESOLUTION,
                                                                            number))
    return number


def _gain(value: Any) -> int:
    number = _number("gain", value)
    if number not in GAINS:
        raise ValueError("gain must be one of %s, not %s" % (", ".join(map(str, GAINS)), value))
    return int(number)


def _shown(value: Any) -> str:
    text = repr(value)
    return text if len(text) <= 40 else text[:37] + "..."


_CHECKS: Dict[str, Callable[[Any], Any]] = {
    "resolution": _resolution,
    "scans": lambda value: _whole("scans", value, 1),
    "files": lambda value: _whole("files", value, 0),
    "gain": _gain,
}
