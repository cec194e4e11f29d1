#include "device/dual_adc.h"

#include <cstddef>
#include <cstring>
#include <new>

#include "device/istate_dump.h"
#include "diagnostics/debug_trace.h"
#include "diagnostics/log_file.h"

namespace nadixq {
namespace {

// A board type above this is newer than the library knows; it is accepted
// without a check and not stored.
constexpr int32_t kHighestKnownBoardType = 13;

int32_t ClampPoints(int32_t pts) {
    if (pts < 0) return 0;
    return pts > kChannelSamples ? kChannelSamples : pts;
}

}  // namespace

CDualADC::CDualADC(const platform::Guid& interfaceGuid, const DriverCodes& codes,
                   int32_t extendedCaps)
    : _istate(new (std::nothrow) DualTransfer()), _extendedCaps(extendedCaps), _codes(codes) {
    CDualADC::ClearCoadd();
    _interfaceGuid = interfaceGuid;
}

CDualADC::~CDualADC() = default;

const int16_t* CDualADC::LowChannel() const {
    // The channels sit at even offsets of a heap block, so they are aligned
    // for int16 even though the record is packed.
    return reinterpret_cast<const int16_t*>(reinterpret_cast<const uint8_t*>(_istate.get()) +
                                            offsetof(DualTransfer, low));
}

const int16_t* CDualADC::HighChannel() const {
    return reinterpret_cast<const int16_t*>(reinterpret_cast<const uint8_t*>(_istate.get()) +
                                            offsetof(DualTransfer, high));
}

int32_t CDualADC::Initialize(int32_t pts, double gainMultiple) {
    if (!IsOpen()) return 1;
    // The count stays set even when the board refuses it: the co-add and the
    // merge then work on what the host asked for, within the channel.
    _pts.store(pts, std::memory_order_relaxed);
    const initParms parms = InitRequest(pts, gainMultiple);
    if (_verbose) {
        TheLog().Write("KORAVEL: DualADC::Initialize: respts= %d; gainMultiple= %f; gain= %d",
                       static_cast<int>(parms.respts), gainMultiple, static_cast<int>(parms.gain));
    }
    if (DeviceControl(_handle, _codes.initialize, &parms, sizeof parms, nullptr, 0)) return 0;
    const uint32_t error = platform::LastError();
    return error != 0 ? static_cast<int32_t>(error) : 1;
}

int32_t CDualADC::CalScan() {
    DebugTrace("Nadix DualADC::CalScan\n");
    if (!IsOpen()) return 1;

    const calParms parms = CalRequest();
    // Zeroed so that fields an old driver does not fill read as 0.
    calInfo72 info;
    std::memset(&info, 0, sizeof info);
    if (!DeviceControl(_handle, _codes.calScan, &parms, sizeof parms, &info, sizeof info)) {
        return 1;
    }

    if (info.errorvalue != 0) {
        // A driver too old to report the board type cannot calibrate this
        // library's boards either; say which of the two it is.
        if (info.board_type == 0) DebugTrace("Nadix DualADC::CalScan SE_DRIVER_OUTOFDATE\n");
        return NADIXQ_DUAL_CALIBRATION_FAILED;
    }

    // The type is stored before it is tested, so a board is checked once per
    // object: a second CalScan after a mismatch goes through.
    const int32_t boardType = info.board_type;
    if (_boardType == -1 && boardType <= kHighestKnownBoardType) {
        _boardType = boardType;
        if (!AcceptsBoardType(boardType)) {
            DebugTrace("Nadix DualADC::CalScan SE_DRIVER_BOARD_MISMATCH\n");
            return NADIXQ_DUAL_BOARD_MISMATCH;
        }
    }

    // A new calibration may move the burst and the clipping: the next merge
    // finds its limits again.
    _recomputeLimits.store(1, std::memory_order_relaxed);
    _imaxPos.store(info.imax_pos, std::memory_order_relaxed);
    DebugTrace("Nadix DualADC::CalScan OK\n");
    return 0;
}

int32_t CDualADC::GetIFG(int32_t* status) {
    int32_t ignored = 0;
    if (status == nullptr) status = &ignored;
    *status = static_cast<int32_t>(I_ERROR);

    // One non-blocking request: the scan thread's 5 ms polling is the wait.
    if (!DeviceControl(_handle, _codes.getIfg, nullptr, 0, _istate.get(), sizeof(DualTransfer))) {
        const uint32_t error = platform::LastError();
        const istate& header = _istate->header;
        CLogFile& log = TheLog();
        log.Write("dualADC.GetIFG: error: DeviceIoControl returned False");
        log.Write("last error = %d", static_cast<int>(error));
        WriteIstateDump(log, header);
        return 1;
    }

    const uint32_t complete = _istate->header.ifg_complete;
    *status = static_cast<int32_t>(complete);
    if (complete == I_COMPLETE) {
        if (_verbose) TheLog().Write("KORAVEL: DualADC::GetIFG: I_COMPLETE");
        Coadd();
    } else if (complete == I_ERROR) {
        TheLog().Write("dualADC.GetIFG: error %d", static_cast<int>(complete));
    }
    return 0;
}

int32_t CDualADC::GetCalStatus(int32_t* callOk) {
    // The reply is read by nobody; the request only tells whether the driver
    // still answers.
    calInfo72 info;
    std::memset(&info, 0, sizeof info);
    const bool ok = DeviceControl(_handle, _codes.getCalStatus, nullptr, 0, &info, sizeof info);
    if (callOk != nullptr) *callOk = ok ? 1 : 0;
    return ok ? 0 : 1;
}

int32_t CDualADC::Coadd() {
    const int32_t requested = _pts.load(std::memory_order_relaxed);
    const CoaddWindow window = CoaddWindowFor(requested);
    if (_verbose) {
        TheLog().Write("KORAVEL: DualADC::Coadd: pts= %d; startIndex= %d", requested, window.start);
    }
    const int16_t* high = HighChannel() + window.start;
    const int16_t* low = LowChannel() + window.start;
    for (int32_t i = 0; i < window.count; ++i) {
        _highSum[i] += static_cast<double>(high[i]);
        _lowSum[i] += static_cast<double>(low[i]);
    }
    return 0;
}

int32_t CDualADC::GetCapabilities(int32_t* caps) {
    if (caps != nullptr) *caps = _extendedCaps != 0 ? 4 : 2;
    return 0;
}

void CDualADC::ClearCoadd() {
    std::memset(_data, 0, sizeof _data);
    std::memset(_highSum, 0, sizeof _highSum);
    std::memset(_lowSum, 0, sizeof _lowSum);
}

int16_t* CDualADC::GetRawIFG(int32_t channel) {
    if (!_istate) return nullptr;
    return const_cast<int16_t*>(channel != 0 ? HighChannel() : LowChannel());
}

void CDualADC::PrepareData(int32_t scansDone) {
    const int32_t requested = _pts.load(std::memory_order_relaxed);
    const int32_t pts = ClampPoints(requested);
    if (_verbose) {
        TheLog().Write("KORAVEL: DualADC::PrepareData: pts= %d; scansDone= %d", requested,
                       scansDone);
    }
    if (scansDone <= 0) {
        // No scan, no mean: a zero file rather than one of NaN. The limits
        // stay due for the next real file.
        std::memset(_data, 0, sizeof(double) * static_cast<size_t>(pts));
        return;
    }
    // Taken before the merge rather than cleared after it, so that a CalScan
    // on the host's thread while this file is merged still marks the next one.
    const int32_t findLimits = _recomputeLimits.exchange(0, std::memory_order_relaxed);
    CombineHighLow(_highSum, _lowSum, _data, pts, scansDone, findLimits);
    const double reciprocal = 1.0 / scansDone;
    for (int32_t i = 0; i < pts; ++i) _data[i] *= reciprocal;
}

void CDualADC::CombineHighLow(double* high, const double* low, double* out, int32_t pts,
                              int32_t scount, int32_t findLimits) {
    Combiner().CombineHighLow(high, low, out, pts, scount, findLimits, _verbose != 0);
}

int32_t CDualADC::GetFiberFrame(uint32_t frames[16], int32_t) {
    if (frames != nullptr) std::memcpy(frames, _fiberFrames, sizeof _fiberFrames);
    return 0;
}

int32_t CDualADC::WriteAux(uint16_t data, uint16_t mask, uint16_t* reply) {
    return SendAuxWord(_codes.writeAux, "DualAdc", data, mask, reply) ? 0 : 1;
}

// ------------------------------------------------------------------ model 3 --

DualADC3::DualADC3() : CDualADCModel(GUID_ACQ_INTERFACE_A, kInterfaceACodes, 1) {}

bool DualADC3::AcceptsBoardType(int32_t boardType) const {
    return boardType == 10 || boardType == 11;
}

int32_t DualADC3::WriteFiber(const uint32_t frames[16], uint16_t* status) {
    if (frames == nullptr) return kNullPointerResult;
    if (_verbose) {
        CLogFile& log = TheLog();
        log.Write("PCI_Dual::WriteFiber");
        for (int i = 0; i < 16; ++i) {
            log.Write("  frame[%d] = 0x%X", i, static_cast<unsigned>(frames[i]));
        }
    }
    FiberRequest request;
    std::memset(&request, 0, sizeof request);
    std::memcpy(reinterpret_cast<uint8_t*>(&request) + offsetof(FiberRequest, frames), frames,
                sizeof _fiberFrames);
    // The cache follows what was sent, whether or not the link takes it.
    std::memcpy(_fiberFrames, frames, sizeof _fiberFrames);
    uint16_t answer = 0;
    if (!DeviceControl(_handle, _codes.writeFiber, &request, sizeof request, &answer,
                       sizeof answer)) {
        return NADIXQ_TRANSFER_FAILED;
    }
    if (status != nullptr) *status = answer;
    return 0;
}

int32_t DualADC3::ReadFiber(uint32_t frames[16], uint16_t* status) {
    if (frames == nullptr) return kNullPointerResult;
    const uint16_t nothing = 0;
    FiberReply reply;
    std::memset(&reply, 0, sizeof reply);
    if (!DeviceControl(_handle, _codes.readFiber, &nothing, sizeof nothing, &reply, sizeof reply)) {
        return NADIXQ_TRANSFER_FAILED;
    }
    if (status != nullptr) *status = reply.status;
    std::memcpy(frames, reinterpret_cast<const uint8_t*>(&reply) + offsetof(FiberReply, frames),
                sizeof _fiberFrames);
    std::memcpy(_fiberFrames, frames, sizeof _fiberFrames);
    if (_verbose) {
        CLogFile& log = TheLog();
        log.Write("PCI_Dual::ReadFiber\n");
        for (int i = 0; i < 16; ++i) {
            log.Write("  frame[%d] = 0x%X", i, static_cast<unsigned>(frames[i]));
        }
    }
    return 0;
}

// ------------------------------------------------------------------ model 4 --

DualADC4::DualADC4() : CDualADCModel(GUID_ACQ_INTERFACE_B, kInterfaceBCodes, 0) {}

bool DualADC4::AcceptsBoardType(int32_t boardType) const {
    return boardType == 12;
}

// ------------------------------------------------------------------ factory --

namespace {

template <typename Board>
CNadixDevice* CreateDualBoard() {
    auto* board = new (std::nothrow) Board();
    if (board != nullptr && !board->HasTransferBuffer()) {
        delete board;
        return nullptr;
    }
    return board;
}

}  // namespace

CNadixDevice* CreateDualADC3() {
    return CreateDualBoard<DualADC3>();
}
CNadixDevice* CreateDualADC4() {
    return CreateDualBoard<DualADC4>();
}

}  // namespace nadixq
