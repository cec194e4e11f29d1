// Everything the simulated board holds: the controls of nadixq_sim.h, the
// state the driver's requests leave behind (configuration, calibration, aux
// word, fiber frames, scan count) and the last transfer. It has no lock of
// its own: CSimBoard holds its lock around every use.
#pragma once

#include <cstdint>
#include <memory>

#include "sim/calibration_record.h"
#include "sim/nadixq_sim.h"
#include "sim/noise_source.h"
#include "sim/scan_clock.h"
#include "sim/scan_generator.h"

namespace nadixq::sim {

// A request made to fail on purpose (nadixq_sim_fail_request).
struct SimFault {
    uint32_t code = 0;  // 0: none
    int after = 0;
    uint32_t error = 0;
    int times = 0;  // 0 or less: for ever
};

struct SimBoardState {
    SimBoardState();

    // Back to a board just plugged in, with the default controls.
    void Reset();
    // The scan period from the point count, the sample rate and the turnaround.
    void UpdatePeriod();

    // Controls.
    int _boardTypePin = NADIXQ_SIM_ADAPTIVE_BOARD_TYPE;
    double _sampleRate = NADIXQ_SIM_DEFAULT_SAMPLE_RATE;
    double _turnaroundMs = NADIXQ_SIM_DEFAULT_TURNAROUND_MS;
    double _noiseSigma = NADIXQ_SIM_DEFAULT_NOISE;
    uint64_t _seed = NADIXQ_SIM_DEFAULT_SEED;
    int32_t _calibrationError = 0;
    SimFault _fault;
    int _errorAtScan = 0;  // 0: none; else scans to go until the failing one
    bool _unplugged = false;
    nadixq_sim_transfer_hook _hook = nullptr;
    void* _hookContext = nullptr;

    // Board state.
    ScanConfiguration _config;
    SimCalibration _calibration;
    uint32_t _calibrations = 0;
    uint16_t _auxState = 0;
    uint32_t _fiberFrames[16] = {};
    int _scanCount = 0;
    uint32_t _errorCount = 0;
    bool _haveTransfer = false;
    bool _lastWasDual = false;
    CScanClock _clock;
    CNoiseSource _noise;
    CScanGenerator _generator;
    std::unique_ptr<int16_t[]> _lastLow;
    std::unique_ptr<int16_t[]> _lastHigh;
};

}  // namespace nadixq::sim
