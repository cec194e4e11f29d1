"""The Python binding against the simulated instrument of the library."""

import array
import ctypes
import datetime
import os
import resource
import struct
import tempfile
import time
import unittest

import numpy

import nadixq
from nadixq import sim

POINTS = 1024
SCANS = 2
FILES = 2
SPC_MAIN_HEADER = 512
SPC_SUBFILE_HEADER = 32


def _restore_settings(s, points, scans, files):
    s.points, s.scans, s.files = points, scans, files


def setUpModule():
    if not sim.available():
        raise unittest.SkipTest("the library has no simulated instrument")


class SimulatedRun(unittest.TestCase):
    """A short counted run of model 1: 2 files of 2 scans of 1024 points."""

    def setUp(self):
        sim.reset()
        sim.set_seed(7)
        self.s = nadixq.Spectrometer(1)
        # The settings belong to the process: leave them as found (a closed
        # instance still reaches them).
        self.addCleanup(_restore_settings, self.s, self.s.points, self.s.scans, self.s.files)
        self.addCleanup(self.s.close)
        self.s.points, self.s.scans, self.s.files = POINTS, SCANS, FILES
        self.s.initialize()
        self.s.calibrate()

    def _files_of_run(self):
        """Waits for every file of the run and reads each one as it comes."""
        files = []
        while len(files) < FILES:
            completed = self.s.wait_for_file(30.0)
            self.assertGreater(completed, 0, "no file within 30 s")
            files.append(self.s.get_data())
        return files

    def test_files_carry_the_burst_near_256_and_a_current_time_stamp(self):
        before = time.time() * 1000.0
        self.s.start()
        files = self._files_of_run()
        after = time.time() * 1000.0

        for ifg in files:
            values, stamp = ifg.values, ifg.milliseconds
            self.assertIsNone(ifg.index)  # read outside acquire()
            self.assertLessEqual(abs(ifg.zpd - 256), 2)
            self.assertIsInstance(values, numpy.ndarray)
            self.assertEqual((values.dtype, values.shape), (numpy.float64, (POINTS,)))
            self.assertLessEqual(abs(int(numpy.argmax(values)) - 256), 2)
            # Generous bounds: the library's clock is anchored to the wall
            # clock at open and runs on a performance counter from there.
            self.assertGreater(stamp, before - 5000.0)
            self.assertLess(stamp, after + 5000.0)
        self.assertLessEqual(files[0].milliseconds, files[1].milliseconds)
        self.assertEqual(self.s.timestamp, files[1].milliseconds)
        self.assertEqual(files[1].time.tzinfo, datetime.timezone.utc)
        self.assertAlmostEqual(files[1].time.timestamp() * 1000.0, files[1].milliseconds,
                               delta=0.001)

        # The run ends by itself; waiting again returns at once with nothing.
        self.assertEqual(self.s.wait_for_file(30.0), 0)
        self.assertEqual(self.s.status, nadixq.STATUS_READY)
        self.assertEqual(self.s.progress, nadixq.Progress(SCANS, FILES))
        self.assertEqual(sim.scan_count(), SCANS * FILES)
        self.assertTrue(self.s.stop())

    def test_streamed_run_writes_every_file_to_the_spc_file(self):
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "run.spc")
            self.s.stream_to_disk(path)
            files = self._files_of_run()
            self.s.stop()  # completes and closes the file

            with open(path, "rb") as spc:
                content = spc.read()
            read = nadixq.spc.read(path)
        self.assertEqual(len(content), SPC_MAIN_HEADER + FILES * (SPC_SUBFILE_HEADER + 4 * POINTS))
        fnpts, = struct.unpack_from("<I", content, 4)
        fnsub, = struct.unpack_from("<I", content, 24)
        self.assertEqual((fnpts, fnsub), (POINTS, FILES))

        # The reader finds every subfile: the values get_data gave (as
        # floats), their indices and time stamps (seconds in a float32).
        self.assertEqual((read.header["fnpts"], read.header["fnsub"], read.trailing_bytes),
                         (POINTS, FILES, 0))
        self.assertEqual((read.header["fxtype"], read.header["fytype"]), (0, 1))
        self.assertEqual(read.y.shape, (FILES, POINTS))
        self.assertEqual([subfile.index for subfile in read.subfiles], list(range(FILES)))
        for subfile, acquired in zip(read.subfiles, files):
            numpy.testing.assert_array_equal(subfile.values,
                                             acquired.values.astype(numpy.float32))
            # A float32 of seconds: within one step of its value.
            self.assertAlmostEqual(subfile.seconds, acquired.milliseconds / 1000.0,
                                   delta=subfile.seconds_step)
        local = datetime.datetime.fromtimestamp(files[0].milliseconds / 1000.0)
        self.assertLess(abs((read.date - local).total_seconds()), 61.0)
        # An interferogram's X is the point index; its header's last X the
        # folding wavenumber, half the sampling wavenumber.
        self.assertTrue(read.x_is_point_index)
        numpy.testing.assert_array_equal(read.x, numpy.arange(POINTS))
        self.assertEqual(read.sampling_wavenumber, nadixq.SAMPLING_WAVENUMBER)

    def test_a_run_of_gigabytes_opens_in_constant_memory(self):
        # A continuous run's file passes 4 GiB: a sparse one of 1.1 million
        # subfiles of 1024 points, of which only the header and one subfile
        # hold data, opens without reading it, and subfiles are read lazily.
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "long.spc")
            self.s.stream_to_disk(path)
            self._files_of_run()
            self.s.stop()
            count = 1100000
            size = SPC_MAIN_HEADER + count * (SPC_SUBFILE_HEADER + 4 * POINTS)
            with open(path, "r+b") as spc:
                first = spc.read(SPC_MAIN_HEADER + SPC_SUBFILE_HEADER + 4 * POINTS)
                spc.seek(24)
                spc.write(struct.pack("<I", count))
                spc.truncate(size)
            before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
            with nadixq.spc.read(path) as run:
                self.assertEqual((len(run), run.y.shape, run.trailing_bytes),
                                 (count, (count, POINTS), 0))
                numpy.testing.assert_array_equal(
                    run.subfiles[0].values,
                    numpy.frombuffer(first, "<f4", offset=SPC_MAIN_HEADER + SPC_SUBFILE_HEADER))
                self.assertFalse(numpy.any(run.subfiles[-1].values))
                self.assertEqual(run.subfiles[-1].index, 0)
            grown_kib = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before
            self.assertLess(grown_kib, 64 * 1024, "%d KiB for a %d-byte file" % (grown_kib, size))

    def test_get_data_hands_out_the_array_the_library_filled(self):
        self.s.start()
        self._files_of_run()
        library = self.s._lib
        original = library.spectrometer_getData
        passed = []

        def recording(data, count, stamp):
            passed.append(ctypes.cast(data, ctypes.c_void_p).value)
            return original(data, count, stamp)

        library.spectrometer_getData = recording
        self.addCleanup(setattr, library, "spectrometer_getData", original)
        values = self.s.get_data().values
        # The library's one copy lands in the array returned: no other copy.
        self.assertEqual(passed, [values.ctypes.data])
        self.assertTrue(values.flags.owndata)

    def test_acquire_yields_every_file_and_stops_the_run_when_closed(self):
        counted = list(self.s.acquire())
        self.assertEqual(len(counted), FILES)
        for index, acquired in enumerate(counted):
            self.assertEqual(acquired.index, index)
            self.assertEqual(acquired.time.tzinfo, datetime.timezone.utc)
            self.assertEqual(acquired.values.shape, (POINTS,))
        self.assertLess(counted[0].time, counted[1].time)
        self.assertEqual(self.s.status, nadixq.STATUS_READY)

        # A failure closes out the counted run: the file without scans
        # stores nothing and is not given again, and the run raises after
        # the file it did give.
        sim.error_at_scan(SCANS + 1)
        given = []
        with self.assertRaises(nadixq.RunFailedError) as caught:
            given.extend(self.s.acquire())
        self.assertEqual((len(given), caught.exception.files_delivered), (1, 1))

        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "continuous.spc")
            run = self.s.acquire(files=0, stream=path)
            first, second = next(run), next(run)
            self.assertTrue(self.s.acquiring)
            run.close()
            self.assertEqual(self.s.status, nadixq.STATUS_READY)
            read = nadixq.spc.read(path)
        self.assertGreaterEqual(len(read), 2)
        self.assertEqual(read.trailing_bytes, 0)
        numpy.testing.assert_array_equal(read.y[:2], numpy.array([first.values, second.values],
                                                                 dtype=numpy.float32))

    def test_stream_file_that_cannot_be_created_raises_with_the_system_error(self):
        path = os.path.join(tempfile.gettempdir(), "nadixq-no-such-folder", "run.spc")
        with self.assertRaises(nadixq.NadixqError) as caught:
            self.s.stream_to_disk(path)
        self.assertEqual(caught.exception.code, nadixq.ErrorCode.FILE_NOT_FOUND)
        self.assertEqual(caught.exception.system_error, 2)
        self.assertEqual(str(caught.exception), "cannot create the stream file %s: %s (0x80070002)"
                         % (path, os.strerror(2)))
        self.assertEqual(self.s.status, nadixq.STATUS_READY)  # nothing started

    def test_processing_finds_the_burst_of_an_acquired_file(self):
        self.s.start()
        values = self._files_of_run()[-1].values
        nadixq.baseline_correct_ifg(values, nadixq.BASELINE_LINEAR)
        zpd = nadixq.find_zpd(values)
        self.assertLessEqual(abs(zpd - 256), 2)
        self.assertEqual(nadixq.find_zpd(values, hint=256), zpd)

        peak = values[zpd]
        nadixq.gaussian_apodize(values, 100.0)
        self.assertEqual(values[zpd], peak)  # weight 1 at the ZPD

    def test_no_data_before_a_run_and_a_stop_that_stops_nothing(self):
        with self.assertRaises(nadixq.NadixqError) as caught:
            self.s.get_data()
        self.assertEqual(caught.exception.code, nadixq.ErrorCode.REFUSED)
        self.assertEqual(str(caught.exception), "no finished file of 1024 points is ready (1)")
        with self.assertRaises(nadixq.NadixqError) as caught:
            missing = os.path.join(tempfile.gettempdir(), "nadixq-no-such-folder", "x.spc")
            next(self.s.acquire(stream=missing))
        self.assertEqual(caught.exception.code, nadixq.ErrorCode.FILE_NOT_FOUND)
        self.assertEqual(self.s.wait_for_file(30.0), 0)  # no run: returns at once
        self.assertFalse(self.s.stop())

    def test_continuous_run_stops_on_request(self):
        self.s.files = 0
        self.s.start()
        self.assertGreater(self.s.wait_for_file(30.0), 0)
        self.assertTrue(self.s.acquiring)
        self.assertTrue(self.s.stop())
        self.assertEqual(self.s.status, nadixq.STATUS_READY)
        self.assertEqual(len(self.s.get_data().values), POINTS)

    def test_wait_for_file_gives_up_at_its_time_out_while_the_run_goes_on(self):
        sim.set_scan_rate(1000.0)  # about a second per scan
        self.s.start()
        began = time.monotonic()
        self.assertEqual(self.s.wait_for_file(0.05), 0)
        self.assertLess(time.monotonic() - began, 1.5)  # the first file takes two seconds
        self.assertTrue(self.s.acquiring)
        self.assertTrue(self.s.stop())

    def test_aux_lines_change_only_under_the_mask(self):
        self.s.write_aux(0x00FF, 0x000F)
        self.s.write_aux(0xFF00, 0x0F00)
        self.assertEqual(sim.aux_state(), 0x0F0F)
        # Out-of-range words are refused before they reach the library,
        # which would keep only their low bits.
        with self.assertRaises(ValueError):
            self.s.write_aux(0x10000)
        self.assertEqual(sim.aux_state(), 0x0F0F)


class Instrument(unittest.TestCase):
    def setUp(self):
        sim.reset()
        self.addCleanup(sim.reset)

    def test_unknown_model_raises_with_its_code_and_message(self):
        with self.assertRaises(nadixq.NadixqError) as caught:
            nadixq.Spectrometer(7)
        self.assertEqual(caught.exception.code, nadixq.ErrorCode.NO_BOARD_CLASS)
        self.assertEqual(caught.exception.step, "open")
        self.assertEqual(str(caught.exception), "no board class for model 7 (0x80070011)")

    def test_unplugged_board_fails_to_open(self):
        sim.unplug()
        with self.assertRaises(nadixq.NadixqError) as caught:
            nadixq.Spectrometer(1)
        self.assertEqual(str(caught.exception),
                         "the board for model 1 did not open: no device of its interface "
                         "(0x8007006E)")

    def test_board_results_come_with_their_step(self):
        sim.set_calibration_error(3)
        with nadixq.Spectrometer(2) as s:
            with self.assertRaises(nadixq.NadixqError) as caught:
                s.calibrate()
        self.assertEqual(caught.exception.code, nadixq.ErrorCode.CALIBRATION_ERROR_3)
        self.assertEqual(str(caught.exception),
                         "calibration: the calibration failed with error 3 (0x80070009)")

    def test_fiber_frames_round_trip_on_model_3_and_model_4_refuses_them(self):
        frame = [0xF1BE0000 + i for i in range(15)] + [0xFFFFFFFF]
        with nadixq.Spectrometer(3) as s:
            self.assertEqual(s.capabilities, 4)
            s.write_fiber(frame)
            self.assertEqual(s.read_fiber(), frame)
            with self.assertRaises(ValueError):
                s.write_fiber(frame[:15])  # the library would read past it
        with nadixq.Spectrometer(4) as s:
            with self.assertRaises(nadixq.NadixqError) as caught:
                s.read_fiber()
        self.assertEqual(str(caught.exception),
                         "fiber link: not supported by this board (0x80004001)")

    def test_settings_round_trip_as_their_c_types(self):
        with nadixq.Spectrometer(1) as s:
            self.addCleanup(setattr, s, "points", s.points)
            self.addCleanup(setattr, s, "resolution", s.resolution)
            self.addCleanup(setattr, s, "gain", s.gain)
            s.gain = 4
            self.assertEqual(s.gain, 4.0)
            s.resolution = 0.5
            self.assertEqual((s.resolution, s.points), (0.5, 32768))  # 30000 seen as 32768
            s.resolution = 16
            self.assertEqual((s.resolution, s.points), (16.0, 1024))
            s.points = 4096
            self.assertEqual((s.resolution, s.points), (16.0, 4096))
            with self.assertRaises(TypeError):
                s.scans = 2.5  # ctypes would cut it to 2

    def test_a_second_instrument_opens_only_after_the_first_is_closed(self):
        first = nadixq.Spectrometer(1)
        self.addCleanup(first.close)
        first.scans = 5
        with self.assertRaises(nadixq.InstrumentBusyError) as caught:
            nadixq.Spectrometer(2)
        self.assertIn("model 1 is already open", str(caught.exception))
        self.assertFalse(first.closed)  # the first is left as it was
        self.assertEqual(first.scans, 5)
        first.close()
        with self.assertRaises(ValueError):
            first.start()
        first.close()  # harmless
        second = nadixq.Spectrometer(2)
        self.addCleanup(second.close)
        self.assertEqual(second.status, nadixq.STATUS_READY)
        # A new instrument starts from the library's defaults.
        self.assertEqual((second.scans, second.files, second.gain, second.resolution,
                          second.points), (16, 1, 1.0, 1.0, 16384))


class Processing(unittest.TestCase):
    BURST = [0.0, 0.5, 3.0, 9.0, 4.0, -2.0, -8.0, -3.0, 0.0, 0.0]

    def test_find_zpd_picks_the_sample_nearer_zero(self):
        # Maximum at 3, minimum at 6; the crossing lies between 4 and 5.
        self.assertEqual(nadixq.find_zpd(self.BURST), 5)
        self.assertEqual(nadixq.find_zpd(tuple(self.BURST)), 5)  # read only is fine

    def test_find_zpd_failure_raises(self):
        with self.assertRaises(nadixq.NadixqError) as caught:
            nadixq.find_zpd([1.0] * 64)
        self.assertEqual(caught.exception.code, -3)
        self.assertTrue(str(caught.exception).endswith("(-3)"))

    def test_baseline_correction_changes_lists_and_buffers_in_place(self):
        values = [1.0, 2.0, 3.0, 4.0]
        self.assertIs(nadixq.baseline_correct_ifg(values, nadixq.BASELINE_MEAN), values)
        self.assertEqual(values, [-1.5, -0.5, 0.5, 1.5])

        buffer = array.array("d", [5.0] * 40)
        nadixq.baseline_correct_ifg(buffer)
        self.assertEqual(list(buffer), [0.0] * 40)
        buffer.append(1.0)  # the library's view of the buffer is released

        with self.assertRaises(TypeError):
            nadixq.baseline_correct_ifg((1.0, 2.0), nadixq.BASELINE_MEAN)

    def test_apodization_rejects_a_width_and_leaves_the_values(self):
        values = array.array("d", self.BURST)
        with self.assertRaises(nadixq.NadixqError):
            nadixq.gaussian_apodize(values, 0.0)
        self.assertEqual(list(values), self.BURST)
        nadixq.gaussian_apodize(values, 1.0)
        self.assertEqual(values[5], self.BURST[5])
        self.assertAlmostEqual(values[6], self.BURST[6] * 0.36787944117144233)


if __name__ == "__main__":
    unittest.main()
