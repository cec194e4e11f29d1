#include "sim/sim_requests.h"

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

bool CSimRequests::Handle(bool interfaceA, uint32_t code, const void* in, uint32_t inSize,
                          void* out, uint32_t outSize, uint32_t* error, bool* delivered) {
    if (_s._unplugged) {
        *error = kErrorNotConnected;
        return false;
    }
    if (InjectedFault(code, error)) return false;
    if ((in == nullptr && inSize != 0) || (out == nullptr && outSize != 0)) {
        *error = kErrorInvalidParameter;
        return false;
    }
    switch (DecodeOperation(interfaceA, code)) {
        case DriverOperation::kInitialize:
            return Initialize(in, inSize, error);
        case DriverOperation::kGetCalStatus:
            return GetCalStatus(interfaceA, out, outSize, error);
        case DriverOperation::kGetIfg:
            return GetIfg(out, outSize, error, delivered);
        case DriverOperation::kCalScan:
            return CalScan(interfaceA, in, inSize, out, outSize, error);
        case DriverOperation::kReadFiber:
            return ReadFiber(out, outSize, error);
        case DriverOperation::kWriteFiber:
            return WriteFiber(in, inSize, out, outSize, error);
        case DriverOperation::kWriteAux:
            return WriteAux(in, inSize, out, outSize, error);
        case DriverOperation::kUnknown:
            break;
    }
    *error = kErrorInvalidFunction;
    return false;
}

bool CSimRequests::InjectedFault(uint32_t code, uint32_t* error) {
    if (_s._fault.code == 0 || _s._fault.code != code) return false;
    if (_s._fault.after > 0) {
        --_s._fault.after;
        return false;
    }
    *error = _s._fault.error;
    if (_s._fault.times > 0 && --_s._fault.times == 0) _s._fault = SimFault{};
    return true;
}

bool CSimRequests::Initialize(const void* in, uint32_t inSize, uint32_t* error) {
    if (inSize < sizeof(initParms)) {
        *error = kErrorInvalidParameter;
        return false;
    }
    initParms parms;
    std::memcpy(&parms, in, sizeof(parms));
    _s._config.points = parms.respts;
    _s._config.gainCode = parms.gain;
    _s.UpdatePeriod();
    // New settings start a new sweep.
    _s._clock.Rearm(platform::QueryCounter());
    return true;
}

int16_t CSimRequests::ReportedBoardType(bool interfaceA, uint32_t calInfoSize) const {
    if (_s._boardTypePin != NADIXQ_SIM_ADAPTIVE_BOARD_TYPE)
        return static_cast<int16_t>(_s._boardTypePin);
    if (calInfoSize >= sizeof(calInfo72)) return interfaceA ? kTypeDualA : kTypeDualB;
    return interfaceA ? kTypeSingleA : kTypeSingleB;
}

void CSimRequests::FillCalInfo(bool interfaceA, void* out, uint32_t outSize) const {
    // Offset 54 of the short form has no meaning; a pinned type still shows
    // there, so that a test can see it is ignored.
    const int16_t unused = _s._boardTypePin == NADIXQ_SIM_ADAPTIVE_BOARD_TYPE
                               ? 0
                               : static_cast<int16_t>(_s._boardTypePin);
    WriteCalInfo(_s._calibration, ReportedBoardType(interfaceA, outSize), unused, out, outSize);
}

bool CSimRequests::CalScan(bool interfaceA, const void* in, uint32_t inSize, void* out,
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
    if (parms.gain == 0xFFFF) parms.gain = static_cast<uint16_t>(_s._config.gainCode);
    if (parms.eos_polarity == 0xFFFF) parms.eos_polarity = kDefaultEosPolarity;
    std::memset(parms.padding, 0, sizeof(parms.padding));

    // A good calibration re-locks the sweep: the burst lands within a few
    // samples of its nominal place, reproducibly for a given seed. A failed
    // one leaves the sweep, and so the burst, where it was.
    ++_s._calibrations;
    if (_s._calibrationError == 0) {
        const uint64_t draw = Mix(_s._seed * 0x100000001B3ull + _s._calibrations);
        const int jitter = static_cast<int>(draw % (2 * kImaxJitter + 1)) - kImaxJitter;
        _s._config.imaxPos = kNominalImaxPos + jitter;
    }
    _s._config.dual = outSize >= sizeof(calInfo72);
    _s._generator.Configure(_s._config);

    SimCalibration c;
    c.parms = parms;
    c.errorvalue = _s._calibrationError;
    c.imaxPos = static_cast<int16_t>(_s._config.imaxPos);
    c.datastart = static_cast<int16_t>(_s._config.imaxPos - 256);
    const double* noiseless = _s._generator.NoiselessLow();
    int imaxNeg = 0;
    double maxPos = noiseless[0];
    double maxNeg = noiseless[0];
    for (int i = 1; i < _s._generator.Extent(); ++i) {
        if (noiseless[i] > maxPos) maxPos = noiseless[i];
        if (noiseless[i] < maxNeg) {
            maxNeg = noiseless[i];
            imaxNeg = i;
        }
    }
    c.maxPos = Saturate16(maxPos);
    c.maxNeg = Saturate16(maxNeg);
    c.imaxNeg = static_cast<int16_t>(imaxNeg);
    for (int i = 0; i < 15; ++i) c.zpdRegion[i] = Saturate16(noiseless[_s._config.imaxPos - 7 + i]);
    _s._calibration = c;

    std::memset(out, 0, outSize);
    FillCalInfo(interfaceA, out, outSize);
    _s._clock.Rearm(platform::QueryCounter());
    return true;
}

bool CSimRequests::GetCalStatus(bool interfaceA, void* out, uint32_t outSize, uint32_t* error) {
    if (outSize < sizeof(calInfo56)) {
        *error = kErrorInsufficientBuffer;
        return false;
    }
    FillCalInfo(interfaceA, out, outSize);
    return true;
}

bool CSimRequests::GetIfg(void* out, uint32_t outSize, uint32_t* error, bool* delivered) {
    if (outSize < sizeof(SingleTransfer)) {
        *error = kErrorInsufficientBuffer;
        return false;
    }
    const bool dual = outSize >= sizeof(DualTransfer);
    _s._config.dual = dual;
    _s._generator.Configure(_s._config);

    const int64_t now = platform::QueryCounter();
    const int64_t idle = static_cast<int64_t>(
        kIdleGraceSeconds * static_cast<double>(platform::QueryCounterFrequency()));
    uint32_t status = 0;  // not ready: the mirror is still sweeping
    if (_s._clock.Poll(now, idle)) {
        if (_s._errorAtScan > 0 && --_s._errorAtScan == 0) {
            // The scan is lost; the board reports the failure once and sweeps on.
            status = I_ERROR;
            ++_s._errorCount;
        } else {
            _s._generator.Render(_s._noise, _s._noiseSigma, _s._lastLow.get(),
                                 dual ? _s._lastHigh.get() : nullptr);
            ++_s._scanCount;
            _s._haveTransfer = true;
            _s._lastWasDual = dual;
            status = I_COMPLETE;
            *delivered = true;
        }
    }

    istate header = {};
    header.ifg_complete = status;
    header.ram_start = kRamStart;
    header.scan_num = static_cast<uint16_t>(_s._scanCount);
    const int64_t frequency =
        platform::QueryCounterFrequency() > 0 ? platform::QueryCounterFrequency() : 1;
    const double periodSeconds =
        static_cast<double>(_s._clock.Period()) / static_cast<double>(frequency);
    // ms per scan, as a 16-bit counter would hold it; us per scan.
    header.time_count = static_cast<uint16_t>(static_cast<uint32_t>(periodSeconds * 1e3) & 0xFFFFu);
    header.ram_end = kRamStart + 2u * static_cast<uint32_t>(_s._generator.Extent());
    header.pts = _s._config.points;
    header.tttt = static_cast<uint32_t>(std::min(periodSeconds * 1e6, 4294967295.0));
    header.safe = kSafeWord;
    header.err_cnt = _s._errorCount;
    header.err_adr = 0;

    // The transfer always carries the board's sample memory, which holds the
    // newest scan; only ifg_complete says whether it is new.
    auto* bytes = static_cast<uint8_t*>(out);
    std::memcpy(bytes, &header, sizeof(header));
    std::memcpy(bytes + offsetof(DualTransfer, low), _s._lastLow.get(),
                sizeof(int16_t) * kChannelSamples);
    if (dual) {
        std::memcpy(bytes + offsetof(DualTransfer, high), _s._lastHigh.get(),
                    sizeof(int16_t) * kChannelSamples);
    }
    if (outSize > (dual ? sizeof(DualTransfer) : sizeof(SingleTransfer))) {
        const uint32_t used = dual ? sizeof(DualTransfer) : sizeof(SingleTransfer);
        std::memset(bytes + used, 0, outSize - used);
    }
    return true;
}

bool CSimRequests::WriteAux(const void* in, uint32_t inSize, void* out, uint32_t outSize,
                            uint32_t* error) {
    if (inSize < sizeof(uint16_t)) {
        *error = kErrorInvalidParameter;
        return false;
    }
    std::memcpy(&_s._auxState, in, sizeof(_s._auxState));
    // The reply is the state the outputs now drive.
    if (outSize >= sizeof(uint16_t)) std::memcpy(out, &_s._auxState, sizeof(_s._auxState));
    return true;
}

bool CSimRequests::WriteFiber(const void* in, uint32_t inSize, void* out, uint32_t outSize,
                              uint32_t* error) {
    if (inSize < sizeof(FiberRequest)) {
        *error = kErrorInvalidParameter;
        return false;
    }
    FiberRequest request;
    std::memcpy(&request, in, sizeof(request));
    std::memcpy(_s._fiberFrames, request.frames, sizeof(_s._fiberFrames));
    const uint16_t status = 0;  // the link took the frame
    if (outSize >= sizeof(status)) std::memcpy(out, &status, sizeof(status));
    return true;
}

bool CSimRequests::ReadFiber(void* out, uint32_t outSize, uint32_t* error) {
    if (outSize < sizeof(FiberReply)) {
        *error = kErrorInsufficientBuffer;
        return false;
    }
    // The far end of the link echoes the last frame written to it.
    FiberReply reply = {};
    reply.status = 0;
    std::memcpy(reply.frames, _s._fiberFrames, sizeof(reply.frames));
    std::memcpy(out, &reply, sizeof(reply));
    return true;
}

}  // namespace nadixq::sim
