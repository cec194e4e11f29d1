#include "acquisition/scan_thread.h"

#include "acquisition/run_counters.h"
#include "device/driver_records.h"
#include "device/nadix_device.h"
#include "diagnostics/debug_trace.h"

namespace nadixq {

CScanThread::CScanThread() = default;

CScanThread::~CScanThread() {
    if (!HasEnded()) Stop();
}

// No lock is held anywhere in the loop, and the poll sleep is the only place a
// forced termination may end this thread (see platform::TerminateThread), so a
// terminated run leaves no lock behind and no buffer half-stored.
uint32_t CScanThread::ThreadProc() {
    RunCounters& counters = Counters();
    // Before the started event: once Start returns, the host reads this run's.
    _lastFileDelivered.store(0);
    platform::SetEvent(_startedEvent);
    DebugTrace("nadixq scanThread:entering ThreadProc");
    DebugTrace("nadixq scanThread:files= %d; scans= %d", _fileCount, _scanCount);

    int32_t callOk = 0;
    if (_device == nullptr || !_device->IsOpen()) {
        // Nothing to acquire from; the run ends without touching the counters.
    } else if (_device->GetCalStatus(&callOk) != 0) {
        DebugTrace("nadixq scanThread:GetCalStatus ERROR");
    } else {
        counters.filesComplete.store(0);
        counters.filesRetrieved.store(0);
        bool killed = false;
        int32_t closedOut = 0;
        // A counted run closes out every file, even after a kill: the host then
        // sees one co-add signal per file and filesComplete reaching the count.
        // A continuous run ends with the file in which it was stopped.
        while (_fileCount != 0 ? counters.filesComplete.load() < _fileCount : !killed) {
            // After a kill or a failure the remaining files of a counted run
            // pass without a poll sleep; a forced end must reach them here,
            // however many there are.
            platform::TerminationPoint();
            if (killed && closedOut++ == kSingleCloseOuts) {
                const int32_t files = _fileCount - counters.filesComplete.load();
                DebugTrace("nadixq scanThread: closing out the last %d files at once", files);
                counters.filesComplete.store(_fileCount);
                _lastFileDelivered.store(1);
                SignalCoaddComplete(static_cast<uint32_t>(files));
                break;
            }
            _device->ClearCoadd();
            counters._status.store(STATUS_ACQUIRING);
            counters._scansComplete.store(0);
            bool stamped = false;

            while (!killed && counters._scansComplete.load() < _scanCount) {
                if (KillRequested()) {
                    DebugTrace("nadixq scanThread: kill event received");
                    killed = true;
                    break;
                }
                platform::PollSleep(kPollMs);
                int32_t ifgState = 0;
                if (_device->GetIFG(&ifgState) != 0) {
                    DebugTrace("nadixq scanThread:GET_IFG returned FALSE");
                    killed = true;
                    break;
                }
                if (ifgState == static_cast<int32_t>(I_COMPLETE)) {
                    int32_t done = counters._scansComplete.fetch_add(1) + 1;
                    if (!stamped) {
                        _timestamp = _clock.Now();
                        stamped = true;
                    }
                    DebugTrace("nadixq scanThread:_scansComplete= %d", done);
                    SignalScanComplete();
                } else if (ifgState == static_cast<int32_t>(I_ERROR)) {
                    DebugTrace("nadixq scanThread:GET_IFG returned I_ERROR");
                    killed = true;
                    break;
                }
                // Any other state: the scan is still under way.
            }

            PrepareData();
            const int32_t files = counters.filesComplete.fetch_add(1) + 1;
            // The host may restart as soon as it sees the last file's signal.
            if (_fileCount != 0 ? files >= _fileCount : killed) _lastFileDelivered.store(1);
            SignalCoaddComplete();
        }
    }
    _lastFileDelivered.store(1);
    BeforeRunEnds();

    DebugTrace("nadixq scanThread:DONE");
    platform::SetEvent(_stoppedEvent);
    counters._status.store(STATUS_READY);
    return 0;
}

int CScanThread::PrepareData() {
    RunCounters& counters = Counters();
    int32_t scans = counters._scansComplete.load();
    if (scans == 0 || _device == nullptr) {
        DebugTrace("nadixq scanThread:PrepareData: no scans!");
        return 1;
    }
    _device->PrepareData(scans);

    int32_t write = writeScanBufferIndex.load();
    int32_t points = _device->GetPoints();
    DebugTrace("nadixq scanThread:PrepareData: buffer %d; copying %d points, timestamp= %f", write,
               points, _timestamp);
    _scanBuffers[write].Store(_device->GetDataBuffer(), points, _timestamp);
    // The buffer is complete before the host can learn that it is the ready one.
    readyScanBufferIndex.store(write);
    writeScanBufferIndex.store(1 - write);

    // Does nothing unless a stream file is open; the test is made under the
    // stream's own lock.
    _stream.Append(_device->GetDataBuffer(), points, _timestamp, counters.filesComplete.load());
    return 0;
}

int CScanThread::getData(double* data, int pts, double* timestamp) {
    int32_t ready = readyScanBufferIndex.load();
    if (ready < 0) return 1;
    RunCounters& counters = Counters();
    int32_t retrieved = counters.filesRetrieved.fetch_add(1) + 1;
    DebugTrace(
        "nadixq CScanThread::getData: readyScanBufferIndex= %d; filesComplete= %d; "
        "filesRetrieved= %d",
        ready, counters.filesComplete.load(), retrieved);
    return _scanBuffers[ready].Read(data, pts, timestamp);
}

bool CScanThread::IsAcquiring() {
    if (!IsActive()) return false;
    // Past the last file only the thread's end is left: worth a wait, so that
    // a host woken by that file's signal may start the next run at once.
    return _lastFileDelivered.load() == 0 || !HasEnded(kStopWaitMs);
}

double CScanThread::GetTimestamp() {
    int32_t ready = readyScanBufferIndex.load();
    if (ready < 0) return 0.0;
    return _scanBuffers[ready].Timestamp();
}

void CScanThread::OnTerminated() {
    Counters()._status.store(STATUS_READY);
}

bool CScanThread::KillRequested() {
    // Anything but a time-out (the event is set, or the test itself failed)
    // ends the scan loop: a thread that cannot see its kill event must stop.
    return platform::WaitForEvent(_killEvent, 0) != platform::kWaitTimeout;
}

void CScanThread::SignalScanComplete() {
    uintptr_t event = Counters().scanCompleteEvent.load();
    if (event == 0) return;
    DebugTrace("nadixq scanThread: setting scanCompleteEvent");
    platform::SignalHostEvent(event);
}

void CScanThread::SignalCoaddComplete(uint32_t files) {
    uintptr_t event = Counters().coaddCompleteEvent.load();
    if (event == 0) return;
    DebugTrace("nadixq scanThread: setting coaddCompleteEvent");
    platform::SignalHostEvent(event, files);
}

}  // namespace nadixq
