#include "sim/sim_board.h"

#include <algorithm>
#include <cstring>

#include "platform/platform.h"
#include "sim/driver_operation.h"

namespace nadixq::sim {
namespace {

// A board that has not been polled for this long beyond one scan is idle: no
// run is going, and the next poll re-arms the acquisition.
constexpr double kIdleGraceSeconds = 0.25;

// What the calibration uses when the request leaves a field at 0xFFFF ("the
// board's default").
constexpr uint16_t kDefaultCalScanLength = 1024;
constexpr uint16_t kDefaultEosPolarity = 1;

// Board types the adaptive board reports, per interface and calInfo form.
constexpr int16_t kTypeSingleA = 9;   // 60 bytes on A: SingleADC1
constexpr int16_t kTypeDualA = 10;    // 72 bytes on A: DualADC3
constexpr int16_t kTypeDualB = 12;    // 72 bytes on B: DualADC4
constexpr int16_t kTypeSingleB = 13;  // 60 bytes on B: SingleADC2

// Fake addresses of the board's sample memory, for the istate dump.
constexpr uint32_t kRamStart = 0x00100000u;
constexpr uint32_t kSafeWord = 0x5AFE5AFEu;

uint64_t Mix(uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

int16_t Saturate16(double value) {
    if (value > 32767.0) return 32767;
    if (value < -32767.0) return -32767;
    return static_cast<int16_t>(value >= 0.0 ? value + 0.5 : value - 0.5);
}

}  // namespace

CSimBoard::CSimBoard()
    : _lastLow(new int16_t[kChannelSamples]()), _lastHigh(new int16_t[kChannelSamples]()) {
    std::lock_guard<std::mutex> lock(_mutex);
    ResetLocked();
}

CSimBoard::~CSimBoard() = default;

bool CSimBoard::Control(bool interfaceA, uint32_t code, const void* in, uint32_t inSize, void* out,
                        uint32_t outSize, uint32_t* error) {
    uint32_t failure = 0;
    bool ok = false;
    bool delivered = false;
    nadixq_sim_transfer_hook hook = nullptr;
    void* hookContext = nullptr;
    int scan = 0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        if (_unplugged) {
            failure = kErrorNotConnected;
        } else if (!InjectedFault(code, &failure)) {
            if ((in == nullptr && inSize != 0) || (out == nullptr && outSize != 0)) {
                failure = kErrorInvalidParameter;
            } else {
                switch (DecodeOperation(interfaceA, code)) {
                    case DriverOperation::kInitialize:
                        ok = Initialize(in, inSize, &failure);
                        break;
                    case DriverOperation::kGetCalStatus:
                        ok = GetCalStatus(interfaceA, out, outSize, &failure);
                        break;
                    case DriverOperation::kGetIfg:
                        ok = GetIfg(out, outSize, &failure, &delivered);
                        break;
                    case DriverOperation::kCalScan:
                        ok = CalScan(interfaceA, in, inSize, out, outSize, &failure);
                        break;
                    case DriverOperation::kReadFiber:
                        ok = ReadFiber(out, outSize, &failure);
                        break;
                    case DriverOperation::kWriteFiber:
                        ok = WriteFiber(in, inSize, out, outSize, &failure);
                        break;
                    case DriverOperation::kWriteAux:
                        ok = WriteAux(in, inSize, out, outSize, &failure);
                        break;
                    case DriverOperation::kUnknown:
                        failure = kErrorInvalidFunction;
                        break;
                }
            }
        }
        if (delivered && _hook != nullptr) {
            hook = _hook;
            hookContext = _hookContext;
            scan = _scanCount;
        }
    }
    // Outside the lock, so that the hook may use the control functions; the
    // samples it sees are the caller's reply buffer, which nobody else touches.
    if (hook != nullptr) {
        auto* bytes = static_cast<const uint8_t*>(out);
        const auto* low = reinterpret_cast<const int16_t*>(bytes + offsetof(DualTransfer, low));
        const int16_t* high = nullptr;
        if (outSize >= sizeof(DualTransfer)) {
            high = reinterpret_cast<const int16_t*>(bytes + offsetof(DualTransfer, high));
        }
        hook(hookContext, scan, low, high, kChannelSamples);
    }
    if (!ok && error != nullptr) *error = failure;
    return ok;
}

bool CSimBoard::Present() {
    std::lock_guard<std::mutex> lock(_mutex);
    return !_unplugged;
}

// ------------------------------------------------------------------ faults --

bool CSimBoard::InjectedFault(uint32_t code, uint32_t* error) {
    if (_fault.code == 0 || _fault.code != code) return false;
    if (_fault.after > 0) {
        --_fault.after;
        return false;
    }
    *error = _fault.error;
    if (_fault.times > 0 && --_fault.times == 0) _fault = Fault{};
    return true;
}

// ---------------------------------------------------------------- requests --

bool CSimBoard::Initialize(const void* in, uint32_t inSize, uint32_t* error) {
    if (inSize < sizeof(initParms)) {
        *error = kErrorInvalidParameter;
        return false;
    }
    initParms parms;
    std::memcpy(&parms, in, sizeof(parms));
    _config.points = parms.respts;
    _config.gainCode = parms.gain;
    UpdatePeriodLocked();
    // New settings start a new sweep.
    _clock.Rearm(platform::QueryCounter());
    return true;
}

int16_t CSimBoard::ReportedBoardType(bool interfaceA, uint32_t calInfoSize) const {
    if (_boardTypePin != NADIXQ_SIM_ADAPTIVE_BOARD_TYPE) return static_cast<int16_t>(_boardTypePin);
    if (calInfoSize >= sizeof(calInfo72)) return interfaceA ? kTypeDualA : kTypeDualB;
    return interfaceA ? kTypeSingleA : kTypeSingleB;
}

void CSimBoard::FillCalInfo(bool interfaceA, void* out, uint32_t outSize) const {
    // Offset 54 of the short form has no meaning; a pinned type still shows
    // there, so that a test can see it is ignored.
    const int16_t unused =
        _boardTypePin == NADIXQ_SIM_ADAPTIVE_BOARD_TYPE ? 0 : static_cast<int16_t>(_boardTypePin);
    WriteCalInfo(_calibration, ReportedBoardType(interfaceA, outSize), unused, out, outSize);
}

bool CSimBoard::CalScan(bool interfaceA, const void* in, uint32_t inSize, void* out,
                        uint32_t outSize, uint32_t* error) {
    if (inSize < sizeof(calParms)) {
        *error = kErrorInvalidParameter;
        return false;
    }
    if (outSize < sizeof(calInfo56)) {
        *error = kErrorInsufficientBuffer;
        return false;
    }
    calParms parms;
    std::memcpy(&parms, in, sizeof(parms));
    // Echo the parameters as used: 0xFFFF asks for the board's default.
    if (parms.cal_scan_length == 0xFFFF) parms.cal_scan_length = kDefaultCalScanLength;
    if (parms.gain == 0xFFFF) parms.gain = static_cast<uint16_t>(_config.gainCode);
    if (parms.eos_polarity == 0xFFFF) parms.eos_polarity = kDefaultEosPolarity;
    std::memset(parms.padding, 0, sizeof(parms.padding));

    // A good calibration re-locks the sweep: the burst lands within a few
    // samples of its nominal place, reproducibly for a given seed. A failed
    // one leaves the sweep, and so the burst, where it was.
    ++_calibrations;
    if (_calibrationError == 0) {
        const uint64_t draw = Mix(_seed * 0x100000001B3ull + _calibrations);
        const int jitter = static_cast<int>(draw % (2 * kImaxJitter + 1)) - kImaxJitter;
        _config.imaxPos = kNominalImaxPos + jitter;
    }
    _config.dual = outSize >= sizeof(calInfo72);
    _generator.Configure(_config);

    SimCalibration c;
    c.parms = parms;
    c.errorvalue = _calibrationError;
    c.imaxPos = static_cast<int16_t>(_config.imaxPos);
    c.datastart = static_cast<int16_t>(_config.imaxPos - 256);
    const double* noiseless = _generator.NoiselessLow();
    int imaxNeg = 0;
    double maxPos = noiseless[0];
    double maxNeg = noiseless[0];
    for (int i = 1; i < _generator.Extent(); ++i) {
        if (noiseless[i] > maxPos) maxPos = noiseless[i];
        if (noiseless[i] < maxNeg) {
            maxNeg = noiseless[i];
            imaxNeg = i;
        }
    }
    c.maxPos = Saturate16(maxPos);
    c.maxNeg = Saturate16(maxNeg);
    c.imaxNeg = static_cast<int16_t>(imaxNeg);
    for (int i = 0; i < 15; ++i) c.zpdRegion[i] = Saturate16(noiseless[_config.imaxPos - 7 + i]);
    _calibration = c;

    std::memset(out, 0, outSize);
    FillCalInfo(interfaceA, out, outSize);
    _clock.Rearm(platform::QueryCounter());
    return true;
}

bool CSimBoard::GetCalStatus(bool interfaceA, void* out, uint32_t outSize, uint32_t* error) {
    if (outSize < sizeof(calInfo56)) {
        *error = kErrorInsufficientBuffer;
        return false;
    }
    FillCalInfo(interfaceA, out, outSize);
    return true;
}

bool CSimBoard::GetIfg(void* out, uint32_t outSize, uint32_t* error, bool* delivered) {
    if (outSize < sizeof(SingleTransfer)) {
        *error = kErrorInsufficientBuffer;
        return false;
    }
    const bool dual = outSize >= sizeof(DualTransfer);
    _config.dual = dual;
    _generator.Configure(_config);

    const int64_t now = platform::QueryCounter();
    const int64_t idle = static_cast<int64_t>(
        kIdleGraceSeconds * static_cast<double>(platform::QueryCounterFrequency()));
    uint32_t status = 0;  // not ready: the mirror is still sweeping
    if (_clock.Poll(now, idle)) {
        if (_errorAtScan > 0 && --_errorAtScan == 0) {
            // The scan is lost; the board reports the failure once and sweeps on.
            status = I_ERROR;
            ++_errorCount;
        } else {
            _generator.Render(_noise, _noiseSigma, _lastLow.get(),
                              dual ? _lastHigh.get() : nullptr);
            ++_scanCount;
            _haveTransfer = true;
            _lastWasDual = dual;
            status = I_COMPLETE;
            *delivered = true;
        }
    }

    istate header = {};
    header.ifg_complete = status;
    header.ram_start = kRamStart;
    header.scan_num = static_cast<uint16_t>(_scanCount);
    const int64_t frequency =
        platform::QueryCounterFrequency() > 0 ? platform::QueryCounterFrequency() : 1;
    const double periodSeconds =
        static_cast<double>(_clock.Period()) / static_cast<double>(frequency);
    // ms per scan, as a 16-bit counter would hold it; us per scan.
    header.time_count = static_cast<uint16_t>(static_cast<uint32_t>(periodSeconds * 1e3) & 0xFFFFu);
    header.ram_end = kRamStart + 2u * static_cast<uint32_t>(_generator.Extent());
    header.pts = _config.points;
    header.tttt = static_cast<uint32_t>(std::min(periodSeconds * 1e6, 4294967295.0));
    header.safe = kSafeWord;
    header.err_cnt = _errorCount;
    header.err_adr = 0;

    // The transfer always carries the board's sample memory, which holds the
    // newest scan; only ifg_complete says whether it is new.
    auto* bytes = static_cast<uint8_t*>(out);
    std::memcpy(bytes, &header, sizeof(header));
    std::memcpy(bytes + offsetof(DualTransfer, low), _lastLow.get(),
                sizeof(int16_t) * kChannelSamples);
    if (dual) {
        std::memcpy(bytes + offsetof(DualTransfer, high), _lastHigh.get(),
                    sizeof(int16_t) * kChannelSamples);
    }
    if (outSize > (dual ? sizeof(DualTransfer) : sizeof(SingleTransfer))) {
        const uint32_t used = dual ? sizeof(DualTransfer) : sizeof(SingleTransfer);
        std::memset(bytes + used, 0, outSize - used);
    }
    return true;
}

bool CSimBoard::WriteAux(const void* in, uint32_t inSize, void* out, uint32_t outSize,
                         uint32_t* error) {
    if (inSize < sizeof(uint16_t)) {
        *error = kErrorInvalidParameter;
        return false;
    }
    std::memcpy(&_auxState, in, sizeof(_auxState));
    // The reply is the state the outputs now drive.
    if (outSize >= sizeof(uint16_t)) std::memcpy(out, &_auxState, sizeof(_auxState));
    return true;
}

bool CSimBoard::WriteFiber(const void* in, uint32_t inSize, void* out, uint32_t outSize,
                           uint32_t* error) {
    if (inSize < sizeof(FiberRequest)) {
        *error = kErrorInvalidParameter;
        return false;
    }
    FiberRequest request;
    std::memcpy(&request, in, sizeof(request));
    std::memcpy(_fiberFrames, request.frames, sizeof(_fiberFrames));
    const uint16_t status = 0;  // the link took the frame
    if (outSize >= sizeof(status)) std::memcpy(out, &status, sizeof(status));
    return true;
}

bool CSimBoard::ReadFiber(void* out, uint32_t outSize, uint32_t* error) {
    if (outSize < sizeof(FiberReply)) {
        *error = kErrorInsufficientBuffer;
        return false;
    }
    // The far end of the link echoes the last frame written to it.
    FiberReply reply = {};
    reply.status = 0;
    std::memcpy(reply.frames, _fiberFrames, sizeof(reply.frames));
    std::memcpy(out, &reply, sizeof(reply));
    return true;
}

// ---------------------------------------------------------------- controls --

void CSimBoard::UpdatePeriodLocked() {
    const double seconds =
        static_cast<double>(_config.points) / _sampleRate + _turnaroundMs / 1000.0;
    _clock.SetPeriod(
        static_cast<int64_t>(seconds * static_cast<double>(platform::QueryCounterFrequency())));
}

void CSimBoard::ResetLocked() {
    _boardTypePin = NADIXQ_SIM_ADAPTIVE_BOARD_TYPE;
    _sampleRate = NADIXQ_SIM_DEFAULT_SAMPLE_RATE;
    _turnaroundMs = NADIXQ_SIM_DEFAULT_TURNAROUND_MS;
    _noiseSigma = NADIXQ_SIM_DEFAULT_NOISE;
    _seed = NADIXQ_SIM_DEFAULT_SEED;
    _calibrationError = 0;
    _fault = Fault{};
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
    UpdatePeriodLocked();
}

void CSimBoard::Reset() {
    std::lock_guard<std::mutex> lock(_mutex);
    ResetLocked();
}

void CSimBoard::SetBoardType(int type) {
    std::lock_guard<std::mutex> lock(_mutex);
    _boardTypePin = std::clamp(type, -32768, 32767);
}

void CSimBoard::SetScanRate(double samplesPerSecond, double turnaroundMs) {
    std::lock_guard<std::mutex> lock(_mutex);
    // "> 0" also turns NaN into the default. The limits keep a scan's period
    // in counter ticks, and the microseconds the transfer header reports,
    // well inside their integers.
    _sampleRate = samplesPerSecond > 0.0 ? std::clamp(samplesPerSecond, NADIXQ_SIM_MIN_SAMPLE_RATE,
                                                      NADIXQ_SIM_MAX_SAMPLE_RATE)
                                         : NADIXQ_SIM_DEFAULT_SAMPLE_RATE;
    _turnaroundMs = turnaroundMs > 0.0 ? std::min(turnaroundMs, NADIXQ_SIM_MAX_TURNAROUND_MS)
                                       : NADIXQ_SIM_DEFAULT_TURNAROUND_MS;
    UpdatePeriodLocked();
}

void CSimBoard::SetNoise(double sigma) {
    std::lock_guard<std::mutex> lock(_mutex);
    _noiseSigma = sigma > 0.0 ? std::min(sigma, NADIXQ_SIM_MAX_NOISE) : 0.0;
}

void CSimBoard::SetSeed(uint64_t seed) {
    std::lock_guard<std::mutex> lock(_mutex);
    _seed = seed;
    _noise.Seed(seed);
}

void CSimBoard::SetCalibrationError(int errorvalue) {
    std::lock_guard<std::mutex> lock(_mutex);
    _calibrationError = errorvalue;
}

void CSimBoard::FailRequest(uint32_t code, int afterCalls, uint32_t error, int times) {
    std::lock_guard<std::mutex> lock(_mutex);
    _fault = Fault{code, afterCalls > 0 ? afterCalls : 0, error, times};
}

void CSimBoard::ErrorAtScan(int n) {
    std::lock_guard<std::mutex> lock(_mutex);
    _errorAtScan = n > 0 ? n : 0;
}

void CSimBoard::SetSampleInBeam(bool inBeam) {
    std::lock_guard<std::mutex> lock(_mutex);
    // The next poll's Configure renders the other model from then on.
    _config.sampleInBeam = inBeam;
}

void CSimBoard::Unplug() {
    std::lock_guard<std::mutex> lock(_mutex);
    _unplugged = true;
}

int CSimBoard::ScanCount() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _scanCount;
}

int CSimBoard::ImaxPos() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _config.imaxPos;
}

unsigned CSimBoard::AuxState() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _auxState;
}

int CSimBoard::LastTransfer(int channel, int16_t* samples, int count) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (samples == nullptr || count <= 0 || !_haveTransfer) return 0;
    if (channel != 0 && !(channel == 1 && _lastWasDual)) return 0;
    if (count > kChannelSamples) count = kChannelSamples;
    std::memcpy(samples, channel == 0 ? _lastLow.get() : _lastHigh.get(),
                sizeof(int16_t) * static_cast<size_t>(count));
    return count;
}

void CSimBoard::SetTransferHook(nadixq_sim_transfer_hook hook, void* context) {
    std::lock_guard<std::mutex> lock(_mutex);
    _hook = hook;
    _hookContext = context;
}

CSimBoard& TheSimBoard() {
    static CSimBoard* board = new CSimBoard;
    return *board;
}

}  // namespace nadixq::sim
