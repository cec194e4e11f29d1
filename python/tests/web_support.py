"""What the web view's tests share: a real server in its own process, on a
free loopback port, and a headless Chromium driven through Selenium."""

import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

ADDRESS = re.compile(r"serving model \d+ at (http://\S+)")
PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable


class ServerProcess:
    """`python3 -m nadixq serve` with the given arguments, its own runtime
    folder (the instrument lock) unless one is given, and its output kept."""

    def __init__(self, *arguments, data=None, runtime=None, prefix=(), environment=None):
        self.folder = tempfile.mkdtemp(prefix="nadixq-web-")
        self.data = data or os.path.join(self.folder, "runs")
        self.runtime = runtime or self.folder
        env = dict(os.environ, XDG_RUNTIME_DIR=self.runtime, PYTHONUNBUFFERED="1")
        env.update(environment or {})
        command = list(prefix) + [PYTHON, "-m", "nadixq", "serve", "--data", self.data] + \
            list(arguments)
        # In a folder of its own: the library writes its log file into the
        # working folder, which other tests' processes share.
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        text=True, env=env, cwd=self.folder)
        self.lines = []
        self.errors = []
        self._address = threading.Event()
        self.url = None
        threading.Thread(target=self._read, args=(self.process.stdout, self.lines),
                         daemon=True).start()
        threading.Thread(target=self._read, args=(self.process.stderr, self.errors),
                         daemon=True).start()

    def _read(self, stream, lines):
        for line in stream:
            lines.append(line)
            found = ADDRESS.search(line)
            if found:
                self.url = found.group(1)
                self._address.set()
        self._address.set()

    def wait_url(self, timeout=60):
        """The printed address (with ?token= when there is one)."""
        if not self._address.wait(timeout) or self.url is None:
            raise AssertionError("the server printed no address: %s %s" % (
                "".join(self.lines), "".join(self.errors)))
        return self.url

    @property
    def base(self):
        return self.wait_url().split("?")[0].rstrip("/")

    @property
    def host_port(self):
        return self.base[len("http://"):]

    def stop(self, timeout=30):
        """SIGINT, as Ctrl-C; returns the exit status."""
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            raise

    def cleanup(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        self.process.stdout.close()
        self.process.stderr.close()
        shutil.rmtree(self.folder, ignore_errors=True)


def browser_available():
    try:
        import selenium  # noqa: F401
    except ImportError:
        return False
    return shutil.which("chromedriver") is not None and (
        shutil.which("chromium") is not None or shutil.which("chromium-browser") is not None)


def headless_chromium(profile, width=1280, height=900):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--user-data-dir=%s" % profile,
                 # A page nobody looks at still gets its timers and tasks
                 # at once, as the one on the instrument's screen does.
                 "--disable-renderer-backgrounding", "--disable-background-timer-throttling",
                 "--disable-backgrounding-occluded-windows",
                 "--window-size=%d,%d" % (width, height)):
        options.add_argument(flag)
    binary = shutil.which("chromium") or shutil.which("chromium-browser")
    options.binary_location = binary
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)
