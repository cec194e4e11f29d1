"""The command line, python3 -m nadixq acquire | spectrum | plot, and the
acquisition command's background run, on the simulated instrument."""

import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest

import numpy

import nadixq
from nadixq import sim

FAST = ["--sim-rate", "2000000", "--sim-seed", "5"]


def setUpModule():
    if not sim.available():
        raise unittest.SkipTest("the library has no simulated instrument")


class CommandLine(unittest.TestCase):
    def setUp(self):
        folder = tempfile.TemporaryDirectory()
        self.addCleanup(folder.cleanup)
        self.folder = folder.name

    def run_nadixq(self, *arguments):
        done = subprocess.run([sys.executable, "-m", "nadixq"] + list(arguments), cwd=self.folder,
                              capture_output=True, text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr)
        return done.stdout

    def test_background_and_sample_runs_give_the_absorbance_and_its_picture(self):
        acquired = self.run_nadixq("acquire", "--resolution", "4", "--scans", "8", "--files", "2",
                                   "--background", "bg.spc", "--sample", "run.spc", *FAST)
        self.assertIn("background: model 1, 4096 points, 8 scans per file, 2 files -> bg.spc",
                      acquired)
        self.assertEqual(acquired.count("ZPD 25"), 4, acquired)
        for name in ("bg.spc", "run.spc"):
            self.assertEqual(len(nadixq.spc.read(os.path.join(self.folder, name))), 2)

        table = self.run_nadixq("spectrum", "run.spc", "--background", "bg.spc",
                                "--zero-fill", "4", "-o", "abs.jdx", "--model", "1")
        self.assertIn("wrote abs.jdx (absorbance", table)
        rows = [line.split() for line in table.splitlines() if line.startswith("   ")]
        centres = [float(row[0]) for row in rows[1:]]
        self.assertEqual(centres, sorted(centres, reverse=True))  # as spectroscopists list them
        for band in (3026.0, 1601.0, 698.0):
            self.assertLess(min(abs(centre - band) for centre in centres), 1.0, table)
        with open(os.path.join(self.folder, "abs.jdx")) as jdx:
            header = jdx.read(400)
        self.assertTrue(header.startswith("##TITLE=absorbance of run.spc against bg.spc"), header)

        if importlib.util.find_spec("matplotlib") is None:
            self.skipTest("no matplotlib: no picture")
        self.assertIn("wrote abs.png", self.run_nadixq("plot", "run.spc", "--background",
                                                       "bg.spc", "-o", "abs.png"))
        with open(os.path.join(self.folder, "abs.png"), "rb") as png:
            self.assertEqual(png.read(8), b"\x89PNG\r\n\x1a\n")
        # Only the command line picks the backend: the module keeps a program's.
        backend = subprocess.run([sys.executable, "-c", "import matplotlib; matplotlib.use('svg'); "
                                  "import nadixq.plot; print(matplotlib.get_backend())"],
                                 capture_output=True, text=True, timeout=60, check=True).stdout
        self.assertEqual(backend.strip(), "svg")

    @unittest.skipUnless(os.environ.get("NADIXQ_TOOLS_DIR"), "NADIXQ_TOOLS_DIR is not set")
    def test_acquisition_command_records_a_background_without_the_film(self):
        tool = os.path.join(os.environ["NADIXQ_TOOLS_DIR"], "nadixq-acquire")
        bursts = {}
        for name, extra in (("sample.spc", []), ("background.spc", ["--sim-no-sample"])):
            subprocess.run([tool, "--resolution", "4", "--scans", "2", "--out", name,
                            "--sim-noise", "0", "--quiet"] + FAST[:2] + extra, cwd=self.folder,
                           check=True, timeout=120)
            bursts[name] = nadixq.spc.read(os.path.join(self.folder, name)).y[0]
        # Without the film's absorption more light reaches the detector.
        ratio = numpy.ptp(bursts["background.spc"]) / numpy.ptp(bursts["sample.spc"])
        self.assertGreater(ratio, 1.05)


if __name__ == "__main__":
    unittest.main()
