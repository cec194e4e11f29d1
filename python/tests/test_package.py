"""The binding as a package: pip installs it without a package index into a
virtual environment that sees the system's numpy, and the installed copy
works from anywhere."""

import importlib.util
import os
import re
import subprocess
import sys
import tempfile
import unittest

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def _project_version():
    """The version in the project's top-level CMakeLists.txt."""
    with open(os.path.join(os.path.dirname(SOURCE), "CMakeLists.txt")) as cmake_lists:
        return re.search(r"project\(nadixq VERSION (\S+)", cmake_lists.read()).group(1)


@unittest.skipUnless(importlib.util.find_spec("ensurepip") and importlib.util.find_spec("pip"),
                     "no venv or pip for this interpreter (Debian: python3-venv, python3-pip)")
class PipInstall(unittest.TestCase):
    def test_the_source_tree_has_the_project_version(self):
        import nadixq
        self.assertEqual(nadixq.__version__, _project_version())

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
            self.assertTrue(os.path.isfile(os.path.join(where, "py.typed")))
            self.assertEqual(summary, "8193 %s" % _project_version())
            script = os.path.join(environment, "bin", "nadixq")
            usage = subprocess.run([script, "--help"], env=environ, check=True,
                                   capture_output=True, text=True, timeout=60).stdout
            self.assertIn("acquire", usage)
            # The Tango device server's script, named as the server is.
            self.assertTrue(os.access(os.path.join(environment, "bin", "NadixqSpectrometer"),
                                      os.X_OK))


if __name__ == "__main__":
    unittest.main()
