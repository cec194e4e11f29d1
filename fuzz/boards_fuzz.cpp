// The five board classes fed hostile driver replies through the driver
// registry: calibration records with centre-burst indices near, at and past
// both ends of the channel, short replies, failed requests with any error,
// transfers with any status word and point count, and any point count, scan
// count and gain from the host. Contracts: results are the documented ones
// of each family, a failed transfer reports I_ERROR, a finished file stays
// finite, the members after the result array keep their values (an
// overrun of it would not leave the object), and the sanitizers see no access
// outside the transfer buffer or the object.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>

#include "device/nadix_device.h"
#include "diagnostics/log_file.h"
#include "fuzz_input.h"
#include "hostile_driver.h"

using nadixq::CNadixDevice;
using nadixq::fuzz::FuzzInput;
using nadixq::fuzz::HostileDriver;

namespace {

constexpr uint32_t kNotImplemented = static_cast<uint32_t>(NADIXQ_NOT_IMPLEMENTED);
constexpr uint32_t kIoDevice = static_cast<uint32_t>(NADIXQ_TRANSFER_FAILED);

bool IsDual(int model) {
    return model == 3 || model == 4;
}

bool CalibrationResultOk(int model, uint32_t result) {
    const auto code = static_cast<int32_t>(result);
    if (code == NADIXQ_OK || code == NADIXQ_REFUSED) return true;
    if (IsDual(model))
        return code == NADIXQ_DUAL_CALIBRATION_FAILED || code == NADIXQ_DUAL_BOARD_MISMATCH;
    return code == NADIXQ_CALIBRATION_FAILED || code == NADIXQ_BOARD_MISMATCH ||
           code == NADIXQ_CALIBRATION_ERROR_1 || code == NADIXQ_CALIBRATION_ERROR_2 ||
           code == NADIXQ_CALIBRATION_ERROR_3 || code == NADIXQ_DRIVER_OUT_OF_DATE;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Error dumps are formatted as always, then refused by the log (not a
    // regular file) without touching the disk.
    nadixq::CLogFile& log = nadixq::TheLog();
    std::strncpy(log._fileName, "/dev/null", sizeof log._fileName - 1);
    log._echoToDebugger = 0;
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    HostileDriver driver;
    const int model = input.U8() % 7;  // 0 and 6 name no board
    const uint8_t flags = input.U8();
    std::unique_ptr<CNadixDevice> device(nadixq::CreateDevice(model));
    if (!device) return 0;
    device->_verbose = flags & 1;
    const uint32_t openError = (flags & 2) != 0 ? input.U32() : 0;
    driver.SetOpenError(openError);
    const int32_t opened = device->Open();
    NADIXQ_FUZZ_CHECK(
        opened == (openError == 0 ? 0 : static_cast<int32_t>(nadixq::platform::kErrorOpenFailed)));
    const nadixq::platform::Guid guid = device->_interfaceGuid;

    for (int step = 0; step < 48 && !input.Empty(); ++step) {
        const int operation = input.U8() % 12;
        driver.ReadAnswer(input);
        const int32_t boardType = device->_boardType;
        const int32_t points = device->GetPoints();
        switch (operation) {
            case 0: {
                const int32_t pts = input.I32();
                const double gain = input.F64();
                const uint32_t result = static_cast<uint32_t>(device->Initialize(pts, gain));
                if (!IsDual(model)) {
                    NADIXQ_FUZZ_CHECK(result == 0 || result == 1 || (result >> 16) == 0x8007u);
                }
                break;
            }
            case 1: {
                const uint32_t result = static_cast<uint32_t>(device->CalScan());
                NADIXQ_FUZZ_CHECK(CalibrationResultOk(model, result));
                break;
            }
            case 2: {
                int32_t status = -1;
                const uint32_t result = static_cast<uint32_t>(device->GetIFG(&status));
                NADIXQ_FUZZ_CHECK(result == 0 || result == (IsDual(model) ? 1u : kIoDevice));
                if (result != 0) NADIXQ_FUZZ_CHECK(status == static_cast<int32_t>(nadixq::I_ERROR));
                break;
            }
            case 3: {
                int32_t callOk = -1;
                const int32_t result = device->GetCalStatus(&callOk);
                NADIXQ_FUZZ_CHECK((result == 0 && callOk == 1) || (result == 1 && callOk == 0));
                break;
            }
            case 4:
                device->ClearCoadd();
                break;
            case 5:
                device->PrepareData(input.I32());
                break;
            case 6: {
                const uint16_t word = input.U16();
                const uint16_t mask = input.U16();
                uint16_t reply = 0;
                const uint32_t result = static_cast<uint32_t>(device->WriteAux(word, mask, &reply));
                NADIXQ_FUZZ_CHECK(result == 0 || result == (IsDual(model) ? 1u : kIoDevice));
                break;
            }
            case 7:
            case 8: {
                uint32_t frames[16];
                for (uint32_t& frame : frames) frame = input.U32();
                uint16_t status = 0;
                const uint32_t result =
                    static_cast<uint32_t>(operation == 7 ? device->ReadFiber(frames, &status)
                                                         : device->WriteFiber(frames, &status));
                NADIXQ_FUZZ_CHECK(result == 0 || result == kIoDevice || result == kNotImplemented);
                NADIXQ_FUZZ_CHECK(model == 3 || result == kNotImplemented);
                break;
            }
            case 9: {
                int32_t caps = -1;
                NADIXQ_FUZZ_CHECK(device->GetCapabilities(&caps) == 0);
                NADIXQ_FUZZ_CHECK(caps == (model == 3 ? 4 : 2));
                break;
            }
            case 10: {
                // The raw channel is a whole transfer's worth of samples.
                const int16_t* raw = device->GetRawIFG(input.I32());
                if (raw != nullptr) {
                    volatile int16_t edges =
                        static_cast<int16_t>(raw[0] + raw[nadixq::kChannelSamples - 1]);
                    (void)edges;
                }
                break;
            }
            default:
                device->Coadd();
                break;
        }
        if (operation != 1) NADIXQ_FUZZ_CHECK(device->_boardType == boardType);
        if (operation != 0) NADIXQ_FUZZ_CHECK(device->GetPoints() == points);
        NADIXQ_FUZZ_CHECK(std::memcmp(&device->_interfaceGuid, &guid, sizeof guid) == 0);
        if (operation == 5) {
            const double* result = device->GetDataBuffer();
            for (int i = 0; i < NADIXQ_MAX_POINTS; ++i) NADIXQ_FUZZ_CHECK(std::isfinite(result[i]));
        }
    }
    device->Close();
    return 0;
}
