"""The device server through a Tango database (MariaDB and Debian's
tango-db, started for the tests by tango_database/tango-database.sh): the
servers registered by name with their properties, subscriptions kept for
longer than a server without a database keeps them, and a server killed
during a run and started again while its client stays subscribed."""

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
    from tango_support import Events, Server, environment, is_state, client_proxy

FOLDER = os.environ.get("NADIXQ_TANGO_DATABASE", "")


def setUpModule():
    if tango is None:
        raise unittest.SkipTest("no PyTango (Debian: python3-tango)")
    if not sim.available():
        raise unittest.SkipTest("the library has no simulated instrument")
    if not os.path.exists(os.path.join(FOLDER, "tango_host")):
        raise unittest.SkipTest("no Tango database (NADIXQ_TANGO_DATABASE: the folder "
                                "tango_database/tango-database.sh start wrote)")
    with open(os.path.join(FOLDER, "tango_host")) as host:
        os.environ["TANGO_HOST"] = host.read().strip()


def files_done(device):
    return lambda event: event[0] == "filesdone" and event[1] is not None and event[1] >= 3


class Database(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="nadixq-tango-")
        self.addCleanup(shutil.rmtree, self.folder)
        database = tango.Database()
        tag = "t%d" % os.getpid()
        self.devices = ["nadixqtest/%s/%d" % (tag, n) for n in (1, 2)]
        self.servers = []
        for n, device in enumerate(self.devices, 1):
            instance = "%s%d" % (tag, n)
            # As a lab registers it (the server's name is the script's).
            subprocess.run(["tango_admin", "--add-server", "NadixqSpectrometer/" + instance,
                            "NadixqSpectrometer", device], check=True, timeout=30)
            self.addCleanup(subprocess.run, ["tango_admin", "--delete-server",
                                             "NadixqSpectrometer/" + instance], timeout=30)
            runs = os.path.join(self.folder, "runs%d" % n)
            database.put_device_property(device, {"DataDirectory": [runs], "Model": ["1"]})
            server = Server(self.folder, instance, env=environment(
                TANGO_HOST=os.environ["TANGO_HOST"]))
            self.addCleanup(server.stop)
            self.servers.append(server.start())
        self.proxies = [client_proxy(device) for device in self.devices]

    def test_kept_subscription_outlives_a_killed_server(self):
        for proxy in self.proxies:
            proxy.Resolution, proxy.Scans, proxy.Files = 8.0, 1, 0
        events = [Events().subscribe(proxy, ["State", "FilesDone"]) for proxy in self.proxies]
        for queue in events:
            self.addCleanup(queue.close)
            queue.until(is_state(tango.DevState.ON), 10.0)
        for proxy in self.proxies:
            proxy.Start()
        for device, queue in zip(self.devices, events):
            queue.until(files_done(device), 20.0)

        killed, other = self.servers[0], self.proxies[1]
        killed.kill()
        # The client hears that the killed server's events stopped...
        lost = events[0].until(lambda event: event[1] is None, 60.0)
        self.assertEqual(lost[-1][2], "API_EventTimeout")
        # ...while the other instrument goes on, file after file.
        before = other.FilesDone
        killed.start()
        # Tango's keep-alive finds the server again and subscribes afresh:
        # the kept callback gets the state of the new server.
        events[0].until(is_state(tango.DevState.ON), 60.0)
        self.assertEqual(self.proxies[0].RunFile, "")
        self.proxies[0].Start()
        events[0].until(files_done(self.devices[0]), 30.0)

        taken = events[1].until(lambda event: event[0] == "filesdone" and
                                event[1] is not None and event[1] >= before + 3, 30.0)
        self.assertTrue(all(value is not None for _, value, _ in taken), taken)
        counts = [value for name, value, _ in taken if name == "filesdone"]
        self.assertEqual(counts, list(range(counts[0], counts[0] + len(counts))))
        self.assertEqual(other.state(), tango.DevState.RUNNING)
        for proxy in self.proxies:
            proxy.Stop()
        run = self.proxies[1].RunFile
        self.assertTrue(run.startswith(os.path.join(self.folder, "runs2", "nadixqtest_")), run)

    def test_background_older_than_its_limit_is_an_alarm(self):
        proxy = self.proxies[0]
        tango.Database().put_device_property(self.devices[0], {"BackgroundMaxAge": ["1.5"]})
        proxy.Init()  # properties are read at initialization
        proxy.Resolution, proxy.Scans, proxy.Files = 8.0, 1, 1
        events = Events().subscribe(proxy, ["State"])
        self.addCleanup(events.close)
        events.until(is_state(tango.DevState.ON), 10.0)
        proxy.TakeBackground()
        # Pushed when the background comes of age, with no client asking.
        # (The run's own RUNNING and ON may go out before the new
        # subscription's channel carries events.)
        events.until(is_state(tango.DevState.ALARM), 10.0)
        self.assertIn("background is", proxy.status())
        self.assertGreater(proxy.BackgroundAge, 1.5)
        proxy.TakeSample()  # an alarm is no refusal
        events.until(is_state(tango.DevState.ALARM), 10.0)
        self.assertEqual(proxy.read_attribute("Absorbance").quality,
                         tango.AttrQuality.ATTR_VALID)
        proxy.TakeBackground()
        events.until(is_state(tango.DevState.ON), 10.0)


if __name__ == "__main__":
    unittest.main()
