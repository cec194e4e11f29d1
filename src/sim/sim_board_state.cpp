#include "sim/sim_board_state.h"

#include <cstring>

#include "platform/platform.h"

namespace nadixq::sim {

SimBoardState::SimBoardState()
    : _lastLow(new int16_t[kChannelSamples]()), _lastHigh(new int16_t[kChannelSamples]()) {
    Reset();
}

void SimBoardState::UpdatePeriod() {
    const double seconds =
        static_cast<double>(_config.points) / _sampleRate + _turnaroundMs / 1000.0;
    _clock.SetPeriod(
        static_cast<int64_t>(seconds * static_cast<double>(platform::QueryCounterFrequency())));
}

void SimBoardState::Reset() {
    _boardTypePin = NADIXQ_SIM_ADAPTIVE_BOARD_TYPE;
    _sampleRate = NADIXQ_SIM_DEFAULT_SAMPLE_RATE;
    _turnaroundMs = NADIXQ_SIM_DEFAULT_TURNAROUND_MS;
    _noiseSigma = NADIXQ_SIM_DEFAULT_NOISE;
    _seed = NADIXQ_SIM_DEFAULT_SEED;
    _calibrationError = 0;
    _fault = SimFault{};
    _errorAtScan = 0;
    _unplugged = false;
    _hook = nullptr;
    _hookContext = nullptr;

    _config = ScanConfiguration{};
    _calibration = SimCalibration{};
    _calibrations = 0;
    _auxState = 0;
    std::memset(_fiberFrames, 0, sizeof(_fiberFrames));
    _scanCount = 0;
    _errorCount = 0;
    _haveTransfer = false;
    _lastWasDual = false;
    _clock = CScanClock{};
    _noise.Seed(_seed);
    std::memset(_lastLow.get(), 0, sizeof(int16_t) * kChannelSamples);
    std::memset(_lastHigh.get(), 0, sizeof(int16_t) * kChannelSamples);
    UpdatePeriod();
}

}  // namespace nadixq::sim
