// The simulated instrument's physics: the transform, the model spectrum's
// bands, and the interferogram that the scans are cut from.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "sim/fft.h"
#include "sim/interferogram_model.h"
#include "sim/model_spectrum.h"

namespace {

using namespace nadixq::sim;

constexpr double kPi = 3.14159265358979323846;
constexpr int kBins = CInterferogramModel::kPeriod / 2 + 1;

int BinOf(double wavenumber) {
    return static_cast<int>(std::lround(wavenumber * (kBins - 1) / kFoldingWavenumber));
}

TEST(SimModel, FftMatchesTheDirectTransformBothWays) {
    constexpr int n = 64;
    std::vector<std::complex<double>> data(n), direct(n);
    for (int j = 0; j < n; ++j) data[j] = {std::sin(0.7 * j) + 0.1 * j, std::cos(1.3 * j * j)};
    for (int k = 0; k < n; ++k) {
        for (int j = 0; j < n; ++j) direct[k] += data[j] * std::polar(1.0, -2.0 * kPi * j * k / n);
    }
    std::vector<std::complex<double>> fast = data;
    ASSERT_TRUE(Fft(fast.data(), n, false));
    for (int k = 0; k < n; ++k) EXPECT_LT(std::abs(fast[k] - direct[k]), 1e-9) << k;
    ASSERT_TRUE(Fft(fast.data(), n, true));
    for (int j = 0; j < n; ++j) EXPECT_LT(std::abs(fast[j] / double(n) - data[j]), 1e-12) << j;

    std::vector<std::complex<double>> odd(48, 1.0);
    EXPECT_FALSE(Fft(odd.data(), 48, false));
    EXPECT_EQ(odd[0], std::complex<double>(1.0));
}

TEST(SimModel, SpectrumLivesInTheOpticalBandOnly) {
    std::vector<double> spectrum(kBins);
    BuildModelSpectrum(spectrum.data(), kBins);
    double peak = 0.0;
    for (double value : spectrum) {
        ASSERT_GE(value, 0.0);
        peak = std::max(peak, value);
    }
    for (int k = 0; k <= BinOf(300.0); ++k) ASSERT_LT(spectrum[k], 1e-3 * peak) << k;
    for (int k = BinOf(7850.0); k < kBins; ++k) ASSERT_LT(spectrum[k], 2e-3 * peak) << k;
    EXPECT_GT(spectrum[BinOf(2000.0)], 0.3 * peak);
    EXPECT_GT(spectrum[BinOf(5000.0)], 0.05 * peak);
}

TEST(SimModel, PolystyreneReferenceBandsAreAbsorptionMinima) {
    std::vector<double> film(kBins);
    BuildFilmTransmittance(film.data(), kBins);
    for (double band : {3060.0, 3026.0, 2924.0, 1601.0, 1493.0, 1453.0, 1028.0, 906.0, 698.0}) {
        const int centre = BinOf(band);
        // The deepest point within 2 cm^-1 of the listed position...
        int deepest = centre;
        for (int k = BinOf(band - 2.0); k <= BinOf(band + 2.0); ++k) {
            if (film[k] < film[deepest]) deepest = k;
        }
        EXPECT_NEAR(deepest, centre, 4) << band;
        // ...and clearly below the film's transmittance a little way off.
        EXPECT_LT(film[deepest], 0.9 * std::max(film[BinOf(band - 9.0)], film[BinOf(band + 9.0)]))
            << band;
    }
    EXPECT_GT(film[BinOf(2500.0)], 0.95);  // no band there
}

TEST(SimModel, AirAbsorbsInTheCarbonDioxideAndWaterBands) {
    std::vector<double> air(kBins);
    BuildAtmosphereTransmittance(air.data(), kBins);
    auto minimum = [&](double from, double to) {
        double low = 1.0;
        for (int k = BinOf(from); k <= BinOf(to); ++k) low = std::min(low, air[k]);
        return low;
    };
    EXPECT_LT(minimum(2300.0, 2380.0), 0.5);  // CO2 stretch
    EXPECT_LT(minimum(660.0, 675.0), 0.5);    // CO2 bend, Q branch
    EXPECT_LT(minimum(1400.0, 1800.0), 0.8);  // water bend
    EXPECT_LT(minimum(3500.0, 3950.0), 0.9);  // water stretch
    EXPECT_GT(minimum(2450.0, 2700.0), 0.99);
    EXPECT_GT(minimum(4200.0, 5000.0), 0.99);
}

TEST(SimModel, InterferogramIsTheTransformOfTheSpectrumWithItsPhaseLag) {
    const CInterferogramModel& model = CInterferogramModel::Instance();
    EXPECT_DOUBLE_EQ(model.At(0), 1.0);
    for (int n = 1; n < 2000; ++n) {
        ASSERT_LT(model.At(n), 1.0);
        ASSERT_LT(model.At(-n), 1.0);
    }
    // The burst's deepest side lobe follows the maximum within a few samples,
    // on one side only: the zero crossing between them is well defined.
    int deepest = -8;
    for (int n = -8; n <= 8; ++n) {
        if (model.At(n) < model.At(deepest)) deepest = n;
    }
    EXPECT_GT(deepest, 0);
    EXPECT_LE(deepest, 3);
    EXPECT_LT(model.At(deepest), 1.1 * model.At(-deepest));  // clearly deeper
    // The far wings are small but not empty: the narrow gas lines and film
    // bands keep modulating the signal across the whole sweep.
    double wing = 0.0;
    for (int n = 20000; n < 21000; ++n) wing = std::max(wing, std::fabs(model.At(n)));
    EXPECT_LT(wing, 0.01);
    EXPECT_GT(wing, 1e-5);

    // Transforming back recovers the spectrum's shape (the magnitude of the
    // cosine and sine parts) and the phase lag at a few wavenumbers.
    std::vector<double> spectrum(kBins);
    BuildModelSpectrum(spectrum.data(), kBins);
    auto recovered = [&](int k) {
        std::complex<double> sum = 0.0;
        for (int n = 0; n < CInterferogramModel::kPeriod; ++n) {
            sum += model.At(n) * std::polar(1.0, -2.0 * kPi * k * n / CInterferogramModel::kPeriod);
        }
        return sum;
    };
    const int reference = BinOf(2000.0);
    const double scale = spectrum[reference] / std::abs(recovered(reference));
    for (double wavenumber : {698.0, 1493.0, 2349.0, 3026.0, 6000.0}) {
        const int k = BinOf(wavenumber);
        const std::complex<double> value = recovered(k);
        EXPECT_NEAR(std::abs(value) * scale, spectrum[k], 1e-6 * spectrum[reference]) << wavenumber;
        EXPECT_NEAR(std::arg(value), CInterferogramModel::kPhaseLag, 1e-6) << wavenumber;
    }
}

}  // namespace
