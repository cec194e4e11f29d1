"""Spectra of synthetic interferograms, band finding, ratios and the files
(JCAMP-DX read back by an independent reader)."""

import json
import os
import subprocess
import tempfile
import unittest

import numpy

import nadixq
from nadixq import apodization
import synthetic

POINTS = 4096
ZPD = 256  # as the library's files have it: 256 points before the burst


class Spectra(unittest.TestCase):
    def test_mertz_removes_a_linear_and_a_constant_phase(self):
        free, band = synthetic.interferogram(POINTS, ZPD)
        reference = nadixq.spectrum(free, apodization="boxcar")
        self.assertEqual(reference.zpd, ZPD)
        peak = reference.values.max()
        for shift, phase in ((0.37, 0.0), (-0.21, 0.0), (0.37, 0.35)):
            phased, _ = synthetic.interferogram(POINTS, ZPD, shift=shift, phase=phase)
            corrected = nadixq.spectrum(phased, apodization="boxcar")
            self.assertAlmostEqual(corrected.zpd, ZPD + shift, places=6)
            numpy.testing.assert_array_equal(corrected.wavenumber, reference.wavenumber)
            self.assertLess(numpy.max(numpy.abs(corrected.values - reference.values)), 1e-6 * peak,
                            (shift, phase))

        # The magnitude of a double-sided interferogram without phase is the
        # same spectrum; so is the Mertz spectrum of the phased one.
        centre = POINTS // 2
        double_sided, _ = synthetic.interferogram(POINTS + 1, centre)
        magnitude = nadixq.spectrum(double_sided, "boxcar", zero_fill=1, phase="magnitude")
        phased, _ = synthetic.interferogram(POINTS + 1, centre, shift=0.37, phase=0.35)
        mertz = nadixq.spectrum(phased, "boxcar", zero_fill=1)
        self.assertEqual(len(mertz), len(magnitude))
        self.assertLess(numpy.max(numpy.abs(mertz.values - magnitude.values)),
                        1e-6 * magnitude.values.max())
        # ... and its shape is the spectrum the interferogram was made from.
        on_grid = numpy.interp(magnitude.wavenumber, synthetic.grid(), band)
        numpy.testing.assert_allclose(magnitude.values / magnitude.values.max(),
                                      on_grid / on_grid.max(), atol=1e-6)

    def test_zpd_is_refined_within_half_a_sample_or_not_at_all(self):
        # A known fractional ZPD up to half a sample either way is found.
        for shift in (0.45, -0.45, 0.2):
            ifg, _ = synthetic.interferogram(POINTS, ZPD, shift=shift)
            self.assertAlmostEqual(nadixq.spectrum(ifg).zpd, ZPD + shift, places=6)
        # A dispersed burst (a phase quadratic in wavenumber) is no shifted
        # one: its phase slope points further than half a sample from the
        # largest sample, which then stays the ZPD.
        wavenumber = synthetic.grid()
        dispersed = synthetic.broad_band(wavenumber) * numpy.exp(
            2j * ((wavenumber - 3000.0) / 2000.0) ** 2)
        dispersed[0], dispersed[-1] = dispersed[0].real, dispersed[-1].real
        ifg = numpy.roll(numpy.fft.irfft(dispersed, synthetic.PERIOD), ZPD)[:POINTS] * 1e7
        result = nadixq.spectrum(ifg)
        self.assertEqual(result.zpd, float(nadixq.burst_index(ifg)))
        self.assertTrue(numpy.all(numpy.isfinite(result.values)))

    def test_apodization_shapes_the_line_of_a_monochromatic_source(self):
        wavenumber = synthetic.grid()
        band = synthetic.broad_band(wavenumber)
        line = band.copy()
        k = int(numpy.argmin(numpy.abs(wavenumber - 2000.3)))
        line[k] += 200.0
        plain, _ = synthetic.interferogram(POINTS, ZPD, band)
        with_line, _ = synthetic.interferogram(POINTS, ZPD, line)
        # Both on the scale of the band's interferogram (each came scaled to
        # its own peak, the sum over its spectrum).
        with_line *= (2.0 * line.sum() - line[0]) / (2.0 * band.sum() - band[0])
        shapes = {}
        for name in apodization.NAMES:
            with_it = nadixq.spectrum(with_line, name, zero_fill=8)
            shape = with_it.values - nadixq.spectrum(plain, name, zero_fill=8).values
            near = numpy.abs(with_it.wavenumber - wavenumber[k]) < 50.0
            shape, axis = shape[near], with_it.wavenumber[near]
            peak = shape.max()
            self.assertAlmostEqual(axis[numpy.argmax(shape)], wavenumber[k], places=6, msg=name)
            self.assertEqual(with_it.apodization, name)
            above = axis[shape >= 0.5 * peak]
            shapes[name] = (shape.min() / peak, above[-1] - above[0])
        # The deepest side lobe: sinc's -21.7% without apodization, a
        # triangle's sinc squared none, the others a few per cent or less.
        self.assertAlmostEqual(shapes["boxcar"][0], -0.217, delta=0.005)
        self.assertGreater(shapes["triangular"][0], -1e-3)
        self.assertTrue(-0.01 < shapes["happ-genzel"][0] < -0.003, shapes["happ-genzel"])
        self.assertGreater(shapes["blackman-harris-3"][0], -1e-3)
        self.assertTrue(-0.02 < shapes["norton-beer-medium"][0] < -0.008)
        # Lower side lobes cost width.
        self.assertLess(shapes["boxcar"][1], shapes["happ-genzel"][1])
        self.assertLess(shapes["happ-genzel"][1], shapes["blackman-harris-3"][1])

    def test_axis_and_parameters_follow_the_sampling_and_the_zero_filling(self):
        ifg, _ = synthetic.interferogram(POINTS, ZPD)
        single = nadixq.spectrum(ifg, zero_fill=4, sampling_wavenumber=15800.0)
        # A laser whose every zero crossing is sampled: twice its wavenumber.
        numpy.testing.assert_array_equal(
            nadixq.spectrum(ifg, zero_fill=4, laser_wavenumber=7900.0).wavenumber,
            single.wavenumber)
        self.assertEqual(nadixq.spectrum(ifg).wavenumber[-1], nadixq.FOLDING_WAVENUMBER)
        # 3839 points after the ZPD: 8192 points double-sided, 4 times that.
        self.assertEqual(len(single), 4 * 8192 // 2 + 1)
        self.assertEqual(single.wavenumber[-1], 7900.0)
        self.assertTrue(numpy.all(numpy.diff(single.wavenumber) > 0))
        self.assertAlmostEqual(single.resolution, 15800.0 / (POINTS - 1 - ZPD))
        self.assertEqual(single.nominal_resolution, 4.0)  # the library's row of 4096 points
        self.assertEqual((single.apodization, single.zero_fill, single.phase, single.kind),
                         ("happ-genzel", 4, "mertz", nadixq.SINGLE_BEAM))
        self.assertEqual(len(nadixq.spectrum(ifg, zero_fill=1)), 8192 // 2 + 1)
        for wrong in ({"zero_fill": 3}, {"apodization": "hann"}, {"phase": "none"},
                      {"laser_wavenumber": 0.0}, {"sampling_wavenumber": -1.0},
                      {"sampling_wavenumber": 15000.0, "laser_wavenumber": 7500.0}):
            with self.assertRaises(ValueError, msg=wrong):
                nadixq.spectrum(ifg, **wrong)
        with self.assertRaises(nadixq.NadixqError) as caught:
            nadixq.spectrum(numpy.ones(POINTS))  # no centre burst
        self.assertEqual(caught.exception.code, -3)
        numpy.testing.assert_array_equal(ifg, synthetic.interferogram(POINTS, ZPD)[0])  # unchanged

    def test_ratios_are_nan_where_the_background_has_no_light(self):
        axis = numpy.linspace(0.0, 100.0, 5)
        background = nadixq.Spectrum(axis, [1e-6, 100.0, 100.0, 100.0, 0.0], 4.0)
        sample = nadixq.Spectrum(axis, [1e-6, 10.0, 0.0, -1.0, 0.0], 4.0)
        ratio = nadixq.transmittance(sample, background)
        numpy.testing.assert_array_equal(ratio.values, [numpy.nan, 0.1, 0.0, -0.01, numpy.nan])
        absorbance = nadixq.absorbance(sample, background)
        numpy.testing.assert_array_equal(absorbance.values,
                                         [numpy.nan, 1.0, numpy.nan, numpy.nan, numpy.nan])
        self.assertEqual((ratio.kind, absorbance.kind), (nadixq.TRANSMITTANCE, nadixq.ABSORBANCE))
        with self.assertRaises(ValueError):
            nadixq.absorbance(sample, nadixq.Spectrum(axis + 1.0, background.values, 4.0))

    def test_bands_are_found_between_the_samples_highest_first(self):
        axis = numpy.arange(0.0, 1000.0, 0.5)
        lines = ((300.13, 1.0, 4.0), (520.37, 0.4, 3.0), (530.0, 0.03, 3.0), (700.71, 0.7, 6.0))
        values = sum(height * width ** 2 / (width ** 2 + (axis - centre) ** 2)
                     for centre, height, width in lines)
        values[(axis > 600) & (axis < 650)] = numpy.nan  # a gap ends the data like an end
        absorbance = nadixq.Spectrum(axis, values, 2.0, nadixq.ABSORBANCE)
        bands = nadixq.find_bands(absorbance, prominence=0.05)
        self.assertEqual([round(centre) for centre, _ in bands], [300, 701, 520])  # 530 too small
        for (centre, height), (true_centre, true_height, _) in zip(
                bands, (lines[0], lines[3], lines[1])):
            self.assertAlmostEqual(centre, true_centre, delta=0.05)
            self.assertAlmostEqual(height, true_height, delta=0.03 * true_height)
        self.assertEqual(len(nadixq.find_bands(absorbance, 0.05, low=400.0, high=800.0)), 2)
        # A transmittance spectrum's bands are its dips.
        dips = nadixq.find_bands(nadixq.Spectrum(axis, 10.0 ** -values, 2.0,
                                                 nadixq.TRANSMITTANCE))
        self.assertAlmostEqual(dips[0][0], 300.13, delta=0.05)
        self.assertAlmostEqual(dips[0][1], 0.1, delta=0.005)


@unittest.skipUnless(os.environ.get("NADIXQ_JCAMP_READER"),
                     "NADIXQ_JCAMP_READER is not set: no JCAMP-DX reader to check the files with")
class JcampFiles(unittest.TestCase):
    """The files as the npm package jcampconverter reads them."""

    def read_back(self, path):
        reader = os.path.join(os.environ["NADIXQ_JCAMP_READER"], "read_jcamp.mjs")
        if not os.path.isfile(reader):
            self.skipTest("%s is missing: npm was not there to install the reader" % reader)
        read = json.loads(subprocess.run(["node", reader, path], check=True,
                                         capture_output=True, text=True).stdout)
        # A wrong X checkpoint or a missing Y check value still reads back
        # the same numbers; the reader says so only in its diagnostics.
        self.assertEqual(read["diagnostics"], [], path)
        return read

    def test_the_reader_reports_what_it_finds_wrong(self):
        # A file whose last line ends in a difference without the check
        # value repeated, and a line whose X checkpoint is off: both values
        # read back as written, the reader's diagnostics tell.
        lines = ["##TITLE=broken", "##JCAMP-DX=5.01", "##DATA TYPE=INFRARED SPECTRUM",
                 "##XUNITS=1/CM", "##YUNITS=ABSORBANCE", "##XFACTOR=1", "##YFACTOR=1",
                 "##FIRSTX=1", "##LASTX=6", "##DELTAX=1", "##NPOINTS=6", "##FIRSTY=1",
                 "##XYDATA=(X++(Y..Y))", "1A%J", "9B%J", "##END="]
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "broken.jdx")
            with open(path, "w") as out:
                out.write("\r\n".join(lines) + "\r\n")
            with self.assertRaises(AssertionError) as caught:
                self.read_back(path)
        self.assertIn("last value is a difference", str(caught.exception))
        self.assertIn("first x value", str(caught.exception))

    def test_jcampconverter_reads_back_the_written_values(self):
        ifg, _ = synthetic.interferogram(POINTS, ZPD)
        rng = numpy.random.default_rng(3)
        single = nadixq.spectrum(ifg + rng.normal(0.0, 2.0, POINTS), zero_fill=4)
        background = nadixq.spectrum(ifg, zero_fill=4)
        absorbance = nadixq.absorbance(single, background)
        with tempfile.TemporaryDirectory() as folder:
            for compression in nadixq.jcamp.COMPRESSIONS:
                for spectrum, units in ((absorbance, "ABSORBANCE"),
                                        (nadixq.transmittance(single, background),
                                         "TRANSMITTANCE")):
                    path = os.path.join(folder, "%s.jdx" % compression)
                    # Where the synthetic background has light.
                    nadixq.jcamp.write(path, spectrum, title="synthetic", low=1000.0, high=5500.0,
                                       compression=compression, model=1)
                    read = self.read_back(path)
                    written = spectrum.between(1000.0, 5500.0)
                    self.assertEqual((read["dataType"], float(read["jcampDX"]), read["xUnits"],
                                      read["yUnits"], read["title"]),
                                     ("INFRARED SPECTRUM", 5.01, "1/CM", units, "synthetic"))
                    # The resolution asked for (the row of 4096 points).
                    self.assertEqual(read["info"]["RESOLUTION"], 4)
                    self.assertAlmostEqual(read["meta"]["RESOLUTION 1/OPD"], spectrum.resolution,
                                           delta=1e-5 * spectrum.resolution)
                    self.assertEqual(read["info"]["OWNER"], "unknown")
                    self.assertIn("model 1", read["info"]["SPECTROMETER/DATASYSTEM"])
                    self.assertEqual(len(read["x"]), len(written))
                    # x to the 12 digits of FIRSTX and LASTX, y to half of YFACTOR.
                    factor = read["info"]["YFACTOR"]
                    numpy.testing.assert_allclose(read["x"], written.wavenumber, rtol=0,
                                                  atol=1e-8 * written.wavenumber[-1])
                    numpy.testing.assert_allclose(read["y"], written.values, rtol=0,
                                                  atol=0.5 * factor * (1 + 1e-9))
                    self.assertLess(factor, 1e-6 * numpy.max(numpy.abs(written.values)))
            # The format has no missing values: the longest finite stretch.
            gap = nadixq.Spectrum([1.0, 2.0, 3.0, 4.0, 5.0], [1.0, numpy.nan, 1.0, 2.0, -3.0], 1.0)
            nadixq.jcamp.write(path, gap)
            read = self.read_back(path)
            self.assertEqual((read["x"], read["y"]), ([3.0, 4.0, 5.0], [1.0, 2.0, -3.0]))
            with self.assertRaises(ValueError):
                nadixq.jcamp.write(path, nadixq.Spectrum([1.0, 2.0], [numpy.nan, 1.0], 1.0))


if __name__ == "__main__":
    unittest.main()
