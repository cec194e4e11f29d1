"""How the binding fails: runs that go wrong raise what happened and what was
delivered, bad settings are refused where they are set, the one instrument
of the process is guarded, and runs may be stopped from another thread."""

import errno
import gc
import json
import math
import os
import subprocess
import sys
import tempfile
import threading
import unittest
import warnings

import nadixq
from nadixq import sim

POINTS = 1024
# A scan of 1024 points in 25 ms: a file of 2 scans in 50 ms, long enough for
# the test to read every file of a run also on a busy machine.
FAST = POINTS / 0.025


def setUpModule():
    if not sim.available():
        raise unittest.SkipTest("the library has no simulated instrument")


class Runs(unittest.TestCase):
    def setUp(self):
        sim.reset()
        sim.set_scan_rate(FAST, 0.001)
        self.addCleanup(sim.reset)
        self.s = nadixq.Spectrometer(1)
        self.addCleanup(self.s.close)
        self.s.points, self.s.scans, self.s.files = POINTS, 2, 5
        self.s.initialize()
        self.s.calibrate()

    def run_until_it_raises(self, **options):
        """The files a run yields before its exception, and the exception."""
        given = []
        unplug = options.pop("unplug_after_second", False)
        with self.assertRaises(nadixq.RunFailedError) as caught:
            for ifg in self.s.acquire(**options):
                given.append(ifg)
                if ifg.index == 1 and unplug:
                    sim.unplug()
        self.assertEqual(self.s.status, nadixq.STATUS_READY)  # nothing left running
        return given, caught.exception

    def test_every_silent_end_raises_with_its_cause_and_what_was_delivered(self):
        # The board reports I_ERROR in the third file's first scan; the run
        # is logged from its start to the fault.
        sim.error_at_scan(5)
        with self.assertLogs("nadixq", "DEBUG") as logged:
            given, error = self.run_until_it_raises()
        levels = [record.levelname for record in logged.records]
        self.assertEqual(levels, ["INFO", "DEBUG", "DEBUG", "ERROR"], logged.output)
        self.assertIn("device failure", logged.records[-1].getMessage())
        self.assertEqual([ifg.index for ifg in given], [0, 1])
        self.assertEqual((error.reason, error.files_delivered, error.files_expected, error.status),
                         ("device failure", 2, 5, nadixq.STATUS_READY))
        self.assertEqual(error.code, nadixq.ErrorCode.REFUSED)
        self.assertIn("error", error.detail.lower())  # the library's own line
        self.assertIn("after 2 of 5 files: device failure", str(error))

        # A board unplugged after the second file (a file takes long enough
        # here for the unplug to land inside the third).
        sim.reset()
        sim.set_scan_rate(FAST / 4, 0.001)
        self.s.initialize()  # the board's scan length again after the reset
        given, error = self.run_until_it_raises(unplug_after_second=True)
        self.assertEqual((error.reason, error.files_delivered), ("device failure", 2))
        self.assertEqual(len(given), 2)
        sim.reset()
        sim.set_scan_rate(FAST, 0.001)
        self.s.initialize()

        # Settings changed after initialize(): refused before anything runs.
        self.s.resolution = 8
        given, error = self.run_until_it_raises()
        self.assertEqual((given, error.reason, error.files_delivered),
                         ([], "not initialized for these settings", 0))
        self.assertIn("2048 points", str(error))
        self.s.initialize()
        self.s.gain = 2
        with self.assertRaises(nadixq.RunFailedError):
            self.s.start()  # the plain start guards the same way
        self.s.initialize()

        # A point count the library cannot store, set behind the binding's
        # back (the settings belong to the process): no run at all.
        self.s._lib.spectrometer_setPoints(40000)
        self.s._initialized = (40000, self.s.gain)
        given, error = self.run_until_it_raises()
        self.assertTrue(error.reason.startswith("no file stored"), error.reason)
        self.s.points = POINTS
        self.s.initialize()

        # A file that takes far longer than the time-out (a scan of 100 s).
        sim.set_scan_rate(10.0)
        given, error = self.run_until_it_raises(timeout=0.2)
        self.assertIsInstance(error, nadixq.RunTimeoutError)
        self.assertEqual((error.reason, error.files_delivered, error.code),
                         ("timeout", 0, nadixq.ErrorCode.TIMEOUT))

        # With nothing wrong the same instrument runs on.
        sim.set_scan_rate(FAST, 0.001)
        self.assertEqual(len(list(self.s.acquire(files=2))), 2)

    def test_a_run_stopped_or_closed_from_another_thread_ends_normally(self):
        for end in ("stop", "close"):
            two = threading.Event()
            outcome = {}

            def consume():
                given = []
                try:
                    for ifg in self.s.acquire(files=0):
                        given.append(ifg)
                        if len(given) == 2:
                            two.set()
                    outcome["given"] = given
                except Exception as error:  # noqa: B902 - reported to the test
                    outcome["error"] = error
                finally:
                    two.set()

            consumer = threading.Thread(target=consume)
            consumer.start()
            self.assertTrue(two.wait(30.0))
            # What another thread may look at while the run goes on.
            self.assertTrue(self.s.acquiring)
            self.assertGreaterEqual(self.s.progress.files, 2)
            self.assertEqual(self.s.scans, 2)
            getattr(self.s, end)()
            consumer.join(30.0)
            self.assertFalse(consumer.is_alive())
            self.assertNotIn("error", outcome, end)
            self.assertGreaterEqual(len(outcome["given"]), 2, end)
        self.assertTrue(self.s.closed)

        # Closing the generator is the caller's stop too.
        self.s = nadixq.Spectrometer(1)
        self.addCleanup(self.s.close)
        self.s.points, self.s.scans = POINTS, 2
        self.s.initialize()
        run = self.s.acquire(files=5)
        next(run)
        run.close()
        self.assertFalse(self.s.acquiring)

    def test_a_run_stopped_before_its_first_file_gives_nothing_and_no_error(self):
        stream = os.path.join(tempfile.mkdtemp(), "stopped.spc")
        self.addCleanup(lambda: os.path.exists(stream) and os.remove(stream))
        self.assertEqual(len(list(self.s.acquire(files=1))), 1)  # a file stays stored

        # A stop between acquire() and the generator's first step: no run.
        run = self.s.acquire(files=0, stream=stream)
        self.s.stop()
        self.assertEqual(list(run), [])
        self.assertFalse(self.s.acquiring)

        # Stopped from another thread while the first file is under way: the
        # earlier run's stored file is not handed out again, and the empty
        # stream is not taken for one that ended early.
        sim.set_scan_rate(POINTS / 30.0)  # a scan of 30 s
        outcome = {}

        def consume():
            try:
                outcome["given"] = list(self.s.acquire(files=0, stream=stream))
            except Exception as error:  # noqa: B902 - reported to the test
                outcome["error"] = error

        consumer = threading.Thread(target=consume)
        consumer.start()
        pause = threading.Event()  # never set: a bounded wait between looks
        for _ in range(3000):  # until the run is under way (at most 30 s)
            if self.s.acquiring:
                break
            pause.wait(0.01)
        self.assertTrue(self.s.acquiring)
        self.s.stop()
        consumer.join(30.0)
        self.assertFalse(consumer.is_alive())
        self.assertEqual(outcome, {"given": []})

    def test_a_stream_that_ends_early_raises_after_the_run(self):
        # A child process whose files may grow to two subfiles and a bit:
        # the third subfile's write fails with EFBIG, as on a full disk.
        subfile = 32 + 4 * POINTS
        limit = 512 + 2 * subfile + 100
        child = """if True:
            import json, os, resource, signal
            import nadixq
            from nadixq import sim
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (%d, %d))
            sim.set_scan_rate(%r, 0.001)
            given = []
            with nadixq.Spectrometer(1) as s:
                s.points, s.scans = %d, 2
                s.initialize()
                try:
                    for ifg in s.acquire(files=5, stream="run.spc"):
                        given.append(ifg.index)
                    outcome = {"error": None}
                except nadixq.StreamError as error:
                    outcome = {"error": type(error).__name__, "subfiles": error.subfiles,
                               "delivered": error.files_delivered, "reason": error.reason,
                               "path": error.path, "text": str(error)}
            with nadixq.spc.read("run.spc") as run:
                outcome["kept"] = len(run)
            outcome["given"] = given
            print(json.dumps(outcome))
        """ % (limit, limit, FAST, POINTS)
        with tempfile.TemporaryDirectory() as folder:
            done = subprocess.run([sys.executable, "-c", child], cwd=folder, capture_output=True,
                                  text=True, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr)
        outcome = json.loads(done.stdout)
        # The run's files were delivered before the error (all five unless
        # the child fell a whole file behind); the file keeps two.
        self.assertEqual(outcome["given"][:3], [0, 1, 2])
        self.assertEqual((outcome["error"], outcome["subfiles"], outcome["delivered"],
                          outcome["kept"], outcome["path"]),
                         ("StreamError", 2, len(outcome["given"]), 2, "run.spc"))
        # The system's reason where the library logged one.
        self.assertIn(outcome["reason"], ("", os.strerror(errno.EFBIG)))
        self.assertIn("keeps 2 of the run's %d files" % len(outcome["given"]), outcome["text"])


class Instrument(unittest.TestCase):
    def setUp(self):
        sim.reset()
        self.addCleanup(sim.reset)

    def test_an_instrument_dropped_open_warns_and_is_closed(self):
        s = nadixq.Spectrometer(1)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            del s
            gc.collect()
        self.assertEqual([w.category for w in caught], [ResourceWarning])
        self.assertIn("unclosed nadixq.Spectrometer", str(caught[0].message))
        with nadixq.Spectrometer(2) as again:  # no longer busy
            self.assertFalse(again.closed)

    def test_settings_are_checked_where_they_are_set(self):
        rows = "0.5, 1, 2, 4, 8, 16 and coarser than 16"
        cases = [
            # setting, value, exception, part of its message
            ("resolution", -1, ValueError, rows),
            ("resolution", math.nan, ValueError, rows),
            ("resolution", math.inf, ValueError, rows),
            ("resolution", -math.inf, ValueError, rows),
            ("resolution", 0.25, ValueError, rows),
            ("resolution", 0.0, ValueError, rows),
            ("resolution", "4", TypeError, "must be a number, not str"),
            ("resolution", None, TypeError, "must be a number"),
            ("scans", 0, ValueError, "scans must be 1 to 2**31 - 1, not 0"),
            ("scans", 2 ** 31, ValueError, "not 2147483648"),
            ("scans", 2.5, TypeError, "integer"),
            ("scans", "16", TypeError, "integer"),
            ("scans", True, TypeError, "integer"),
            ("files", -1, ValueError, "files must be 0 to 2**31 - 1"),
            ("files", 2 ** 31, ValueError, "not 2147483648"),
            ("files", "1", TypeError, "integer"),
            ("gain", 3, ValueError, "1, 2 or 4"),
            ("gain", 0.5, ValueError, "1, 2 or 4"),
            ("gain", "2", TypeError, "must be a number"),
            ("points", 0, ValueError, "1 to 32767, or 32768"),
            ("points", 40000, ValueError, "cannot store"),
            ("points", 32769, ValueError, "cannot store"),
            ("points", "1024", TypeError, "integer"),
        ]
        with nadixq.Spectrometer(1) as s:
            before = (s.resolution, s.points, s.scans, s.files, s.gain)
            for setting, value, kind, text in cases:
                with self.assertRaises(kind, msg=(setting, value)) as caught:
                    setattr(s, setting, value)
                self.assertIn(text, str(caught.exception), (setting, value))
            # Nothing refused reached the library.
            self.assertEqual((s.resolution, s.points, s.scans, s.files, s.gain), before)

            # What is taken: each resolution runs as its row; 32768 points
            # is the finest setting, stored as 30000 and reported as 32768.
            for resolution, points in ((0.5, 32768), (0.7, 16384), (1, 16384), (3, 4096),
                                       (16, 1024), (16.5, 512), (1e6, 512)):
                s.resolution = resolution
                self.assertEqual((s.resolution, s.points), (resolution, points))
            s.points = 32768
            self.assertEqual(s.points, 32768)
            s.scans, s.files, s.gain = 2 ** 31 - 1, 0, 2
            self.assertEqual((s.scans, s.files, s.gain), (2 ** 31 - 1, 0, 2.0))
            with self.assertRaises(TypeError):
                nadixq.Spectrometer("1")
            with self.assertRaises(ValueError):
                s.acquire(timeout=0)


if __name__ == "__main__":
    unittest.main()
