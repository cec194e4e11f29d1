"""The measurement settings a page may send, checked before they reach the
instrument: a bad value is answered with its reason, never half applied."""

import math

# The settings of a fresh server: 4 cm^-1 (4096 points), 16 scans, one file.
DEFAULTS = {"resolution": 4.0, "scans": 16, "files": 1, "gain": 1}

GAINS = (1, 2, 4)
FINEST_RESOLUTION = 0.5
LARGEST_COUNT = 2 ** 31 - 1


def validated(changes, current=None):
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


def _number(name, value):
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise ValueError("%s must be a number, not %s" % (name, _shown(value)))
    if not math.isfinite(value):
        raise ValueError("%s must be finite, not %s" % (name, value))
    return value


def _whole(name, value, lowest):
    value = _number(name, value)
    if value != int(value):
        raise ValueError("%s must be a whole number, not %s" % (name, value))
    value = int(value)
    if not lowest <= value <= LARGEST_COUNT:
        raise ValueError("%s must be %d to %d, not %d" % (name, lowest, LARGEST_COUNT, value))
    return value


def _resolution(value):
    value = float(_number("resolution", value))
    if value < FINEST_RESOLUTION:
        raise ValueError("resolution must be %g cm^-1 or coarser, not %g" % (FINEST_RESOLUTION,
                                                                            value))
    return value


def _gain(value):
    value = _number("gain", value)
    if value not in GAINS:
        raise ValueError("gain must be one of %s, not %s" % (", ".join(map(str, GAINS)), value))
    return int(value)


def _shown(value):
    text = repr(value)
    return text if len(text) <= 40 else text[:37] + "..."


_CHECKS = {
    "resolution": _resolution,
    "scans": lambda value: _whole("scans", value, 1),
    "files": lambda value: _whole("files", value, 0),
    "gain": _gain,
}
