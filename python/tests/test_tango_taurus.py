"""A generic Tango client on the device: Taurus's form, under Xvfb, shows
the device's attributes with the values the device reports (and leaves a
picture of itself, NADIXQ_TAURUS_PICTURE, for the README)."""

import os
import shutil
import subprocess
import tempfile
import unittest

try:
    import tango
except ImportError:
    tango = None

from nadixq import sim

if tango is not None:
    from tango_support import PYTHON, Server, environment
    from tango_support import client_proxy

FOLDER = os.environ.get("NADIXQ_TANGO_DATABASE", "")
HERE = os.path.dirname(os.path.abspath(__file__))
ATTRIBUTES = ("State", "Resolution", "Scans", "Files", "Gain", "Points", "ScansDone",
              "FilesDone", "ZPD", "PeakToPeak", "RunFile", "Interferogram", "Absorbance")


def setUpModule():
    if tango is None:
        raise unittest.SkipTest("no PyTango (Debian: python3-tango)")
    if not sim.available():
        raise unittest.SkipTest("the library has no simulated instrument")
    missing = [name for name in ("Xvfb",) if shutil.which(name) is None]
    try:
        import taurus  # noqa: F401
    except ImportError:
        missing.append("taurus")
    if missing:
        raise unittest.SkipTest("no %s (Debian: python3-taurus, xvfb)" % ", ".join(missing))
    # Taurus names devices through a database: the tests' own.
    if not os.path.exists(os.path.join(FOLDER, "tango_host")):
        raise unittest.SkipTest("no Tango database (NADIXQ_TANGO_DATABASE)")
    with open(os.path.join(FOLDER, "tango_host")) as host:
        os.environ["TANGO_HOST"] = host.read().strip()


class Xvfb:
    """An X server on a display number of its own choosing, no TCP."""

    def __enter__(self):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-nolisten", "tcp", "-screen", "0", "1024x768x24"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as pipe:
            self.display = ":" + pipe.readline().strip()
        return self

    def __exit__(self, *failure):
        self.process.terminate()
        self.process.wait(30)


class TaurusForm(unittest.TestCase):
    def test_form_shows_the_attributes_and_their_values(self):
        folder = tempfile.mkdtemp(prefix="nadixq-taurus-")
        self.addCleanup(shutil.rmtree, folder)
        instance, device = "taurus%d" % os.getpid(), "nadixqtest/taurus%d/1" % os.getpid()
        subprocess.run(["tango_admin", "--add-server", "NadixqSpectrometer/" + instance,
                        "NadixqSpectrometer", device], check=True, timeout=30)
        self.addCleanup(subprocess.run, ["tango_admin", "--delete-server",
                                         "NadixqSpectrometer/" + instance], timeout=30)
        server = Server(folder, instance, env=environment(TANGO_HOST=os.environ["TANGO_HOST"]))
        self.addCleanup(server.stop)
        server.start()
        proxy = client_proxy(device)
        proxy.Resolution, proxy.Scans, proxy.Files = 4.0, 2, 1
        proxy.TakeSample()  # no background: the absorbance stays invalid

        picture = os.environ.get("NADIXQ_TAURUS_PICTURE") or os.path.join(folder, "form.png")
        with Xvfb() as x:
            shown = subprocess.run(
                [PYTHON, os.path.join(HERE, "tango_taurus_form.py"), picture] +
                ["%s/%s" % (device, name) for name in ATTRIBUTES],
                env=environment(DISPLAY=x.display, TANGO_HOST=os.environ["TANGO_HOST"]),
                capture_output=True, text=True, timeout=120)
        self.assertEqual(shown.returncode, 0, shown.stderr[-3000:])
        rows = dict(line.split("\t", 1) for line in shown.stdout.splitlines() if "\t" in line)
        self.assertEqual(sorted(rows), sorted("%s/%s" % (device, name) for name in ATTRIBUTES))
        row = lambda name: rows["%s/%s" % (device, name)]  # noqa: E731
        self.assertEqual(row("Points"), "4096")
        self.assertEqual(row("Scans"), "2")
        self.assertEqual(row("FilesDone"), "1")
        self.assertEqual(row("Files"), "1")
        self.assertEqual(row("Resolution"), "4.000")
        with open(picture, "rb") as png:
            self.assertEqual(png.read(8), b"\x89PNG\r\n\x1a\n")


if __name__ == "__main__":
    unittest.main()
