// The library-wide state: one open instrument per process, its settings, the
// status and progress counters that the host polls, and the host's events.
#pragma once

#include <atomic>
#include <cstdint>

#include "interface/nadixq.h"
#include "interface/reader_gate.h"

namespace nadixq {

class CNadixDevice;
class CScanThread;

constexpr int32_t STATUS_UNOPENED = 1;
constexpr int32_t STATUS_READY = 4;
constexpr int32_t STATUS_ACQUIRING = 64;

struct LibraryState {
    // Settings, written and read by the host's threads only.
    int _scans = 16;
    int _files = 1;
    double _gain = 1.0;
    double _resolution = 1.0;
    int _points = 16384;

    // Written by the scan thread, read by the host without a lock.
    std::atomic<int32_t> _status{STATUS_UNOPENED};
    std::atomic<int32_t> _scansComplete{0};
    std::atomic<int32_t> filesComplete{0};
    std::atomic<int32_t> filesRetrieved{0};

    // The host's event handles (0: not signalled); read by the scan thread.
    std::atomic<uintptr_t> scanCompleteEvent{0};
    std::atomic<uintptr_t> coaddCompleteEvent{0};

    // Owned; created by spectrometer_open, destroyed by spectrometer_close.
    CNadixDevice* _device = nullptr;
    // Read by any host thread (getData, getTimestamp) through scanThreadReaders:
    // close clears it, waits at the gate, and only then frees the object.
    std::atomic<CScanThread*> _scanThread{nullptr};
    CReaderGate scanThreadReaders;
};

LibraryState& State();

// Points per interferogram for a resolution setting; each bound belongs to the
// finer row, and a value that does not compare gives the finest setting.
int PointsForResolution(double resolution);

}  // namespace nadixq
