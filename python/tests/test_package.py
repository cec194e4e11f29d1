"""The binding as a package: pip installs it without a package index into a
virtual environment that sees the system's numpy, and the installed copy
works from anywhere."""

import importlib.util
import os
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


@unittest.skipUnless(importlib.util.find_spec("ensurepip") and importlib.util.find_spec("pip"),
                     "no venv or pip for this interpreter (Debian: python3-venv, python3-pip)")
class PipInstall(unittest.TestCase):
    def test_pip_installs_the_package_offline(self):
        with tempfile.TemporaryDirectory() as folder:
            environment = os.path.join(folder, "venv")
            subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", environment],
                           check=True, timeout=120)
            python = os.path.join(environment, "bin", "python")
            # --no-index: nothing may come from a package index.
            subprocess.run([python, "-m", "pip", "install", "--quiet", "--no-index",
                            "--no-cache-dir", SOURCE], check=True, timeout=300)
            check = ("import nadixq, numpy, os; "
                     "print(os.path.dirname(nadixq.__file__)); "
                     "ifg = numpy.cos(numpy.arange(-256, 3840) * 0.8) * "
                     "numpy.exp(-numpy.arange(-256, 3840) ** 2 / 50.0); "
                     "print(len(nadixq.spectrum(ifg)), nadixq.__version__)")
            environ = {key: value for key, value in os.environ.items() if key != "PYTHONPATH"}
            done = subprocess.run([python, "-c", check], cwd=folder, env=environ, check=True,
                                  capture_output=True, text=True, timeout=60)
            where, summary = done.stdout.splitlines()
            self.assertTrue(where.startswith(environment), where)
            self.assertEqual(summary, "8193 0.1.0")
            script = os.path.join(environment, "bin", "nadixq")
            usage = subprocess.run([script, "--help"], env=environ, check=True,
                                   capture_output=True, text=True, timeout=60).stdout
            self.assertIn("acquire", usage)


if __name__ == "__main__":
    unittest.main()
