// When the simulated board finishes a scan. The mirror sweeps continuously:
// a scan of n points completes n / (sample rate) + turnaround after the
// previous one. Time alone decides, read from the monotonic counter on every
// poll; the board has no thread of its own.
#pragma once

#include <cstdint>

namespace nadixq::sim {

class CScanClock {
  public:
    // `periodTicks`: one scan including the turnaround, in counter ticks.
    void SetPeriod(int64_t periodTicks) { _period = periodTicks > 0 ? periodTicks : 1; }
    int64_t Period() const { return _period; }

    // A scan starts at `now` (after Initialize, a calibration, or when the
    // board has not been polled for a while).
    void Rearm(int64_t now) {
        _scanStart = now;
        _lastPoll = now;
        _armed = true;
    }

    // One poll at `now`. True when a scan has completed since the last one
    // reported; each completed scan is reported once.
    bool Poll(int64_t now, int64_t idleTicks) {
        // Nobody polled for longer than a scan and a grace period: no run was
        // going. The next run's first scan is a whole scan away, as on a board
        // whose acquisition is re-armed by the host's first request.
        if (!_armed || now - _lastPoll > _period + idleTicks) {
            Rearm(now);
            return false;
        }
        _lastPoll = now;
        if (now - _scanStart < _period) return false;
        // Keep the grid exact while the host keeps up, so that a run of k
        // scans takes k periods; a host that fell more than a scan behind
        // loses the backlog instead of receiving a burst of stale scans.
        _scanStart += _period;
        if (now - _scanStart >= _period) _scanStart = now;
        return true;
    }

  private:
    int64_t _period = 1;
    int64_t _scanStart = 0;
    int64_t _lastPoll = 0;
    bool _armed = false;
};

}  // namespace nadixq::sim
