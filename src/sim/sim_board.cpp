#include "sim/sim_board.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace nadixq::sim {

CSimBoard::CSimBoard() : _requests(_state) {}

CSimBoard::~CSimBoard() = default;

bool CSimBoard::Control(bool interfaceA, uint32_t code, const void* in, uint32_t inSize, void* out,
                        uint32_t outSize, uint32_t* error) {
    uint32_t failure = 0;
    bool delivered = false;
    bool ok = false;
    nadixq_sim_transfer_hook hook = nullptr;
    void* hookContext = nullptr;
    int scan = 0;
    {
        std::lock_guard<std::mutex> lock(_mutex);
        ok = _requests.Handle(interfaceA, code, in, inSize, out, outSize, &failure, &delivered);
        if (delivered && _state._hook != nullptr) {
            hook = _state._hook;
            hookContext = _state._hookContext;
            scan = _state._scanCount;
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
    return !_state._unplugged;
}

void CSimBoard::Reset() {
    std::lock_guard<std::mutex> lock(_mutex);
    _state.Reset();
}

void CSimBoard::SetBoardType(int type) {
    std::lock_guard<std::mutex> lock(_mutex);
    _state._boardTypePin = std::clamp(type, -32768, 32767);
}

void CSimBoard::SetScanRate(double samplesPerSecond, double turnaroundMs) {
    std::lock_guard<std::mutex> lock(_mutex);
    // "> 0" also turns NaN into the default. The limits keep a scan's period
    // in counter ticks, and the microseconds the transfer header reports,
    // well inside their integers.
    _state._sampleRate =
        samplesPerSecond > 0.0
            ? std::clamp(samplesPerSecond, NADIXQ_SIM_MIN_SAMPLE_RATE, NADIXQ_SIM_MAX_SAMPLE_RATE)
            : NADIXQ_SIM_DEFAULT_SAMPLE_RATE;
    _state._turnaroundMs = turnaroundMs > 0.0 ? std::min(turnaroundMs, NADIXQ_SIM_MAX_TURNAROUND_MS)
                                              : NADIXQ_SIM_DEFAULT_TURNAROUND_MS;
    _state.UpdatePeriod();
}

void CSimBoard::SetNoise(double sigma) {
    std::lock_guard<std::mutex> lock(_mutex);
    _state._noiseSigma = sigma > 0.0 ? std::min(sigma, NADIXQ_SIM_MAX_NOISE) : 0.0;
}

void CSimBoard::SetSeed(uint64_t seed) {
    std::lock_guard<std::mutex> lock(_mutex);
    _state._seed = seed;
    _state._noise.Seed(seed);
}

void CSimBoard::SetCalibrationError(int errorvalue) {
    std::lock_guard<std::mutex> lock(_mutex);
    _state._calibrationError = errorvalue;
}

void CSimBoard::FailRequest(uint32_t code, int afterCalls, uint32_t error, int times) {
    std::lock_guard<std::mutex> lock(_mutex);
    _state._fault = SimFault{code, afterCalls > 0 ? afterCalls : 0, error, times};
}

void CSimBoard::ErrorAtScan(int n) {
    std::lock_guard<std::mutex> lock(_mutex);
    _state._errorAtScan = n > 0 ? n : 0;
}

void CSimBoard::SetSampleInBeam(bool inBeam) {
    std::lock_guard<std::mutex> lock(_mutex);
    // The next poll's Configure renders the other model from then on.
    _state._config.sampleInBeam = inBeam;
}

void CSimBoard::Unplug() {
    std::lock_guard<std::mutex> lock(_mutex);
    _state._unplugged = true;
}

int CSimBoard::ScanCount() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _state._scanCount;
}

int CSimBoard::ImaxPos() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _state._config.imaxPos;
}

unsigned CSimBoard::AuxState() {
    std::lock_guard<std::mutex> lock(_mutex);
    return _state._auxState;
}

int CSimBoard::LastTransfer(int channel, int16_t* samples, int count) {
    std::lock_guard<std::mutex> lock(_mutex);
    if (samples == nullptr || count <= 0 || !_state._haveTransfer) return 0;
    if (channel != 0 && !(channel == 1 && _state._lastWasDual)) return 0;
    if (count > kChannelSamples) count = kChannelSamples;
    std::memcpy(samples, channel == 0 ? _state._lastLow.get() : _state._lastHigh.get(),
                sizeof(int16_t) * static_cast<size_t>(count));
    return count;
}

void CSimBoard::SetTransferHook(nadixq_sim_transfer_hook hook, void* context) {
    std::lock_guard<std::mutex> lock(_mutex);
    _state._hook = hook;
    _state._hookContext = context;
}

CSimBoard& TheSimBoard() {
    static CSimBoard* board = new CSimBoard;
    return *board;
}

}  // namespace nadixq::sim
