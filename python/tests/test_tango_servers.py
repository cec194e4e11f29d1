"""Two device servers without a database, each a process with its own
simulated instrument, and this process their client over loopback: both
take a background and then a sample at once, and every file reaches the
client as its events in order."""

import os
import shutil
import tempfile
import unittest

try:
    import tango
except ImportError:
    tango = None

import nadixq
from nadixq import sim

if tango is not None:
    from tango_support import Events, Server, is_state, client_proxy

DEVICES = ("lab/ftir/1", "lab/ftir/2")
SETTINGS = {"Resolution": 4.0, "Scans": 4, "Files": 2}
# What a file of a run pushes, in order (Absorbance in sample runs only).
FILE_EVENTS = ("interferogram", "peaktopeak", "singlebeam", "absorbance", "filesdone",
               "interferogram ready")
SUBSCRIBED = ("State", "FilesDone", "ScansDone", "Interferogram", "SingleBeam", "Absorbance",
              "PeakToPeak")


def setUpModule():
    if tango is None:
        raise unittest.SkipTest("no PyTango (Debian: python3-tango)")
    if not sim.available():
        raise unittest.SkipTest("the library has no simulated instrument")


class TwoServers(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="nadixq-tango-")
        # Both in one working directory: their runs share ./nadixq-runs.
        self.servers = [Server(self.folder, "lab%d" % n, device) for n, device in
                        enumerate(DEVICES, 1)]
        self.addCleanup(shutil.rmtree, self.folder)
        for server in self.servers:
            self.addCleanup(server.stop)
            server.start()
        self.proxies = [client_proxy(server.address) for server in self.servers]

    def subscribe(self, proxy):
        events = Events()
        events.subscribe(proxy, SUBSCRIBED)
        events.subscribe(proxy, ["FilesDone"], tango.EventType.ARCHIVE_EVENT)
        events.subscribe(proxy, ["Interferogram"], tango.EventType.DATA_READY_EVENT)
        self.addCleanup(events.close)
        # A subscription starts with the value as it is: one event each.
        count = len(SUBSCRIBED) + 1
        events.until(lambda event, seen=[]: seen.append(event) or len(seen) == count, 10.0)
        return events

    def run_both(self, command, events):
        for proxy in self.proxies:
            proxy.command_inout(command)
        taken = []
        for queue in events:
            # Each server's events go into its own queue, in the order they came.
            got = queue.until(is_state(tango.DevState.RUNNING), 10.0)
            got += queue.until(is_state(tango.DevState.ON), 20.0)
            taken.append(got)
        return taken

    def check_files(self, taken, kind):
        sample = kind == "sample"
        expected = ["filesdone 0"]
        for done in range(1, SETTINGS["Files"] + 1):
            for name in FILE_EVENTS:
                if name == "absorbance" and not sample:
                    continue
                expected.append("%s %d" % (name, done) if name in (
                    "filesdone", "interferogram ready") else name)
        for device, events in zip(DEVICES, taken):
            order = []
            for name, value, quality in events:
                if quality == "data ready":
                    order.append("interferogram ready %d" % value)
                elif name == "filesdone":
                    # The archive event of each count follows its change event.
                    if not order or order[-1] != "filesdone %d" % value:
                        order.append("filesdone %d" % value)
                elif name in FILE_EVENTS:
                    order.append(name)
            with self.subTest(device=device, kind=kind):
                self.assertEqual(order, expected)
                scans = [value for name, value, _ in events if name == "scansdone"]
                self.assertIn(SETTINGS["Scans"], scans)

    def test_background_then_sample_on_both_at_once(self):
        for proxy in self.proxies:
            for name, value in SETTINGS.items():
                proxy.write_attribute(name, value)
        # Debian's PyTango keeps events of a server without a database for
        # some 10 s: everything below fits well inside that.
        events = [self.subscribe(proxy) for proxy in self.proxies]
        self.check_files(self.run_both("TakeBackground", events), "background")
        self.check_files(self.run_both("TakeSample", events), "sample")
        for queue in events:
            queue.close()

        files = set()
        for device, proxy in zip(DEVICES, self.proxies):
            with self.subTest(device=device):
                absorbance = proxy.read_attribute("Absorbance")
                self.assertEqual(absorbance.quality, tango.AttrQuality.ATTR_VALID)
                spectrum = nadixq.Spectrum(proxy.Wavenumber, absorbance.value, 4.0,
                                           nadixq.ABSORBANCE)
                bands = nadixq.find_bands(spectrum, 0.05, 1500.0, 1700.0)
                nearest = min(bands, key=lambda band: abs(band[0] - 1601.0))
                self.assertLess(abs(nearest[0] - 1601.0), 1.0, bands)
                self.assertGreater(nearest[1], 0.3, bands)
                run = proxy.RunFile
                self.assertEqual(os.path.dirname(run), os.path.join(self.folder, "nadixq-runs"))
                self.assertIn(device.replace("/", "_"), os.path.basename(run))
                self.assertEqual(len(nadixq.spc.read(run)), SETTINGS["Files"])
                files.update(os.listdir(os.path.dirname(run)))
        # A background and a sample of each device, side by side.
        self.assertEqual(len(files), 4, files)


if __name__ == "__main__":
    unittest.main()
