#include "sim/model_spectrum.h"

#include <cmath>
#include <cstdint>
#include <vector>

namespace nadixq::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLn10 = 2.302585092994046;
// Second radiation constant h c / k, in cm K.
constexpr double kC2 = 1.4387769;

double Wavenumber(int k, int bins) {
    return k * kFoldingWavenumber / (bins - 1);
}

// Adds a Lorentzian line of integrated area `area` (absorbance x cm^-1),
// centred at `centre` with half width `hwhm`, to `absorbance`. Each bin gets
// the line's integral over the bin rather than its value at the bin centre:
// the grid (about 0.24 cm^-1) is coarser than a gas line, and sampling the
// profile would make the apparent strength depend on where the line falls.
void AddLine(double* absorbance, int bins, double centre, double area, double hwhm) {
    const double step = kFoldingWavenumber / (bins - 1);
    const double reach = 80.0 * hwhm + 2.0 * step;
    int first = static_cast<int>(std::floor((centre - reach) / step));
    int last = static_cast<int>(std::ceil((centre + reach) / step));
    if (first < 0) first = 0;
    if (last > bins - 1) last = bins - 1;
    for (int k = first; k <= last; ++k) {
        const double nu = k * step;
        const double upper = std::atan((nu + 0.5 * step - centre) / hwhm);
        const double lower = std::atan((nu - 0.5 * step - centre) / hwhm);
        absorbance[k] += area * (upper - lower) / (kPi * step);
    }
}

// A linear rotor's band (carbon dioxide): P and R branches of even-J lines
// with Boltzmann intensities at room temperature, and optionally a Q branch.
void AddLinearRotorBand(double* absorbance, int bins, double origin, double strongestArea,
                        double qShare) {
    constexpr double kLowerB = 0.39022;  // ground state rotational constant
    constexpr double kUpperB = 0.38714;
    constexpr double kThermal = 205.7;  // kT at 296 K in cm^-1
    constexpr double kHwhm = 0.075;     // air-broadened half width

    // The strongest line sits near J = 16; normalise to it.
    double peak = 0.0;
    for (int j = 0; j <= 100; j += 2) {
        const double weight = (j + 1) * std::exp(-kLowerB * j * (j + 1) / kThermal);
        if (weight > peak) peak = weight;
    }
    for (int j = 0; j <= 100; j += 2) {
        const double boltzmann = std::exp(-kLowerB * j * (j + 1) / kThermal);
        const double rLine = (j + 1) * boltzmann / peak;
        const double mR = j + 1.0;
        AddLine(absorbance, bins, origin + (kUpperB + kLowerB) * mR + (kUpperB - kLowerB) * mR * mR,
                strongestArea * rLine, kHwhm);
        if (j >= 2) {
            const double pLine = j * boltzmann / peak;
            const double mP = -static_cast<double>(j);
            AddLine(absorbance, bins,
                    origin + (kUpperB + kLowerB) * mP + (kUpperB - kLowerB) * mP * mP,
                    strongestArea * pLine, kHwhm);
        }
        if (qShare > 0.0 && j >= 2) {
            // The Q branch lines nearly coincide: the upper state's constant
            // differs from the lower's by a few parts in ten thousand.
            const double qLine = (2 * j + 1) * boltzmann / peak;
            AddLine(absorbance, bins, origin - 0.00046 * j * (j + 1),
                    qShare * strongestArea * qLine, kHwhm);
        }
    }
}

// A small deterministic generator for the water line list, so that every run
// of every build sees the same atmosphere whatever the noise seed.
class LineListRandom {
  public:
    explicit LineListRandom(uint64_t seed) : _state(seed) {}
    double Uniform() {  // [0, 1)
        _state += 0x9E3779B97F4A7C15ull;
        uint64_t z = _state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) * (1.0 / 9007199254740992.0);
    }

  private:
    uint64_t _state;
};

// An asymmetric top's band (water vapour): many lines spread over a few
// hundred wavenumbers on both sides of the origin, thinning out at the centre
// and in the far wings, with strengths scattered over two decades.
void AddWaterBand(double* absorbance, int bins, double origin, double spread, int lines,
                  double strongestArea, uint64_t seed) {
    LineListRandom random(seed);
    for (int i = 0; i < lines; ++i) {
        const double side = random.Uniform() < 0.5 ? -1.0 : 1.0;
        const double distance = 8.0 + 2.6 * spread * std::pow(random.Uniform(), 1.3);
        const double envelope = (distance / spread) * std::exp(1.0 - distance / spread);
        const double scatter = std::pow(10.0, -2.0 * random.Uniform());
        AddLine(absorbance, bins, origin + side * distance, strongestArea * envelope * scatter,
                0.09);
    }
}

struct FilmBand {
    double centre;      // cm^-1
    double absorbance;  // decadic, at the band centre
    double hwhm;        // cm^-1
};

// A polystyrene reference film of about 40 micrometres: the bands that
// calibration checks use (3060, 3026, 2924, 1601, 1493, 1453, 1028, 906 and
// 698 cm^-1) with their neighbours at roughly their usual relative depths.
constexpr FilmBand kPolystyrene[] = {
    {3082.0, 0.30, 5.0},  {3060.0, 0.75, 5.0}, {3026.0, 1.05, 5.5}, {3001.0, 0.25, 4.0},
    {2924.0, 1.30, 11.0}, {2850.0, 0.65, 8.0}, {1944.0, 0.10, 6.0}, {1871.0, 0.08, 6.0},
    {1801.0, 0.07, 6.0},  {1745.0, 0.04, 6.0}, {1601.0, 0.60, 3.5}, {1583.0, 0.22, 3.0},
    {1493.0, 1.20, 4.5},  {1453.0, 1.10, 5.5}, {1370.0, 0.08, 5.0}, {1181.0, 0.10, 4.0},
    {1154.0, 0.12, 4.0},  {1069.0, 0.20, 4.0}, {1028.0, 0.50, 3.5}, {906.0, 0.35, 3.5},
    {842.0, 0.10, 5.0},   {756.0, 1.50, 5.5},  {698.0, 2.00, 6.0},  {540.0, 0.60, 8.0},
};

}  // namespace

void BuildInstrumentResponse(double* response, int bins) {
    constexpr double kSourceTemperature = 1250.0;  // K, a silicon carbide glower
    for (int k = 0; k < bins; ++k) {
        const double nu = Wavenumber(k, bins);
        if (nu <= 0.0) {
            response[k] = 0.0;
            continue;
        }
        const double planck = nu * nu * nu / std::expm1(kC2 * nu / kSourceTemperature);
        // KBr optics stop transmitting near 400 cm^-1; the beamsplitter's
        // coating and the detector window end the band near 7800 cm^-1.
        const double lowEdge = 1.0 / (1.0 + std::exp(-(nu - 430.0) / 18.0));
        const double highEdge = 1.0 / (1.0 + std::exp((nu - 7350.0) / 70.0));
        const double beamsplitter = 0.25 + 0.75 * std::exp(-std::pow((nu - 1700.0) / 2300.0, 2));
        response[k] = planck * lowEdge * highEdge * beamsplitter;
    }
}

void BuildAtmosphereTransmittance(double* transmittance, int bins) {
    // Absorbance (natural) first, then one exponential per bin.
    for (int k = 0; k < bins; ++k) transmittance[k] = 0.0;
    AddLinearRotorBand(transmittance, bins, 2349.143, 0.6, 0.0);  // CO2 asymmetric stretch
    AddLinearRotorBand(transmittance, bins, 667.380, 0.05, 0.9);  // CO2 bend with Q branch
    AddWaterBand(transmittance, bins, 1594.75, 110.0, 240, 0.16, 0x5EED1595ull);  // H2O bend
    AddWaterBand(transmittance, bins, 3730.0, 95.0, 260, 0.10, 0x5EED3730ull);    // H2O stretch
    for (int k = 0; k < bins; ++k) transmittance[k] = std::exp(-transmittance[k]);
}

void BuildFilmTransmittance(double* transmittance, int bins) {
    for (int k = 0; k < bins; ++k) transmittance[k] = 0.0;
    for (const FilmBand& band : kPolystyrene) {
        // Integrated area of a Lorentzian with this peak: pi * hwhm * peak.
        AddLine(transmittance, bins, band.centre, kPi * band.hwhm * band.absorbance * kLn10,
                band.hwhm);
    }
    for (int k = 0; k < bins; ++k) transmittance[k] = std::exp(-transmittance[k]);
}

void BuildBackgroundSpectrum(double* spectrum, int bins) {
    BuildInstrumentResponse(spectrum, bins);
    std::vector<double> transmittance(static_cast<size_t>(bins));
    BuildAtmosphereTransmittance(transmittance.data(), bins);
    for (int k = 0; k < bins; ++k) spectrum[k] *= transmittance[k];
}

void BuildModelSpectrum(double* spectrum, int bins) {
    BuildBackgroundSpectrum(spectrum, bins);
    std::vector<double> transmittance(static_cast<size_t>(bins));
    BuildFilmTransmittance(transmittance.data(), bins);
    for (int k = 0; k < bins; ++k) spectrum[k] *= transmittance[k];
}

}  // namespace nadixq::sim
