"""The web view in a real browser: headless Chromium through Selenium on a
real server in its own process, the simulated instrument behind it. One
walk through what a user does: align, background, sample, stop, the runs
and their downloads, an unplugged board, a server restart. The README's
screenshots are taken on the way (into NADIXQ_SCREENSHOTS when set)."""

import os
import tempfile
import unittest
import urllib.request

import nadixq
from web_support import ServerProcess, browser_available, headless_chromium

try:
    import aiohttp  # noqa: F401
    HAVE_AIOHTTP = True
except ImportError:
    HAVE_AIOHTTP = False
try:
    from selenium.webdriver.support.ui import Select
except ImportError:
    Select = None

VENDOR = os.path.join(os.path.dirname(nadixq.__file__), "web", "static", "vendor",
                      "uPlot.esm.js")
# The colour of a plot's first series (plots.js).
SERIES_RGB = (0x1F, 0x6F, 0xB2)
WAIT = 60

COUNT_SERIES_PIXELS = """
const canvas = document.querySelector(arguments[0] + ' canvas');
const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
let count = 0;
for (let i = 0; i < data.length; i += 4) {
  if (data[i + 3] > 200 && Math.abs(data[i] - arguments[1]) < 40 &&
      Math.abs(data[i + 1] - arguments[2]) < 40 && Math.abs(data[i + 2] - arguments[3]) < 40) {
    count++;
  }
}
return count;
"""


@unittest.skipUnless(HAVE_AIOHTTP, "no aiohttp (Debian: python3-aiohttp)")
@unittest.skipUnless(browser_available(), "no Selenium with Chromium (Debian: python3-selenium, "
                                          "chromium, chromium-driver)")
@unittest.skipUnless(os.path.exists(VENDOR), "no plotting library: the build fetches it")
@unittest.skipUnless(nadixq.sim.available(), "the library has no simulated instrument")
class BrowserTest(unittest.TestCase):
    def setUp(self):
        from selenium.webdriver.support.ui import WebDriverWait

        self.server = ServerProcess("--port", "0")
        self.profile = tempfile.TemporaryDirectory(prefix="nadixq-chromium-")
        self.browser = headless_chromium(self.profile.name)
        self.wait = WebDriverWait(self.browser, WAIT, poll_frequency=0.05)
        self.shots = os.environ.get("NADIXQ_SCREENSHOTS")

    def tearDown(self):
        try:
            for entry in self.browser.get_log("browser"):
                # Refused connections are the restart's; anything else is news.
                if entry["level"] == "SEVERE" and "CONNECTION_REFUSED" not in entry["message"]:
                    print("browser:", entry["message"])
        finally:
            self.browser.quit()
            self.server.stop()
            self.server.cleanup()
            self.profile.cleanup()

    # Helpers.

    def element(self, selector):
        return self.browser.find_element("css selector", selector)

    def text(self, selector):
        return self.element(selector).text

    def click(self, selector):
        self.wait.until(lambda b: self.element(selector).is_enabled())
        self.element(selector).click()

    def until(self, condition, what):
        self.wait.until(lambda b: condition(), message=what)

    def mode(self):
        return self.browser.execute_script("return document.body.dataset.mode || ''")

    def stats(self, name):
        return self.browser.execute_script("return window.nadixqStats.%s" % name)

    def runs(self):
        """The Runs table: (id, kind, files, result) per row, newest first."""
        return self.browser.execute_script("""
            return [...document.querySelectorAll('#runs tbody tr')].map(row =>
              [row.dataset.id, row.cells[1].textContent, row.cells[3].textContent,
               row.cells[4].textContent]);""")

    def screenshot(self, name):
        if self.shots:
            os.makedirs(self.shots, exist_ok=True)
            self.browser.execute_script("window.scrollTo(0, 0)")
            self.browser.save_screenshot(os.path.join(self.shots, name + ".png"))

    def show(self, view):
        self.element('.tab[data-view="%s"]' % view).click()

    def set_settings(self, **settings):
        for name, value in settings.items():
            field = self.element('#settings [name="%s"]' % name)
            if field.tag_name == "select":
                Select(field).select_by_visible_text(str(value))
            else:
                field.clear()
                field.send_keys(str(value))

    def measure(self, kind):
        before = len(self.runs())
        self.click("#" + kind)
        self.until(lambda: len(self.runs()) > before and self.runs()[0][3] != "running",
                   "the %s run ended" % kind)
        run = self.runs()[0]
        self.assertEqual((run[1], run[3]), (kind, "complete"), run)
        return run

    # The walk.

    def test_align_measure_keep_runs_survive_faults_and_restarts(self):
        self.browser.get(self.server.wait_url())
        self.until(lambda: self.text("#connection") == "connected", "the page connected")
        self.until(lambda: self.mode() == "idle", "the instrument opened")

        # Align: the interferogram is drawn and the peak-to-peak moves.
        self.click("#align-start")
        self.until(lambda: self.stats("alignDrawn") >= 3, "align frames drawn")
        pixels = self.browser.execute_script(COUNT_SERIES_PIXELS, "#ifg-full", *SERIES_RGB)
        self.assertGreater(pixels, 200)
        first = self.text("#pp")
        self.assertGreater(float(first), 1000.0)
        self.until(lambda: self.text("#pp") != first, "the peak-to-peak changed")
        self.until(lambda: self.text("#zpd").isdigit(), "a ZPD index")
        self.screenshot("align")
        self.click("#align-stop")
        self.until(lambda: self.mode() == "idle", "aligning stopped")

        # Measure: a background, then the polystyrene film against it.
        self.show("measure")
        self.assertIn("no background", self.text("#background-age"))
        self.set_settings(scans=0)
        self.click("#sample")
        self.until(lambda: "scans must be 1 to" in self.text("#form-error"), "the refusal shown")
        self.set_settings(resolution=4, scans=8, files=1, gain=1)
        self.measure("background")
        self.assertEqual(self.text("#form-error"), "")
        self.until(lambda: "old" in self.text("#background-age"), "the background's age")
        sample = self.measure("sample")
        self.until(lambda: self.text("#shown-run").startswith("sample %s" % sample[0]),
                   "the sample's frame drawn")
        def bands():
            return [float(item.text) for item in
                    self.browser.find_elements("css selector", "#bands li")]
        self.until(lambda: bands(), "the band list")
        self.assertTrue(any(abs(band - 1601.0) <= 1.0 for band in bands()), bands())
        pixels = self.browser.execute_script(COUNT_SERIES_PIXELS, "#ratio", *SERIES_RGB)
        self.assertGreater(pixels, 200)
        self.screenshot("measure")
        Select(self.element("#ratio-kind")).select_by_value("transmittance")
        self.assertEqual(self.text("#ratio .u-title"), "transmittance")
        self.until(lambda: self.browser.execute_script(COUNT_SERIES_PIXELS, "#ratio",
                                                       *SERIES_RGB) > 200, "transmittance drawn")
        Select(self.element("#ratio-kind")).select_by_value("absorbance")

        # Stop ends a run that would go on until stopped.
        self.set_settings(files=0)
        drawn = self.stats("measureDrawn")
        self.click("#sample")
        self.until(lambda: self.mode() == "sample" and self.stats("measureDrawn") > drawn,
                   "a file of the endless run")
        self.click("#measure-stop")
        self.until(lambda: self.mode() == "idle" and self.runs()[0][3] == "stopped",
                   "the run stopped")

        # Runs: listed, opened into the plots, downloaded.
        self.show("runs")
        runs = self.runs()
        self.assertEqual([run[1] for run in runs], ["sample", "sample", "background"])
        self.screenshot("runs")
        link = self.element('tr[data-id="%s"] a.download-spc' % sample[0]).get_attribute("href")
        with urllib.request.urlopen(link, timeout=30) as response, \
                tempfile.NamedTemporaryFile(suffix=".spc") as copy:
            copy.write(response.read())
            copy.flush()
            self.assertEqual(len(nadixq.spc.read(copy.name)), 1)
        self.element('tr[data-id="%s"] button.open-run' % sample[0]).click()
        self.until(lambda: self.text("#shown-run") == "showing kept run %s" % sample[0],
                   "the kept run shown")

        # The board unplugged while aligning: the banner with the library's
        # message; back after plugging in and opening again.
        self.show("align")
        self.click("#align-start")
        drawn = self.stats("alignDrawn")
        self.until(lambda: self.stats("alignDrawn") > drawn, "aligning again")
        self.click("#unplug")
        self.until(lambda: self.element("#banner").is_displayed(), "the fault banner")
        self.until(lambda: self.mode() == "idle", "the run's end shown")
        self.assertIn("result", self.text("#banner-text"))
        self.screenshot("fault")
        self.click("#replug")
        self.click("#reopen")
        self.until(lambda: not self.element("#banner").is_displayed() and self.mode() == "idle",
                   "the instrument back")

        # A restarted server: the page reconnects and shows its state.
        port = self.server.host_port.rsplit(":", 1)[1]
        self.assertEqual(self.server.stop(), 0)
        self.until(lambda: self.text("#connection") != "connected", "the page saw the server go")
        old = self.server
        self.addCleanup(old.cleanup)
        self.server = ServerProcess("--port", port, data=old.data, runtime=old.runtime)
        self.server.wait_url()
        self.until(lambda: self.text("#connection") == "connected", "the page reconnected")
        self.until(lambda: [run[0] for run in self.runs()] == [run[0] for run in runs],
                   "the runs listed again")
        self.until(lambda: self.mode() == "idle", "the state shown")


if __name__ == "__main__":
    unittest.main()
