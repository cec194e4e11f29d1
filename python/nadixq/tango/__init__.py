"""The spectrometer as a Tango device server: the device class
NadixqSpectrometer (nadixq.tango.device), run by

    python3 -m nadixq tango INSTANCE [Tango server options]

or the installed script NadixqSpectrometer INSTANCE [options]. Either way the
server is named NadixqSpectrometer/INSTANCE, as a Tango database knows it.
Without a database: INSTANCE -nodb -port PORT -dlist DOMAIN/FAMILY/MEMBER.
"""

from typing import Optional, Sequence

SERVER = "NadixqSpectrometer"


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Runs the device server with the Tango options `argv` (default: the
    command line's) and returns its exit status."""
    import sys

    from tango.server import run  # type: ignore[import]

    from .device import NadixqSpectrometer

    arguments = sys.argv[1:] if argv is None else list(argv)
    # The server's name is the executable's: the same for the script and for
    # python3 -m nadixq tango.
    run((NadixqSpectrometer,), args=[SERVER] + arguments)
    return 0
