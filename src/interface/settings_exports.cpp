// Settings, event handles, status and progress: these only store or report the
// library-wide state.
#include <cstdint>

#include "acquisition/run_counters.h"
#include "acquisition/scan_buffer.h"
#include "diagnostics/debug_trace.h"
#include "interface/library_state.h"
#include "interface/nadixq.h"

using nadixq::Counters;
using nadixq::DebugTrace;
using nadixq::State;

extern "C" {

NADIXQ_API double NADIXQ_CALL spectrometer_setGain(double gain) {
    DebugTrace("nadixq setGain %f", gain);
    State()._gain = gain;
    return State()._gain;
}

NADIXQ_API double NADIXQ_CALL spectrometer_getGain(void) {
    return State()._gain;
}

NADIXQ_API double NADIXQ_CALL spectrometer_setResolution(double resolution) {
    DebugTrace("nadixq setResolution %f", resolution);
    State()._resolution = resolution;
    State()._points = nadixq::PointsForResolution(resolution);
    return State()._resolution;
}

NADIXQ_API double NADIXQ_CALL spectrometer_getResolution(void) {
    return State()._resolution;
}

NADIXQ_API int NADIXQ_CALL spectrometer_setPoints(int points) {
    DebugTrace("nadixq setPoints %d", points);
    // 32768 is how the host names the finest setting everywhere else (the
    // points it is reported as, the count getData takes for it); a board run
    // of 32768 points would give files that no buffer can store.
    State()._points = points == NADIXQ_MAX_POINTS ? NADIXQ_FINEST_POINTS : points;
    return points;
}

NADIXQ_API int NADIXQ_CALL spectrometer_getPoints(void) {
    int points = State()._points;
    return points == NADIXQ_FINEST_POINTS ? NADIXQ_MAX_POINTS : points;
}

NADIXQ_API int NADIXQ_CALL spectrometer_setScans(int scans) {
    DebugTrace("nadixq setScans %d", scans);
    State()._scans = scans;
    return scans;
}

NADIXQ_API int NADIXQ_CALL spectrometer_getScans(void) {
    return State()._scans;
}

NADIXQ_API int NADIXQ_CALL spectrometer_setFiles(int files) {
    DebugTrace("nadixq setFiles %d", files);
    State()._files = files;
    return files;
}

NADIXQ_API int NADIXQ_CALL spectrometer_getFiles(void) {
    return State()._files;
}

NADIXQ_API int NADIXQ_CALL spectrometer_setScanCompleteEventHandle(nadixq_handle handle) {
    auto value = reinterpret_cast<uintptr_t>(handle);
    DebugTrace("nadixq setScanCompleteEventHandle %u", static_cast<unsigned>(value));
    Counters().scanCompleteEvent.store(value);
    return 0;
}

NADIXQ_API int NADIXQ_CALL spectrometer_setCoaddCompleteEventHandle(nadixq_handle handle) {
    auto value = reinterpret_cast<uintptr_t>(handle);
    DebugTrace("nadixq setCoaddCompleteEventHandle %u", static_cast<unsigned>(value));
    Counters().coaddCompleteEvent.store(value);
    return 0;
}

NADIXQ_API int NADIXQ_CALL spectrometer_getStatus(void) {
    return Counters()._status.load();
}

NADIXQ_API int NADIXQ_CALL spectrometer_getScanProgress(void) {
    return Counters()._scansComplete.load(std::memory_order_relaxed);
}

NADIXQ_API int NADIXQ_CALL spectrometer_getFileProgress(void) {
    return Counters().filesComplete.load(std::memory_order_relaxed);
}

// Kept for the host interface (hosts call it); nothing in the library calls it.
NADIXQ_API int NADIXQ_CALL spectrometer_execute(int) {
    return 0;
}

}  // extern "C"
