"""Event figures of the Tango device server: how long a file takes from the
co-add signal to a client's callback, and how many files per second reach
two subscribed clients. Starts its own server (without a database, on a
free loopback port) and writes the figures as JSON.

Usage: tango_bench.py --out FIGURES.json   (NADIXQ_LIBRARY: the library)

Each event carries the time its file arrived in the server (the co-add
signal woke the run's thread): the callback's time minus that is the
latency. Server and clients share the machine's clock.
"""

import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "python", "tests"))

import tango  # noqa: E402

from tango_support import PYTHON, Server  # noqa: E402

LATENCY_FILES = 24
THROUGHPUT_SECONDS = 5.0  # well inside what a server without a database keeps events for


def latency(proxy):
    """Milliseconds from each file's arrival to this process's callback, for
    the interferogram (16384 points) and for the file's count (sent after
    its spectrum)."""
    proxy.Resolution, proxy.Scans, proxy.Files = 1.0, 1, LATENCY_FILES
    delays = {"interferogram": [], "filesdone": []}
    done = threading.Event()

    def take(event):
        now = time.time()
        if event.err or event.attr_value is None:
            return
        name = event.attr_name.rsplit("/", 1)[-1].split("#")[0].lower()
        value = event.attr_value.value
        if name == "filesdone" and not value:
            return  # the count as it was, or the run's start
        if name == "interferogram" and (value is None or len(value) == 0):
            return
        delays[name].append(1000.0 * (now - event.attr_value.time.totime()))
        if name == "filesdone" and value == LATENCY_FILES:
            done.set()

    subscriptions = [proxy.subscribe_event(name, tango.EventType.CHANGE_EVENT, take)
                     for name in ("Interferogram", "FilesDone")]
    # The first events are the values as they were (earlier runs'): left out.
    time.sleep(0.3)
    for values in delays.values():
        values.clear()
    proxy.Start()
    finished = done.wait(60.0)
    for subscription in subscriptions:
        proxy.unsubscribe_event(subscription)
    if not finished:
        raise RuntimeError("the latency run did not end: %s" % proxy.status())
    deadline = time.monotonic() + 10.0
    while proxy.state() == tango.DevState.RUNNING and time.monotonic() < deadline:
        time.sleep(0.01)  # the run's end follows its last file
    return {name: {"median_ms": statistics.median(values),
                   "p95_ms": sorted(values)[int(0.95 * (len(values) - 1))],
                   "files": len(values)} for name, values in delays.items()}


def client(address, seconds):
    """One subscribed client: counts the files whose interferogram reached
    it, and prints them as JSON."""
    proxy = tango.DeviceProxy(address)
    arrivals = []

    def take(event):
        if not event.err and event.attr_value is not None and event.attr_value.value is not None \
                and len(event.attr_value.value):
            arrivals.append(time.time())

    subscription = proxy.subscribe_event("Interferogram", tango.EventType.CHANGE_EVENT, take)
    time.sleep(0.3)
    arrivals.clear()
    print("subscribed", flush=True)
    time.sleep(seconds)
    proxy.unsubscribe_event(subscription)
    print(json.dumps({"files": len(arrivals), "first": arrivals[0] if arrivals else 0,
                      "last": arrivals[-1] if arrivals else 0}), flush=True)


def throughput(proxy, address):
    """Files per second of a run of one-scan files at 4096 points, as each
    of two client processes received them."""
    proxy.Resolution, proxy.Scans, proxy.Files = 4.0, 1, 0
    clients = [subprocess.Popen([PYTHON, __file__, "--client", address,
                                 "--seconds", str(THROUGHPUT_SECONDS + 0.5)],
                                stdout=subprocess.PIPE, text=True) for _ in range(2)]
    for process in clients:
        if process.stdout.readline().strip() != "subscribed":
            raise RuntimeError("a client did not subscribe")
    started = time.time()
    proxy.Start()
    time.sleep(THROUGHPUT_SECONDS)
    proxy.Stop()
    stopped = time.time()
    rates = []
    for process in clients:
        result = json.loads(process.stdout.readline())
        process.wait(30)
        rates.append(result["files"] / (stopped - started))
    return {"files_per_second": rates, "server_files": proxy.FilesDone,
            "seconds": stopped - started}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out")
    parser.add_argument("--client")
    parser.add_argument("--seconds", type=float)
    args = parser.parse_args()
    if args.client:
        client(args.client, args.seconds)
        return 0
    with tempfile.TemporaryDirectory() as folder:
        server = Server(folder, "bench", "bench/ftir/1").start()
        try:
            proxy = tango.DeviceProxy(server.address)
            figures = {"latency": latency(proxy), "throughput": throughput(proxy, server.address)}
        finally:
            server.stop()
    text = json.dumps(figures, indent=1)
    print(text)
    if args.out:
        with open(args.out, "w") as out:
            out.write(text + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
