"""The Tango device NadixqSpectrometer in a test context of this process
(the simulated instrument is this process's): its attributes, commands and
states, and every refused request a specific DevFailed that leaves the device
as it was."""

import math
import os
import shutil
import tempfile
import time
import unittest

try:
    import tango
    from tango.test_context import DeviceTestContext
except ImportError:
    tango = None

import nadixq
from nadixq import sim

if tango is not None:
    from nadixq.tango.device import NadixqSpectrometer
    from tango_support import CLIENT_TIMEOUT_MS, Events, is_state, loopback_up, run_and_wait

    ON, RUNNING, FAULT, ALARM = (tango.DevState.ON, tango.DevState.RUNNING,
                                 tango.DevState.FAULT, tango.DevState.ALARM)
    LONG, DOUBLE, STRING = tango.CmdArgType.DevLong, tango.CmdArgType.DevDouble, \
        tango.CmdArgType.DevString
    SCALAR, SPECTRUM = tango.AttrDataFormat.SCALAR, tango.AttrDataFormat.SPECTRUM
    READ, READ_WRITE = tango.AttrWriteType.READ, tango.AttrWriteType.READ_WRITE

    # name, type, format, access, unit, min, max
    ATTRIBUTES = (
        ("Resolution", DOUBLE, SCALAR, READ_WRITE, "cm-1", "0.5", "Not specified"),
        ("Scans", LONG, SCALAR, READ_WRITE, "", "1", "2147483647"),
        ("Files", LONG, SCALAR, READ_WRITE, "", "0", "2147483647"),
        ("Gain", LONG, SCALAR, READ_WRITE, "", "1", "4"),
        ("Points", LONG, SCALAR, READ, "", "Not specified", "Not specified"),
        ("ScansDone", LONG, SCALAR, READ, "", "Not specified", "Not specified"),
        ("FilesDone", LONG, SCALAR, READ, "", "Not specified", "Not specified"),
        ("Interferogram", DOUBLE, SPECTRUM, READ, "", "Not specified", "Not specified"),
        ("Wavenumber", DOUBLE, SPECTRUM, READ, "cm-1", "Not specified", "Not specified"),
        ("SingleBeam", DOUBLE, SPECTRUM, READ, "", "Not specified", "Not specified"),
        ("Background", DOUBLE, SPECTRUM, READ, "", "Not specified", "Not specified"),
        ("Absorbance", DOUBLE, SPECTRUM, READ, "", "Not specified", "Not specified"),
        ("ZPD", LONG, SCALAR, READ, "", "Not specified", "Not specified"),
        ("PeakToPeak", DOUBLE, SCALAR, READ, "", "Not specified", "Not specified"),
        ("LastFileTime", DOUBLE, SCALAR, READ, "s", "Not specified", "Not specified"),
        ("RunFile", STRING, SCALAR, READ, "", "Not specified", "Not specified"),
        ("BackgroundAge", DOUBLE, SCALAR, READ, "s", "Not specified", "Not specified"),
    )
    COMMANDS = ("Initialize", "Calibrate", "Start", "TakeBackground", "TakeSample", "Stop",
                "Init", "State", "Status")

    # A write and the reason of its refusal: Tango's own for a value outside
    # the attribute's limits or of another type, the device's for a value
    # within them that the library cannot run.
    REFUSED_WRITES = (
        ("Gain", 3, "NADIXQ_BAD_VALUE"),
        ("Gain", 8, "API_WAttrOutsideLimit"),
        ("Resolution", 0.25, "API_WAttrOutsideLimit"),
        ("Resolution", math.nan, "API_WAttrOutsideLimit"),
        ("Scans", 0, "API_WAttrOutsideLimit"),
        ("Files", -1, "API_WAttrOutsideLimit"),
        ("Scans", (DOUBLE, 2.5), "API_IncompatibleAttrDataType"),
        ("Resolution", (STRING, "fine"), "API_IncompatibleAttrDataType"),
    )

SETTINGS = {"Resolution": 4.0, "Scans": 2, "Files": 2, "Gain": 1}


def setUpModule():
    if tango is None:
        raise unittest.SkipTest("no PyTango (Debian: python3-tango)")
    if not sim.available():
        raise unittest.SkipTest("the library has no simulated instrument")


class Device(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        sim.reset()
        loopback_up()
        cls.folder = tempfile.mkdtemp(prefix="nadixq-tango-")
        cls.runs = os.path.join(cls.folder, "runs")
        # One context for the class: Tango serves one set of devices per process.
        cls.context = DeviceTestContext(NadixqSpectrometer, process=False,
                                        properties={"DataDirectory": cls.runs})
        cls.context.start()
        cls.proxy = cls.context.device
        cls.proxy.set_timeout_millis(CLIENT_TIMEOUT_MS)
        # One subscription for the class: Debian's PyTango 9.3 may crash a
        # client that subscribes and unsubscribes again and again to a
        # server without a database, and keeps events for some 10 s.
        cls.events = Events().subscribe(cls.proxy, ["State"])

    @classmethod
    def tearDownClass(cls):
        cls.events.close()
        cls.context.stop()
        shutil.rmtree(cls.folder)
        sim.reset()

    def setUp(self):
        for name, value in SETTINGS.items():
            self.proxy.write_attribute(name, value)

    def refused(self, reason, call, *arguments):
        with self.assertRaises(tango.DevFailed) as caught:
            call(*arguments)
        self.assertEqual(caught.exception.args[0].reason, reason, caught.exception.args[0].desc)
        return caught.exception.args[0].desc

    def test_attributes_commands_and_the_fresh_state(self):
        p = self.proxy
        for name, kind, shape, access, unit, low, high in ATTRIBUTES:
            with self.subTest(attribute=name):
                info = p.get_attribute_config(name)
                self.assertEqual((info.data_type, info.data_format, info.writable, info.unit,
                                  info.min_value, info.max_value),
                                 (kind, shape, access, unit, low, high))
        self.assertEqual(sorted(set(p.get_command_list()) & set(COMMANDS)), sorted(COMMANDS))
        # No background yet: ON, not ALARM, and nothing to take an absorbance against.
        self.assertEqual(p.state(), ON)
        for name in ("Absorbance", "BackgroundAge", "Background"):
            self.assertEqual(p.read_attribute(name).quality, tango.AttrQuality.ATTR_INVALID)
        self.assertEqual(p.Points, 4096)
        p.Resolution = 1.0
        self.assertEqual(p.Points, 16384)

    def test_refused_writes_change_nothing(self):
        p = self.proxy
        for name, value, reason in REFUSED_WRITES:
            with self.subTest(attribute=name, value=value):
                before = p.read_attribute(name).value
                if isinstance(value, tuple):  # as a client of another type sends it
                    info = p.get_attribute_config(name)
                    info.data_type, value = value
                    self.refused(reason, p.write_attribute, info, value)
                else:
                    self.refused(reason, p.write_attribute, name, value)
                self.assertEqual(p.read_attribute(name).value, before)
                self.assertEqual(p.state(), ON)

    def test_runs_their_files_and_the_requests_refused_meanwhile(self):
        p = self.proxy
        # A sample without a background: the run goes, its absorbance stays invalid.
        run_and_wait(p, "TakeSample", self.events)
        self.assertEqual(p.FilesDone, 2)
        self.assertEqual(p.read_attribute("Absorbance").quality, tango.AttrQuality.ATTR_INVALID)
        self.assertEqual(len(nadixq.spc.read(p.RunFile)), 2)
        self.assertTrue(p.RunFile.startswith(os.path.join(self.runs, "test_nodb_")))
        self.assertTrue(p.RunFile.endswith("-sample.spc"), p.RunFile)
        self.assertEqual(len(p.Interferogram), 4096)
        self.assertEqual(len(p.Wavenumber), len(p.SingleBeam))
        self.assertTrue(200 < p.ZPD < 320, p.ZPD)
        self.assertGreater(p.PeakToPeak, 0.0)

        p.Files = 0  # until stopped
        p.Start()
        try:
            self.assertEqual(p.state(), RUNNING)
            for command in ("Start", "TakeBackground", "Initialize", "Calibrate"):
                self.assertIn("a run is going", self.refused("NADIXQ_REFUSED", p.command_inout,
                                                             command))
            self.refused("NADIXQ_REFUSED", p.write_attribute, "Scans", 4)
        finally:
            p.Stop()
        # Stop returns once the run is over.
        self.assertEqual(p.state(), ON)
        self.assertEqual(p.Scans, 2)

        p.Files = 2
        run_and_wait(p, "TakeBackground", self.events)
        self.assertLess(abs(time.time() - p.LastFileTime - p.BackgroundAge), 1.0)
        run_and_wait(p, "TakeSample", self.events)
        absorbance = p.read_attribute("Absorbance")
        self.assertEqual(absorbance.quality, tango.AttrQuality.ATTR_VALID)
        self.assertEqual(len(absorbance.value), len(p.Wavenumber))
        # Four runs, four files in the folder, none overwritten.
        self.assertEqual(len(os.listdir(self.runs)), 4)

    def test_folder_that_cannot_be_written_refuses_the_run(self):
        p = self.proxy
        saved = self.runs + ".saved"
        os.makedirs(self.runs, exist_ok=True)
        os.rename(self.runs, saved)
        try:
            with open(self.runs, "w"):  # a file where the folder should be
                pass
            text = self.refused("NADIXQ_SYSTEM_ERROR", p.TakeBackground)
            self.assertIn(self.runs, text)
            self.assertEqual(p.state(), ON)
        finally:
            os.remove(self.runs)
            os.rename(saved, self.runs)

    def test_unplugged_board_is_a_fault_until_init_reopens_it(self):
        p = self.proxy
        p.Files = 3
        events = self.events
        events.drain()
        try:
            sim.unplug()
            p.TakeSample()
            events.until(is_state(FAULT), 30.0)
            self.assertEqual(p.state(), FAULT)
            self.assertIn("failed after 0 of 3 files", p.status())
            self.assertIn("Init re-opens", self.refused("NADIXQ_REFUSED", p.Start))
            sim.reset()  # plugged in again
            p.Init()
            events.until(is_state(ON), 30.0)
        finally:
            sim.reset()
        self.assertEqual(p.Files, 3)  # the settings outlive the re-open
        run_and_wait(p, "Start", self.events)
        self.assertEqual(p.FilesDone, 3)


if __name__ == "__main__":
    unittest.main()
