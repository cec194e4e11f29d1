// The library-wide state: one open instrument per process and its settings.
// The status and progress counters that the host polls, and the host's
// events, are library-wide too; the scan thread writes them, so they live
// below, in acquisition/run_counters.h.
#pragma once

#include <atomic>

#include "interface/nadixq.h"
#include "interface/reader_gate.h"

namespace nadixq {

class CNadixDevice;
class CScanThread;

struct LibraryState {
    // Settings, written and read by the host's threads only.
    int _scans = 16;
    int _files = 1;
    double _gain = 1.0;
    double _resolution = 1.0;
    int _points = 16384;

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
