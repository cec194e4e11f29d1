// One acquisition run on its own thread: files of co-added scans, polled from
// the board every 5 ms, handed to the host through a double buffer, with the
// progress counters, the status and the host's events kept up to date.
#pragma once

#include <atomic>
#include <cstdint>

#include "acquisition/scan_buffer.h"
#include "acquisition/stream_file.h"
#include "acquisition/time_stamp_clock.h"
#include "acquisition/worker_thread.h"

namespace nadixq {

class CNadixDevice;

class CScanThread : public CWorkerThread {
  public:
    // The scan loop's sleep between two polls of the board.
    static constexpr uint32_t kPollMs = 5;
    // After a kill or a failure, the files of a counted run that are still
    // closed out one by one (each with its trace lines and co-add signal); the
    // rest are closed out in one step, so that a huge file count cannot keep
    // the thread busy for minutes.
    static constexpr int32_t kSingleCloseOuts = 100;

    CScanThread();
    // Ends a thread that still runs first (kill event, then force), so that
    // the body never outlives the members it works on.
    ~CScanThread() override;

    // The run. Entered through Start.
    uint32_t ThreadProc() override;
    // Stores the finished file; 1 when there was nothing to store. Scan thread.
    int PrepareData();
    // Copies the latest stored file (Host thread). 0 when copied, else 1.
    int getData(double* data, int pts, double* timestamp);
    // Time stamp of the file getData would read; 0.0 before the first file.
    double GetTimestamp();
    // True while a run is going. A run that has delivered its last file is
    // waited for (up to kStopWaitMs) to end instead. Host thread.
    bool IsAcquiring();

    // Host thread, while no run is going.
    void SetDevice(CNadixDevice* device) { _device = device; }
    void SetCounts(int scans, int files) {
        _scanCount = scans;
        _fileCount = files;
    }
    CStreamFile& Stream() { return _stream; }

    int32_t ReadyScanBufferIndex() const { return readyScanBufferIndex.load(); }
    int32_t WriteScanBufferIndex() const { return writeScanBufferIndex.load(); }

  protected:
    // A terminated body never reached its end: the run is over all the same.
    void OnTerminated() override;
    // Called on the scan thread once the run has delivered everything, before
    // it reports its end. Does nothing; tests hold the thread here.
    virtual void BeforeRunEnds() {}

  private:
    bool KillRequested();
    void SignalScanComplete();
    void SignalCoaddComplete(uint32_t files = 1);

    // Copied from the settings by the host before Start; the thread's creation
    // orders the write before every read.
    int _scanCount = 0;
    int _fileCount = 1;
    // Scan thread only: the clock reading at the current file's first scan.
    double _timestamp = 0.0;
    CTimeStampClock _clock;
    CNadixDevice* _device = nullptr;  // not owned
    CScanBuffer _scanBuffers[2];
    // Written by the scan thread, read by the host without a lock.
    std::atomic<int32_t> writeScanBufferIndex{0};
    std::atomic<int32_t> readyScanBufferIndex{-1};
    // Set by the scan thread before it signals its run's last file.
    std::atomic<int32_t> _lastFileDelivered{0};
    CStreamFile _stream;
};

}  // namespace nadixq
