"""The binary messages that carry data to the page.

A frame is a little-endian uint32 holding the length of a JSON header,
the header (padded with spaces to a multiple of 4 bytes), then the arrays it
lists as float32 values, each at its "offset" from the end of the header
with its "length" in values. The page reads them as Float32Arrays without a
copy.
"""

from __future__ import annotations

import json
import struct
from typing import Any, Dict, List, Sequence, Tuple

import numpy
import numpy.typing


def encode(header: Dict[str, Any],
           arrays: Sequence[Tuple[str, numpy.typing.ArrayLike]]) -> bytes:
    """`header` (a dict, extended with the array table) and `arrays`, a list
    of (name, array), as one frame (bytes)."""
    table: List[Dict[str, Any]] = []
    blocks: List[bytes] = []
    offset = 0
    for name, values in arrays:
        block = numpy.ascontiguousarray(values, dtype="<f4").tobytes()
        table.append({"name": name, "offset": offset, "length": len(block) // 4})
        blocks.append(block)
        offset += len(block)
    text = json.dumps(dict(header, arrays=table), separators=(",", ":")).encode()
    text += b" " * (-len(text) % 4)
    return struct.pack("<I", len(text)) + text + b"".join(blocks)


def decode(frame: bytes) -> Tuple[Dict[str, Any], Dict[str, numpy.typing.NDArray[Any]]]:
    """The header and a dict of float32 arrays of a frame (for tests and
    benchmarks)."""
    (length,) = struct.unpack_from("<I", frame)
    header: Dict[str, Any] = json.loads(frame[4:4 + length])
    base = 4 + length
    arrays = {entry["name"]: numpy.frombuffer(frame, "<f4", entry["length"],
                                              base + entry["offset"])
              for entry in header["arrays"]}
    return header, arrays
