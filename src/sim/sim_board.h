// The simulated acquisition board and its driver's request handling: one board
// that answers both driver interfaces, adapts to the board class that talks to
// it (judged by the sizes of the records it asks for), keeps the aux word and
// the fiber link as state, and delivers noisy scans of the model interferogram
// at the pace of a real mirror sweep. What a request's code means is decoded
// in driver_operation.h; the calibration record's forms are written by
// calibration_record.h.
//
// Thread-safe: the scan thread's polls, the host's requests and the control
// functions may arrive at once; one lock orders them.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "device/driver_records.h"
#include "sim/calibration_record.h"
#include "sim/nadixq_sim.h"
#include "sim/noise_source.h"
#include "sim/scan_clock.h"
#include "sim/scan_generator.h"

namespace nadixq::sim {

// Win32 errors the board answers with.
constexpr uint32_t kErrorInvalidFunction = 1;       // a code the interface does not have
constexpr uint32_t kErrorInvalidParameter = 87;     // request record too short
constexpr uint32_t kErrorInsufficientBuffer = 122;  // reply buffer too short
constexpr uint32_t kErrorNoMoreItems = 259;         // no device at that index
constexpr uint32_t kErrorNotConnected = NADIXQ_SIM_ERROR_NOT_CONNECTED;

// Each calibration finds the burst within this many samples of the nominal
// position, as the mirror's start position varies a little between sweeps.
constexpr int kImaxJitter = 8;

class CSimBoard {
  public:
    CSimBoard();
    ~CSimBoard();
    CSimBoard(const CSimBoard&) = delete;
    CSimBoard& operator=(const CSimBoard&) = delete;

    // One driver request on interface A (`interfaceA`) or B. Returns true on
    // success; otherwise *error holds the Win32 error.
    bool Control(bool interfaceA, uint32_t code, const void* in, uint32_t inSize, void* out,
                 uint32_t outSize, uint32_t* error);
    // Whether an open of the board may succeed (false once unplugged).
    bool Present();

    // The control functions of nadixq_sim.h.
    void Reset();
    void SetBoardType(int type);
    void SetScanRate(double samplesPerSecond, double turnaroundMs);
    void SetNoise(double sigma);
    void SetSeed(uint64_t seed);
    void SetCalibrationError(int errorvalue);
    void FailRequest(uint32_t code, int afterCalls, uint32_t error, int times);
    void ErrorAtScan(int n);
    void SetSampleInBeam(bool inBeam);
    void Unplug();
    int ScanCount();
    int ImaxPos();
    unsigned AuxState();
    int LastTransfer(int channel, int16_t* samples, int count);
    void SetTransferHook(nadixq_sim_transfer_hook hook, void* context);

  private:
    struct Fault {
        uint32_t code = 0;  // 0: none
        int after = 0;
        uint32_t error = 0;
        int times = 0;  // 0 or less: for ever
    };

    void ResetLocked();
    bool InjectedFault(uint32_t code, uint32_t* error);
    void UpdatePeriodLocked();
    int16_t ReportedBoardType(bool interfaceA, uint32_t calInfoSize) const;
    void FillCalInfo(bool interfaceA, void* out, uint32_t outSize) const;

    bool Initialize(const void* in, uint32_t inSize, uint32_t* error);
    bool CalScan(bool interfaceA, const void* in, uint32_t inSize, void* out, uint32_t outSize,
                 uint32_t* error);
    bool GetCalStatus(bool interfaceA, void* out, uint32_t outSize, uint32_t* error);
    // Sets *delivered when the transfer carries a new scan.
    bool GetIfg(void* out, uint32_t outSize, uint32_t* error, bool* delivered);
    bool WriteAux(const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* error);
    bool WriteFiber(const void* in, uint32_t inSize, void* out, uint32_t outSize, uint32_t* error);
    bool ReadFiber(void* out, uint32_t outSize, uint32_t* error);

    std::mutex _mutex;

    // Controls.
    int _boardTypePin = NADIXQ_SIM_ADAPTIVE_BOARD_TYPE;
    double _sampleRate = NADIXQ_SIM_DEFAULT_SAMPLE_RATE;
    double _turnaroundMs = NADIXQ_SIM_DEFAULT_TURNAROUND_MS;
    double _noiseSigma = NADIXQ_SIM_DEFAULT_NOISE;
    uint64_t _seed = NADIXQ_SIM_DEFAULT_SEED;
    int32_t _calibrationError = 0;
    Fault _fault;
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

// The one simulated board of the process, created on first use and never
// destroyed, so that a device still open at exit never meets a dead board.
CSimBoard& TheSimBoard();

}  // namespace nadixq::sim
