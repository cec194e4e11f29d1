#include "sim/scan_generator.h"

#include <cmath>

#include "sim/interferogram_model.h"

namespace nadixq::sim {
namespace {

int16_t Quantise(double value) {
    // Round half away from zero, then clip as the converter saturates.
    const double rounded = value >= 0.0 ? std::floor(value + 0.5) : std::ceil(value - 0.5);
    if (rounded > CScanGenerator::kFullScale) return CScanGenerator::kFullScale;
    if (rounded < -CScanGenerator::kFullScale) return -CScanGenerator::kFullScale;
    return static_cast<int16_t>(rounded);
}

}  // namespace

CScanGenerator::CScanGenerator()
    : _low(new double[kChannelSamples]()), _high(new double[kChannelSamples]()) {}

CScanGenerator::~CScanGenerator() = default;

double CScanGenerator::GainFactor(int gainCode) {
    switch (gainCode) {
        case 6:
            return 2.0;
        case 5:
            return 4.0;
        default:  // 7, and any code the board does not know: unity gain
            return 1.0;
    }
}

void CScanGenerator::Configure(const ScanConfiguration& config) {
    if (_configured && config == _config) return;
    _config = config;
    _configured = true;

    long extent = static_cast<long>(config.imaxPos) - 256 + config.points + 256;
    if (extent > kChannelSamples) extent = kChannelSamples;
    if (extent < 0) extent = 0;
    _extent = static_cast<int>(extent);

    const CInterferogramModel& model =
        config.sampleInBeam ? CInterferogramModel::Instance() : CInterferogramModel::Background();
    const double lowScale = kPeakCounts * GainFactor(config.gainCode);
    const double highScale = lowScale * kHighGainRatio;
    for (int i = 0; i < kChannelSamples; ++i) {
        if (i < _extent) {
            const double shape = model.At(i - config.imaxPos);
            _low[i] = lowScale * shape + kLowOffset;
            _high[i] = highScale * shape + kHighOffset;
        } else {
            _low[i] = 0.0;
            _high[i] = 0.0;
        }
    }
}

void CScanGenerator::Render(CNoiseSource& noise, double sigma, int16_t* low, int16_t* high) const {
    const bool withHigh = _config.dual && high != nullptr;
    for (int i = 0; i < _extent; ++i) low[i] = Quantise(_low[i] + sigma * noise.Next());
    for (int i = _extent; i < kChannelSamples; ++i) low[i] = 0;
    if (!withHigh) return;
    // The two converters see independent noise: that is what lets the merge
    // of the two channels win dynamic range.
    for (int i = 0; i < _extent; ++i) high[i] = Quantise(_high[i] + sigma * noise.Next());
    for (int i = _extent; i < kChannelSamples; ++i) high[i] = 0;
}

}  // namespace nadixq::sim
