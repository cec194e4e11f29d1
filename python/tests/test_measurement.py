"""Measurement quality on the simulated instrument: the polystyrene film's
absorbance against a background at 4 cm^-1, and the 100% line.

The simulator's scans are sped up (a scan per 5 ms poll of the scan thread)
and its noise seeded, so each run takes a fraction of a second and gives
the same samples every time.
"""

import unittest

import numpy

import nadixq
from nadixq import sim

RESOLUTION = 4.0  # 4096 points
ZERO_FILL = 4

# The simulated film's bands (src/sim/model_spectrum.cpp): centre (cm^-1),
# peak absorbance and half width at half maximum (cm^-1) of its Lorentzians.
FILM_BANDS = (
    (3082.0, 0.30, 5.0), (3060.0, 0.75, 5.0), (3026.0, 1.05, 5.5), (3001.0, 0.25, 4.0),
    (2924.0, 1.30, 11.0), (2850.0, 0.65, 8.0), (1944.0, 0.10, 6.0), (1871.0, 0.08, 6.0),
    (1801.0, 0.07, 6.0), (1745.0, 0.04, 6.0), (1601.0, 0.60, 3.5), (1583.0, 0.22, 3.0),
    (1493.0, 1.20, 4.5), (1453.0, 1.10, 5.5), (1370.0, 0.08, 5.0), (1181.0, 0.10, 4.0),
    (1154.0, 0.12, 4.0), (1069.0, 0.20, 4.0), (1028.0, 0.50, 3.5), (906.0, 0.35, 3.5),
    (842.0, 0.10, 5.0), (756.0, 1.50, 5.5), (698.0, 2.00, 6.0), (540.0, 0.60, 8.0),
)
REFERENCE_BANDS = (3026.0, 2924.0, 1601.0, 1493.0, 1453.0, 1028.0, 906.0, 698.0)


def film_absorbance_seen(centre, resolution, window):
    """The film's peak absorbance near `centre` as an instrument of that
    resolution and apodization sees it: the film's transmittance (from the
    band list above, on a 0.02 cm^-1 grid) convolved with the instrument
    line shape, by weighting its interferogram with the window out to the
    largest path difference 1 / resolution, then -log10 at the lowest point.
    The background is taken as flat across the band."""
    step = 0.02
    wavenumber = centre + numpy.arange(-2 ** 14, 2 ** 14) * step
    absorbance = sum(peak * width ** 2 / (width ** 2 + (wavenumber - band) ** 2)
                     for band, peak, width in FILM_BANDS)
    transform = numpy.fft.rfft(10.0 ** -absorbance - 1.0)
    path = numpy.arange(transform.size) / (wavenumber.size * step)  # cm
    transform *= nadixq.apodization.window(window, path * resolution)
    seen = numpy.fft.irfft(transform, wavenumber.size) + 1.0
    near = numpy.abs(wavenumber - centre) < 8.0
    return float(-numpy.log10(seen[near].min()))


def setUpModule():
    if not sim.available():
        raise unittest.SkipTest("the library has no simulated instrument")


class Measurement(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        sim.reset()
        sim.set_seed(2024)
        sim.set_scan_rate(2e6, 0.001)
        cls.s = nadixq.Spectrometer(1)
        cls.saved = (cls.s.points, cls.s.scans, cls.s.files)
        cls.s.resolution = RESOLUTION
        cls.s.initialize()
        cls.s.calibrate()

    @classmethod
    def tearDownClass(cls):
        cls.s.points, cls.s.scans, cls.s.files = cls.saved
        cls.s.close()
        sim.reset()

    def single_beams(self, files, scans, in_beam):
        """The single-beam spectra of a run of `files` files."""
        sim.set_sample_in_beam(in_beam)
        try:
            return [nadixq.spectrum(acquired, zero_fill=ZERO_FILL)
                    for acquired in self.s.acquire(files=files, scans=scans)]
        finally:
            sim.set_sample_in_beam(True)

    def test_polystyrene_bands_where_the_film_has_them(self):
        background, = self.single_beams(1, 16, in_beam=False)
        sample, = self.single_beams(1, 16, in_beam=True)
        absorbance = nadixq.absorbance(sample, background)
        self.assertAlmostEqual(absorbance.resolution, RESOLUTION, delta=0.2)
        bands = nadixq.find_bands(absorbance, 0.05, 400.0, 4000.0)
        heights = [height for _, height in bands]
        self.assertEqual(heights, sorted(heights, reverse=True))
        for centre in REFERENCE_BANDS:
            found = min(bands, key=lambda band: abs(band[0] - centre))
            self.assertLess(abs(found[0] - centre), 1.0, (centre, found))

        # The 1601 cm^-1 band through the instrument line shape: well below
        # the film's 0.61 at the centre (0.60 and the neighbours' wings).
        expected = film_absorbance_seen(1601.0, absorbance.resolution, absorbance.apodization)
        height = min(bands, key=lambda band: abs(band[0] - 1601.0))[1]
        self.assertLess(abs(height / expected - 1.0), 0.03, (height, expected))

        # The air's carbon dioxide and water, as strong in both runs, cancel.
        self.assertLess(numpy.nanmax(numpy.abs(absorbance.between(2250.0, 2400.0).values)), 0.01)
        self.assertLess(numpy.nanmax(numpy.abs(absorbance.between(3700.0, 3900.0).values)), 0.02)
        # Where the background had no light, NaN rather than noise or inf.
        self.assertTrue(numpy.all(numpy.isnan(absorbance.between(0.0, 300.0).values)))

    def test_hundred_percent_line_noise_falls_as_the_root_of_the_scans(self):
        def rms(files, scans):
            """The RMS from 2000 to 2200 cm^-1 of the absorbance of each pair
            of background files against each other, pooled."""
            beams = self.single_beams(files, scans, in_beam=False)
            lines = [nadixq.absorbance(a, b).between(2000.0, 2200.0).values
                     for a, b in zip(beams[0::2], beams[1::2])]
            return float(numpy.sqrt(numpy.mean(numpy.square(lines))))

        self.assertLess(rms(2, 16), 0.002)
        few, many = rms(8, 4), rms(6, 64)
        self.assertLess(abs(few / many / 4.0 - 1.0), 0.25, (few, many))


if __name__ == "__main__":
    unittest.main()
