#include "device/single_adc.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include "device/istate_dump.h"
#include "diagnostics/log_file.h"

namespace nadixq {

namespace {

constexpr SingleAdcVariant Variant(int32_t modelId, const platform::Guid& interfaceGuid,
                                   const DriverCodes& codes, SingleCalForm calForm,
                                   int32_t requiredBoardType) {
    SingleAdcVariant variant{};
    variant.modelId = modelId;
    variant.interfaceGuid = interfaceGuid;
    variant.codes = codes;
    variant.calForm = calForm;
    variant.requiredBoardType = requiredBoardType;
    return variant;
}

}  // namespace

const SingleAdcVariant kSingleADC1Variant =
    Variant(/*modelId=*/1, GUID_ACQ_INTERFACE_A, kInterfaceACodes, SingleCalForm::kLong60,
            /*requiredBoardType=*/9);
const SingleAdcVariant kSingleADC2Variant =
    Variant(/*modelId=*/2, GUID_ACQ_INTERFACE_B, kInterfaceBCodes, SingleCalForm::kLong60,
            /*requiredBoardType=*/13);
const SingleAdcVariant kSingleADC5Variant =
    Variant(/*modelId=*/5, GUID_ACQ_INTERFACE_B, kInterfaceBCodes, SingleCalForm::kShort56,
            /*requiredBoardType=*/0);

namespace {

// The calibration record of either form, widened to one shape so that the
// checks and the dump are written once.
struct CalRecord {
    calParms parms;
    // The 16-bit form's signed value is sign-extended: a negative code then
    // counts as "another value", and prints as the driver's bits widened.
    uint32_t errorvalue;
    int16_t max_pos;
    int16_t max_neg;
    int16_t imax_pos;
    int16_t imax_neg;
    int16_t datastart;
    int16_t zpd_region[15];
    int16_t board_type;
};

template <typename Record>
CalRecord Widen(const Record& info, uint32_t errorvalue, int16_t boardType) {
    CalRecord record{};
    record.parms = info.parms;
    record.errorvalue = errorvalue;
    record.max_pos = info.max_pos;
    record.max_neg = info.max_neg;
    record.imax_pos = info.imax_pos;
    record.imax_neg = info.imax_neg;
    record.datastart = info.datastart;
    // Packed fields bind to no reference; their bytes are copied instead.
    std::memcpy(record.zpd_region, info.zpd_region, sizeof record.zpd_region);
    record.board_type = boardType;
    return record;
}

// The driver's reply buffer for either form. CalScan zero-fills it, so a
// field that the driver leaves alone reads as 0.
union CalReply {
    calInfo60 long60;
    calInfo56 short56;
};

uint32_t CalReplySize(SingleCalForm form) {
    return form == SingleCalForm::kLong60 ? kCalInfoSingleSize : kCalInfoSingle5Size;
}

CalRecord ReadCalReply(const CalReply& reply, SingleCalForm form) {
    if (form == SingleCalForm::kLong60) {
        return Widen(reply.long60, reply.long60.errorvalue, reply.long60.board_type);
    }
    uint32_t errorvalue = static_cast<uint32_t>(static_cast<int32_t>(reply.short56.errorvalue));
    return Widen(reply.short56, errorvalue, 0);
}

// Written whatever _verbose says: a failed calibration is always worth a record.
void DumpCalInfo(const CalRecord& info) {
    CLogFile& log = TheLog();
    log.Write("calInfo.errorvalue= %u", static_cast<unsigned>(info.errorvalue));
    log.Write("calInfo.calParms.time= %lu", static_cast<unsigned long>(info.parms.time));
    log.Write("calInfo.calParms.cal_scan_length= %u",
              static_cast<unsigned>(info.parms.cal_scan_length));
    log.Write("calInfo.calParms.gain= %u", static_cast<unsigned>(info.parms.gain));
    log.Write("calInfo.calParms.eos_polarity= %u", static_cast<unsigned>(info.parms.eos_polarity));
    log.Write("calInfo.max_pos= %d", static_cast<int>(info.max_pos));
    log.Write("calInfo.max_neg= %d", static_cast<int>(info.max_neg));
    log.Write("calInfo.imax_pos= %d", static_cast<int>(info.imax_pos));
    log.Write("calInfo.imax_neg= %d", static_cast<int>(info.imax_neg));
    log.Write("calInfo.datastart= %d", static_cast<int>(info.datastart));
    for (int i = 0; i < 15; ++i) {
        log.Write("calInfo.zpd_region[%d]= %d  ", i, static_cast<int>(info.zpd_region[i]));
    }
}

}  // namespace

SingleADC::SingleADC(const SingleAdcVariant& variant) : _variant(variant) {
    ClearCoadd();
    // Value-initialised: until the first transfer, a dump shows zeros rather
    // than whatever the heap held.
    _istate.reset(new (std::nothrow) SingleTransfer());
    _interfaceGuid = variant.interfaceGuid;
}

SingleADC::~SingleADC() = default;

int32_t SingleADC::Initialize(int32_t pts, double gainMultiple) {
    if (!IsOpen()) return 1;
    // Kept even when the request fails: it is the host's setting, and Coadd
    // and PrepareData bound themselves by it.
    _pts.store(pts, std::memory_order_relaxed);

    const initParms parms = InitRequest(pts, gainMultiple);
    if (DeviceControl(_handle, _variant.codes.initialize, &parms, sizeof parms, nullptr, 0)) {
        return 0;
    }
    uint32_t error = platform::LastError();
    if (error == 0) error = 1;  // a failure must never read as success
    return platform::SystemErrorResult(error);
}

int32_t SingleADC::CalScan() {
    if (_verbose) TheLog().Write("KORAVEL: SingleADC::CalScan");
    if (!IsOpen()) return 1;

    const calParms parms = CalRequest();
    CalReply reply;
    std::memset(&reply, 0, sizeof reply);
    if (!DeviceControl(_handle, _variant.codes.calScan, &parms, sizeof parms, &reply,
                       CalReplySize(_variant.calForm))) {
        return NADIXQ_CALIBRATION_FAILED;
    }

    const bool hasBoardType = _variant.calForm == SingleCalForm::kLong60;
    const CalRecord info = ReadCalReply(reply, _variant.calForm);
    if (info.errorvalue != 0) {
        DumpCalInfo(info);
        // A driver too old to report the board type reports its failures in
        // a way this library cannot trust either.
        if (hasBoardType && info.board_type == 0) return NADIXQ_DRIVER_OUT_OF_DATE;
        switch (info.errorvalue) {
            case 1:
                return NADIXQ_CALIBRATION_ERROR_1;
            case 2:
                return NADIXQ_CALIBRATION_ERROR_2;
            case 3:
                return NADIXQ_CALIBRATION_ERROR_3;
            default:
                return NADIXQ_CALIBRATION_FAILED;
        }
    }

    // The board type is checked once per object, on the first good
    // calibration that reports a known type (13 or less); a mismatch keeps
    // the reported type, so later calibrations pass.
    if (hasBoardType && _boardType == -1 && info.board_type <= 13) {
        _boardType = info.board_type;
        if (_boardType != _variant.requiredBoardType) return NADIXQ_BOARD_MISMATCH;
    }
    _imaxPos.store(info.imax_pos, std::memory_order_relaxed);
    return 0;
}

int32_t SingleADC::GetCalStatus(int32_t* callOk) {
    // The reply is discarded; only whether the driver answered matters.
    CalReply reply;
    const bool ok = DeviceControl(_handle, _variant.codes.getCalStatus, nullptr, 0, &reply,
                                  CalReplySize(_variant.calForm));
    if (callOk != nullptr) *callOk = ok ? 1 : 0;
    if (_verbose) TheLog().Write("KORAVEL: SingleADC::GetCalStatus: %d", ok ? 1 : 0);
    return ok ? 0 : 1;
}

int32_t SingleADC::GetIFG(int32_t* status) {
    int32_t unusedStatus = 0;
    if (status == nullptr) status = &unusedStatus;
    *status = static_cast<int32_t>(I_ERROR);
    // Without a transfer buffer there is nothing the driver could fill.
    if (!_istate) return NADIXQ_TRANSFER_FAILED;

    if (!DeviceControl(_handle, _variant.codes.getIfg, nullptr, 0, _istate.get(),
                       sizeof(SingleTransfer))) {
        // Taken before logging: writing the log may change it.
        const uint32_t lastError = platform::LastError();
        TheLog().Write("singleADC.GetIFG: error: DeviceIoControl returned False");
        DumpTransfer(lastError);
        return NADIXQ_TRANSFER_FAILED;
    }

    const uint32_t complete = _istate->header.ifg_complete;
    *status = static_cast<int32_t>(complete);
    if (complete == I_COMPLETE) {
        if (_verbose) TheLog().Write("KORAVEL: SingleADC::GetIFG: I_COMPLETE");
        Coadd();
        return 0;
    }
    if (complete == I_ERROR) {
        const uint32_t lastError = platform::LastError();
        TheLog().Write("singleADC.GetIFG: error");
        DumpTransfer(lastError);
        return NADIXQ_TRANSFER_FAILED;
    }
    return 0;  // not finished yet: the scan thread polls again
}

void SingleADC::DumpTransfer(uint32_t lastError) const {
    const istate& header = _istate->header;
    CLogFile& log = TheLog();
    log.Write("last error = %d", static_cast<int>(lastError));
    WriteIstateDump(log, header);
    // The eight samples around the centre burst; those outside the channel
    // (a burst near either end, or a hostile calibration) do not exist.
    const int64_t centre = _imaxPos.load(std::memory_order_relaxed);
    const int64_t first = std::max<int64_t>(centre - 4, 0);
    const int64_t last = std::min<int64_t>(centre + 3, kChannelSamples - 1);
    for (int64_t i = first; i <= last; ++i) {
        log.Write("\t(%d): %d", static_cast<int>(i), static_cast<int>(_istate->samples[i]));
    }
}

int32_t SingleADC::Coadd() {
    const int32_t pts = _pts.load(std::memory_order_relaxed);
    if (_istate) {
        const CoaddWindow window = CoaddWindowFor(pts);
        const int16_t* samples = _istate->samples + window.start;
        for (int32_t i = 0; i < window.count; ++i) _data[i] += static_cast<double>(samples[i]);
    }
    if (_verbose) TheLog().Write("Coadd %d", pts);
    return 0;
}

int32_t SingleADC::GetCapabilities(int32_t* caps) {
    if (caps != nullptr) *caps = 2;
    return 0;
}

void SingleADC::ClearCoadd() {
    std::fill(std::begin(_data), std::end(_data), 0.0);
}

int16_t* SingleADC::GetRawIFG(int32_t) {
    return _istate ? _istate->samples : nullptr;
}

void SingleADC::PrepareData(int32_t scansDone) {
    // Without a scan there is no mean; scaling by 1/0 would turn the sum into
    // infinities, so the sum is left as it is.
    if (scansDone <= 0) return;
    const double factor = 1.0 / scansDone;
    const int64_t count =
        std::clamp<int64_t>(_pts.load(std::memory_order_relaxed), 0, NADIXQ_MAX_POINTS);
    for (int64_t i = 0; i < count; ++i) _data[i] *= factor;
}

int32_t SingleADC::WriteAux(uint16_t data, uint16_t mask, uint16_t* reply) {
    return SendAuxWord(_variant.codes.writeAux, "SingleAdc", data, mask, reply)
               ? 0
               : NADIXQ_TRANSFER_FAILED;
}

CNadixDevice* CreateSingleADC1() {
    return new (std::nothrow) SingleADC1;
}
CNadixDevice* CreateSingleADC2() {
    return new (std::nothrow) SingleADC2;
}
CNadixDevice* CreateSingleADC5() {
    return new (std::nothrow) SingleADC5;
}

}  // namespace nadixq
