"""The instrument in the browser: python3 -m nadixq serve (or nadixq-serve).

One server process owns the instrument and serves one page with three
views: Align (the live interferogram, its peak-to-peak, ZPD and signal
level), Measure (background and sample runs, the single beam and the
absorbance with its bands) and Runs (every run kept as an SPC file with a
JSON sidecar in the data folder, to open and download as SPC or JCAMP-DX).

By default it answers on the loopback interface only. Any other --host
needs a token (given with --token or made up), printed once in the address;
the page then keeps it in a cookie that only the server reads.
"""

from __future__ import annotations

import argparse
import asyncio
import signal
import socket
import sys
from typing import Callable, List, Optional, Sequence

DEFAULT_PORT = 8650


def add_arguments(parser: argparse.ArgumentParser) -> None:
    parser.add_argument("--model", type=int, default=1, help="board model, 1 to 5 (default 1)")
    parser.add_argument("--host", default="127.0.0.1",
                        help="address to answer on (default 127.0.0.1; any other needs a token)")
    parser.add_argument("--port", type=int, default=DEFAULT_PORT,
                        help="port (default %(default)s; 0 picks a free one)")
    parser.add_argument("--data", default="nadixq-runs", metavar="DIR",
                        help="folder the runs are kept in (default ./nadixq-runs)")
    parser.add_argument("--token", help="the token the pages must show (off the loopback "
                                        "interface one is made up when not given)")


def serve(options: argparse.Namespace) -> int:
    """Runs the server until SIGINT or SIGTERM; returns the exit status."""
    try:
        import aiohttp  # noqa: F401
    except ImportError as error:
        print("nadixq: the web view needs aiohttp (Debian: python3-aiohttp): %s" % error,
              file=sys.stderr)
        return 1
    import logging
    logging.basicConfig(level=logging.WARNING, format="nadixq: %(name)s: %(message)s")

    from .lock import InstrumentLock, InstrumentLockedError
    from .security import is_loopback, new_token

    if not 0 <= options.port <= 65535:
        print("nadixq: --port must be 0 to 65535, not %d" % options.port, file=sys.stderr)
        return 2
    token = options.token
    if token is not None and not token:
        print("nadixq: --token must not be empty", file=sys.stderr)
        return 2
    if token is None and not is_loopback(options.host):
        token = new_token()
    lock = InstrumentLock(options.model)
    try:
        lock.acquire()
    except InstrumentLockedError as error:
        print("nadixq: %s" % error, file=sys.stderr)
        return 1
    # The station's thread computes in Python between files (the band
    # search above all); the event loop, which sends the frames, gets the
    # interpreter back from it within a millisecond rather than five.
    sys.setswitchinterval(0.001)
    try:
        return asyncio.run(_serve(options, token))
    except OSError as error:
        print("nadixq: cannot serve on %s port %d: %s" % (options.host, options.port, error),
              file=sys.stderr)
        return 1
    finally:
        lock.release()


async def _serve(options: argparse.Namespace, token: Optional[str]) -> int:
    from aiohttp import web

    from .hub import Message
    from .runs import RunStore
    from .security import Guard
    from .server import Server
    from .station import Station

    store = RunStore(options.data)
    guard = Guard(options.host, token)
    # The station publishes through the server, which needs the station.
    publish: List[Callable[[str, Message], None]] = []
    station = Station(options.model, store, lambda kind, message: publish[0](kind, message))
    server = Server(station, guard)
    publish.append(server.publish)
    runner = web.AppRunner(server.app, access_log=None, handle_signals=False)
    await runner.setup()
    stopping = asyncio.Event()
    try:
        site = web.TCPSite(runner, options.host, options.port, reuse_address=True,
                           shutdown_timeout=2.0)
        await site.start()
        port = runner.addresses[0][1]
        guard.port = port
        station.start()
        loop = asyncio.get_running_loop()
        for number in (signal.SIGINT, signal.SIGTERM):
            try:
                loop.add_signal_handler(number, stopping.set)
            except (NotImplementedError, RuntimeError):  # Windows: Ctrl-C raises
                pass
        shown = options.host
        if shown in ("0.0.0.0", "::", ""):
            # Every address of the machine: the address names it.
            shown = socket.gethostname()
        elif ":" in shown:
            shown = "[%s]" % shown
        address = "http://%s:%d/" % (shown, port)
        if token is not None:
            address += "?token=" + token
        print("nadixq: serving model %d at %s (runs in %s; Ctrl-C stops)" % (
            options.model, address, store.folder), flush=True)
        try:
            await stopping.wait()
        except (KeyboardInterrupt, asyncio.CancelledError):
            pass
        print("nadixq: stopping", flush=True)
    finally:
        await asyncio.to_thread(station.shutdown)
        await runner.cleanup()
    return 0


def main(argv: Optional[Sequence[str]] = None) -> int:
    """The nadixq-serve command."""
    parser = argparse.ArgumentParser(prog="nadixq-serve", description=__doc__.split("\n")[0])
    add_arguments(parser)
    return serve(parser.parse_args(argv))
