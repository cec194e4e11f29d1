// Turns the model interferogram into the samples of one board configuration
// (points, gain, centre-burst position, one or two converters) and adds fresh
// noise for every scan. The noiseless samples are recomputed only when the
// configuration changes; a scan is one pass of noise, rounding and clipping.
#pragma once

#include <cstdint>
#include <memory>

#include "device/driver_records.h"
#include "sim/noise_source.h"

namespace nadixq::sim {

struct ScanConfiguration {
    int points = 16384;        // as programmed by Initialize
    int gainCode = 7;          // 7: 1x, 6: 2x, 5: 4x
    int imaxPos = 512;         // sample index of the centre burst
    bool dual = false;         // two converters (low and high gain)
    bool sampleInBeam = true;  // the polystyrene film is in the beam

    bool operator==(const ScanConfiguration& other) const {
        return points == other.points && gainCode == other.gainCode && imaxPos == other.imaxPos &&
               dual == other.dual && sampleInBeam == other.sampleInBeam;
    }
};

class CScanGenerator {
  public:
    // Peak of the low-gain (or only) converter at gain 1x, in counts: leaves
    // room for the 4x gain below the converter's full scale.
    static constexpr double kPeakCounts = 6000.0;
    // The high-gain converter's amplification over the low-gain one. Not a
    // power of two, so that merging must really fit the ratio.
    static constexpr double kHighGainRatio = 7.94;
    // Converter offsets in counts, different per converter as on a real board.
    static constexpr double kLowOffset = 18.0;
    static constexpr double kHighOffset = -45.0;
    static constexpr int kFullScale = 32767;

    CScanGenerator();
    ~CScanGenerator();
    CScanGenerator(const CScanGenerator&) = delete;
    CScanGenerator& operator=(const CScanGenerator&) = delete;

    // Makes `config` current, recomputing the noiseless samples if it differs.
    void Configure(const ScanConfiguration& config);

    // Samples that carry the scan: from 0 to 256 points past the end of the
    // window that the board co-adds (from imaxPos - 256, `points` long), at
    // most the whole transfer. The rest of a transfer reads 0.
    int Extent() const { return _extent; }

    // One scan: the noiseless samples plus noise of standard deviation
    // `sigma` counts, rounded and clipped to +-32767. Fills kChannelSamples
    // values of `low` and, for a dual configuration, of `high` (which may be
    // null otherwise).
    void Render(CNoiseSource& noise, double sigma, int16_t* low, int16_t* high) const;

    // The noiseless low-gain (or only) channel, for the calibration record.
    const double* NoiselessLow() const { return _low.get(); }

    static double GainFactor(int gainCode);

  private:
    ScanConfiguration _config;
    bool _configured = false;
    int _extent = 0;
    std::unique_ptr<double[]> _low;
    std::unique_ptr<double[]> _high;
};

}  // namespace nadixq::sim
