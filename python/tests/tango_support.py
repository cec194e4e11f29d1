"""What the Tango tests share: servers of the device started as separate
processes on loopback ports, and waiting for events rather than polling."""

import contextlib
import os
import queue
import signal
import socket
import subprocess
import sys
import time

import tango

PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable
PACKAGE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
# Debian's PyTango 9.3 drops the events of a server without a database some
# 10 s into a subscription: subscriptions to such servers are kept shorter.
NODB_SUBSCRIPTION_SECONDS = 8.0


def loopback_up():
    """Brings the loopback interface up where it has no address: a private
    network namespace (unshare -n) starts so."""
    try:
        shown = subprocess.run(["ip", "-o", "addr", "show", "dev", "lo"], capture_output=True,
                               text=True, timeout=30).stdout
    except OSError:
        return  # no ip(8): a system that configures its own loopback
    if "127.0.0.1" not in shown:
        subprocess.run(["ip", "link", "set", "lo", "up"], check=True, timeout=30)


def free_port():
    loopback_up()
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


# Client calls wait this long (Tango's default is 3 s): a loaded test machine
# may keep a server from answering sooner.
CLIENT_TIMEOUT_MS = 30000


def client_proxy(name):
    """A DeviceProxy with a generous time-out."""
    device = tango.DeviceProxy(name)
    device.set_timeout_millis(CLIENT_TIMEOUT_MS)
    return device


def environment(**extra):
    result = dict(os.environ, PYTHONPATH=PACKAGE, PYTHONDONTWRITEBYTECODE="1")
    result.update(extra)
    return result


class Server:
    """`python3 -m nadixq tango INSTANCE ...` as a child process in `folder`
    (its DataDirectory is folder/nadixq-runs): without a database on a free
    loopback port when `device` is given, else through TANGO_HOST."""

    def __init__(self, folder, instance, device=None, port=None, env=None):
        self.folder, self.instance, self.device = folder, instance, device
        self.port = port or free_port()
        self.env = env or environment()
        self.process = None

    @property
    def address(self):
        return "tango://127.0.0.1:%d/%s#dbase=no" % (self.port, self.device)

    def start(self, timeout=60.0):
        options = ["-ORBendPoint", "giop:tcp:127.0.0.1:%d" % self.port]
        if self.device:
            options = ["-nodb", "-dlist", self.device] + options
        os.makedirs(self.folder, exist_ok=True)
        log = open(self.log_path, "ab")
        with log:
            self.process = subprocess.Popen(
                [PYTHON, "-m", "nadixq", "tango", self.instance] + options, cwd=self.folder,
                env=self.env, stdout=log, stderr=subprocess.STDOUT)
        # The server says so on its standard output once it serves requests.
        deadline = time.monotonic() + timeout
        while b"Ready to accept request" not in self.log():
            if self.process.poll() is not None:
                raise AssertionError("the server ended (%s):\n%s" % (
                    self.process.returncode, self.log().decode(errors="replace")))
            if time.monotonic() > deadline:
                raise AssertionError("the server did not come up:\n%s" %
                                     self.log().decode(errors="replace"))
            time.sleep(0.05)
        return self

    @property
    def log_path(self):
        return os.path.join(self.folder, "%s.log" % self.instance)

    def log(self):
        with open(self.log_path, "rb") as log:
            return log.read()

    def kill(self):
        self.process.kill()
        self.process.wait(30)

    def stop(self):
        if self.process is not None and self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.kill()


class Events:
    """The events of subscribed attributes, as (attribute, value, quality),
    errors as (attribute, None, reason)."""

    def __init__(self):
        self.queue = queue.Queue()
        self._subscriptions = []

    def subscribe(self, proxy, names, kind=tango.EventType.CHANGE_EVENT):
        for name in names:
            self._subscriptions.append(
                (proxy, proxy.subscribe_event(name, kind, self._take)))
        return self

    def _take(self, event):
        name = event.attr_name.rsplit("/", 1)[-1].split("#")[0].lower()
        if getattr(event, "err", False):
            self.queue.put((name, None, event.errors[0].reason))
        elif isinstance(event, tango.DataReadyEventData):
            self.queue.put((name, event.ctr, "data ready"))
        else:
            self.queue.put((name, event.attr_value.value, event.attr_value.quality))

    def until(self, test, timeout):
        """The events up to the first for which test(event) holds; raises
        AssertionError with what came when none did within `timeout`."""
        taken, deadline = [], time.monotonic() + timeout
        while True:
            remaining = deadline - time.monotonic()
            try:
                event = self.queue.get(timeout=max(0.0, remaining))
            except queue.Empty:
                raise AssertionError("no such event in %g s; got %s" % (
                    timeout, [(n, summary(v), q) for n, v, q in taken]))
            taken.append(event)
            if test(event):
                return taken

    def drain(self):
        """Forgets the events so far."""
        while not self.queue.empty():
            self.queue.get_nowait()

    def close(self):
        for proxy, subscription in self._subscriptions:
            with contextlib.suppress(tango.DevFailed):
                proxy.unsubscribe_event(subscription)
        self._subscriptions = []


def summary(value):
    return len(value) if hasattr(value, "__len__") and not isinstance(value, str) else value


def is_state(*states):
    return lambda event: event[0] == "state" and event[1] in states


def run_and_wait(proxy, command, events, timeout=30.0):
    """Runs `command` and waits for the run it starts to end: its State
    events RUNNING, then ON, ALARM or FAULT, on `events` (subscribed to
    State). Returns the events meanwhile."""
    events.drain()
    proxy.command_inout(command)
    taken = events.until(is_state(tango.DevState.RUNNING), timeout)
    taken += events.until(is_state(tango.DevState.ON, tango.DevState.ALARM,
                                   tango.DevState.FAULT), timeout)
    return taken
