// Instrument and run calls: open and close the one instrument, pass
// initialization, calibration and the board's input and output through to the
// device, start and stop the scan thread and hand the host the latest file.
#include <cstdint>
#include <new>

#include "acquisition/run_counters.h"
#include "acquisition/scan_thread.h"
#include "device/nadix_device.h"
#include "diagnostics/debug_trace.h"
#include "interface/library_state.h"
#include "interface/nadixq.h"

using nadixq::CNadixDevice;
using nadixq::Counters;
using nadixq::CScanThread;
using nadixq::DebugTrace;
using nadixq::LibraryState;
using nadixq::RunCounters;
using nadixq::State;

namespace {

// True while the scan thread is acquiring: the board's point count and
// centre-burst index are then read on that thread and must not change. A run
// that has delivered its last file is waited for instead.
bool RunGoing(LibraryState& state) {
    CScanThread* scanThread = state._scanThread.load();
    return scanThread != nullptr && scanThread->IsAcquiring();
}

// The scan-thread object as a host thread that does not drive the instrument
// sees it: it stays valid while this lives, whatever close does meanwhile.
class ScanThreadReader {
  public:
    explicit ScanThreadReader(LibraryState& state)
        : _state(state),
          _ticket(state.scanThreadReaders.Enter()),
          _scanThread(state._scanThread.load()) {}
    ~ScanThreadReader() { _state.scanThreadReaders.Leave(_ticket); }
    ScanThreadReader(const ScanThreadReader&) = delete;
    ScanThreadReader& operator=(const ScanThreadReader&) = delete;

    CScanThread* Get() const { return _scanThread; }

  private:
    LibraryState& _state;
    const uint32_t _ticket;
    CScanThread* const _scanThread;
};

}  // namespace

extern "C" {

NADIXQ_API int NADIXQ_CALL spectrometer_open(int id) {
    LibraryState& state = State();
    RunCounters& counters = Counters();
    DebugTrace("nadixq open(id = %d)", id);
    if (state._device != nullptr) spectrometer_close();

    state._device = nadixq::CreateDevice(id);
    if (state._device == nullptr) return NADIXQ_NO_BOARD_CLASS;

    int32_t result = state._device->Open();
    DebugTrace("nadixq Open returned %d (0x%X)", result, static_cast<unsigned>(result));
    if (result != 0) {
        // The device stays attached, so that close still closes and frees it.
        DebugTrace("nadixq spectrometer_open returns %d (0x%X)", NADIXQ_OPEN_FAILED,
                   static_cast<unsigned>(NADIXQ_OPEN_FAILED));
        return NADIXQ_OPEN_FAILED;
    }

    auto* scanThread = new (std::nothrow) CScanThread();
    if (scanThread == nullptr) return NADIXQ_OUT_OF_MEMORY;
    scanThread->SetDevice(state._device);
    state._scanThread.store(scanThread);
    counters._status.store(nadixq::STATUS_READY);
    return 0;
}

NADIXQ_API int NADIXQ_CALL spectrometer_close(void) {
    LibraryState& state = State();
    DebugTrace("nadixq close");
    if (CScanThread* scanThread = state._scanThread.load()) {
        bool ended = false;
        if (scanThread->IsRunning()) {
            scanThread->Stop();  // waits for the thread itself whenever it can end
            ended = scanThread->HasEnded();
        } else {
            ended = scanThread->HasEnded(CScanThread::kStopWaitMs);
        }
        // From here no new reader can reach the object.
        state._scanThread.store(nullptr);
        if (!ended) {
            // A thread that could be neither stopped nor terminated still uses
            // the scan-thread object and the device: both are left in place
            // rather than freed under it.
            DebugTrace("nadixq close: scan thread did not end; leaving it and the device");
            state._device = nullptr;
            return 1;
        }
        // An open stream would otherwise be lost without its subfile count.
        if (scanThread->Stream().IsOpen()) scanThread->Stream().PatchAndClose();
        // A getData or getTimestamp that loaded the pointer before it was
        // cleared may still be copying from the object.
        state.scanThreadReaders.WaitForEarlierReaders();
        delete scanThread;
    }
    if (state._device != nullptr) {
        state._device->Close();
        delete state._device;
        state._device = nullptr;
    }
    return 1;
}

NADIXQ_API int NADIXQ_CALL spectrometer_initialize(void) {
    LibraryState& state = State();
    if (state._device == nullptr) return 1;
    DebugTrace("nadix initialize: _gain= %f; points= %d; resolution= %f", state._gain,
               state._points, state._resolution);
    if (RunGoing(state)) {
        DebugTrace("nadix initialize: refused while a run is going");
        return 1;
    }
    return state._device->Initialize(state._points, state._gain);
}

NADIXQ_API int NADIXQ_CALL spectrometer_calibrationScan(void) {
    LibraryState& state = State();
    DebugTrace("nadix calibrationScan");
    if (state._device == nullptr) return 1;
    if (RunGoing(state)) {
        DebugTrace("nadix calibrationScan: refused while a run is going");
        return 1;
    }
    return state._device->CalScan();
}

NADIXQ_API int NADIXQ_CALL spectrometer_getCapabilities(void) {
    LibraryState& state = State();
    DebugTrace("nadix getCapabilities");
    if (state._device == nullptr) return 0;
    int32_t caps = 0;
    state._device->GetCapabilities(&caps);
    return caps;
}

NADIXQ_API int NADIXQ_CALL spectrometer_startCoadd(void) {
    LibraryState& state = State();
    RunCounters& counters = Counters();
    DebugTrace("nadixq startCoadd");
    CScanThread* scanThread = state._scanThread.load();
    if (state._device == nullptr || scanThread == nullptr) return 1;
    if (state._scans <= 0) {
        // No scan loop would run, and a continuous run would then spin through
        // empty files without ever looking at its kill event.
        DebugTrace("nadixq startCoadd: refused, scans= %d", state._scans);
        return 1;
    }
    if (RunGoing(state)) {
        DebugTrace("nadixq startCoadd: refused while a run is going");
        return 1;
    }

    counters._scansComplete.store(0);
    counters.filesComplete.store(0);
    scanThread->SetCounts(state._scans, state._files > 0 ? state._files : 0);

    // Acquiring is announced before the thread exists: a run that ends at once
    // (a calibration-status error) then still leaves its final ready status.
    int32_t previous = counters._status.exchange(nadixq::STATUS_ACQUIRING);
    if (!scanThread->Start()) {
        counters._status.store(previous);
        return 1;
    }
    DebugTrace("startCoadd OK");
    return 0;
}

NADIXQ_API int NADIXQ_CALL spectrometer_stop(void) {
    LibraryState& state = State();
    DebugTrace("nadix stop");
    CScanThread* scanThread = state._scanThread.load();
    if (scanThread == nullptr || !scanThread->IsRunning()) return 1;
    scanThread->Stop();
    // Patching while a thread that could not be ended may still append would
    // corrupt the file; it is then left for close.
    if (scanThread->HasEnded() && scanThread->Stream().IsOpen()) {
        scanThread->Stream().PatchAndClose();
    }
    return 0;
}

NADIXQ_API int NADIXQ_CALL spectrometer_getData(double* data, int pts, double* timestamp) {
    int result = 1;
    {
        ScanThreadReader reader(State());
        CScanThread* scanThread = reader.Get();
        if (scanThread != nullptr && data != nullptr && timestamp != nullptr && pts >= 0 &&
            pts <= NADIXQ_MAX_POINTS) {
            result = scanThread->getData(data, pts, timestamp);
        }
    }
    DebugTrace("nadixq getData returns %d", result);
    return result;
}

NADIXQ_API double NADIXQ_CALL spectrometer_getTimestamp(void) {
    DebugTrace("nadixq getTimestamp");
    ScanThreadReader reader(State());
    CScanThread* scanThread = reader.Get();
    return scanThread == nullptr ? 0.0 : scanThread->GetTimestamp();
}

NADIXQ_API int NADIXQ_CALL spectrometer_writeFiber(unsigned int* frame) {
    CNadixDevice* device = State()._device;
    if (device == nullptr) return 0;
    if (frame == nullptr) return 1;
    uint16_t status = 0;
    return device->WriteFiber(frame, &status);
}

NADIXQ_API int NADIXQ_CALL spectrometer_readFiber(unsigned int* frame) {
    CNadixDevice* device = State()._device;
    if (device == nullptr) return 0;
    if (frame == nullptr) return 1;
    uint16_t status = 0;
    return device->ReadFiber(frame, &status);
}

NADIXQ_API int NADIXQ_CALL spectrometer_writeAux(unsigned short data, unsigned short mask) {
    CNadixDevice* device = State()._device;
    if (device == nullptr) return 0;
    uint16_t reply = 0;
    return device->WriteAux(data, mask, &reply);
}

}  // extern "C"
