#include "device/nadix_device.h"

#include <algorithm>
#include <ctime>

#include "diagnostics/log_file.h"

namespace nadixq {

CNadixDevice::CNadixDevice() : _handle(InvalidDeviceHandle()) {}

CNadixDevice::~CNadixDevice() = default;

int32_t CNadixDevice::Open() {
    uint32_t error = 0;
    _handle = OpenDeviceInterface(_interfaceGuid, 0, &error);
    if (error == 0 && IsValidDeviceHandle(_handle)) {
        if (_verbose) TheLog().Write("CNadixDevice::Open OK");
        return 0;
    }
    if (_verbose) TheLog().Write("CNadixDevice::Open: ERROR= %u", error);
    if (IsValidDeviceHandle(_handle)) CloseDevice(_handle);
    _handle = InvalidDeviceHandle();
    return static_cast<int32_t>(platform::kErrorOpenFailed);
}

int32_t CNadixDevice::Close() {
    if (IsValidDeviceHandle(_handle)) CloseDevice(_handle);
    _handle = InvalidDeviceHandle();
    if (_verbose) TheLog().Write("CNadixDevice::Close");
    return 0;
}

int32_t CNadixDevice::WriteFiber(const uint32_t*, uint16_t*) {
    return NADIXQ_NOT_IMPLEMENTED;
}

int32_t CNadixDevice::ReadFiber(uint32_t*, uint16_t*) {
    return NADIXQ_NOT_IMPLEMENTED;
}

int32_t CNadixDevice::GetFiberFrame(uint32_t*, int32_t) {
    return NADIXQ_NOT_IMPLEMENTED;
}

int32_t CNadixDevice::WriteAux(uint16_t, uint16_t, uint16_t*) {
    return NADIXQ_NOT_IMPLEMENTED;
}

bool CNadixDevice::SendAuxWord(uint32_t code, const char* family, uint16_t data, uint16_t mask,
                               uint16_t* reply) {
    if (_verbose) {
        TheLog().Write("%s::WriteAux data= 0x%X mask= 0x%X state=0x%X", family,
                       static_cast<unsigned>(data), static_cast<unsigned>(mask),
                       static_cast<unsigned>(_auxState));
    }
    _auxState = static_cast<uint16_t>((_auxState & ~mask) | (data & mask));
    if (_verbose) {
        TheLog().Write("%s::WriteAux writing 0x%X", family, static_cast<unsigned>(_auxState));
    }
    uint16_t word = _auxState;
    uint16_t answer = 0;
    if (!DeviceControl(_handle, code, &word, sizeof word, &answer, sizeof answer)) return false;
    if (reply != nullptr) *reply = answer;
    return true;
}

double* CNadixDevice::GetDataBuffer() {
    return _data;
}

bool CNadixDevice::IsOpen() {
    return IsValidDeviceHandle(_handle);
}

int32_t CNadixDevice::GetImaxPos() {
    return _imaxPos.load(std::memory_order_relaxed);
}

// A window that fits the channel also fits the result array it is summed into.
static_assert(kChannelSamples <= NADIXQ_MAX_POINTS);

CNadixDevice::CoaddWindow CNadixDevice::CoaddWindowFor(int32_t requestedPoints) const {
    const int32_t count = std::clamp<int32_t>(requestedPoints, 0, kChannelSamples);
    // Widened: the burst index is any int32 here, and the lead-in must not wrap it.
    const int64_t burstStart = int64_t{_imaxPos.load(std::memory_order_relaxed)} - kBurstLeadIn;
    const int64_t start = std::clamp<int64_t>(burstStart, 0, kChannelSamples - count);
    return {static_cast<int32_t>(start), count};
}

initParms CNadixDevice::InitRequest(int32_t pts, double gainMultiple) {
    initParms parms = {};
    parms.respts = static_cast<uint16_t>(pts & 0xFFFF);
    parms.gain = static_cast<uint16_t>(GainCode(gainMultiple));
    parms.option = 64;
    return parms;
}

calParms CNadixDevice::CalRequest() {
    constexpr uint16_t kDriverDefault = 0xFFFF;
    calParms parms = {};
    parms.time = static_cast<uint32_t>(std::time(nullptr));
    parms.cal_scan_length = kDriverDefault;
    parms.gain = kDriverDefault;
    parms.eos_polarity = kDriverDefault;
    return parms;
}

int32_t GainCode(double gainMultiple) {
    if (gainMultiple == 1.0) return 7;
    if (gainMultiple == 2.0) return 6;
    if (gainMultiple == 4.0) return 5;
    return 7;
}

}  // namespace nadixq
