// One half of the double buffer between the scan thread and the host: a stored
// file's values and time stamp, guarded by the buffer's own lock.
#pragma once

#include <cstdint>

#include "interface/nadixq.h"
#include "platform/platform.h"

namespace nadixq {

// Set in `state` by the first store and never cleared.
constexpr uint16_t SCAN_BUFFER_READY = 4;

class CScanBuffer {
  public:
    CScanBuffer();
    CScanBuffer(const CScanBuffer&) = delete;
    CScanBuffer& operator=(const CScanBuffer&) = delete;

    // Stores `count` values (0 to 32767) with their time stamp; other counts
    // leave the buffer as it was. Scan thread.
    void Store(const double* values, int count, double storedAt);
    // Copies the stored values and the time stamp when the buffer holds
    // exactly `pts` values (32768 standing for 30000); the rest of the `pts`
    // values of `out` (all of them when nothing is copied) become 0.0. 0 when
    // copied, 1 otherwise (with the FAILED trace). A `pts` outside 0..32768
    // returns 1 without touching `out`. Host thread.
    int Read(double* out, int pts, double* timestampOut);
    // The stored time stamp (0.0 before the first store).
    double Timestamp();
    int Points();

  private:
    uint16_t state = 1;
    int points = 0;
    double timestamp = 0.0;
    // A store must be smaller than this.
    double data[NADIXQ_MAX_POINTS];
    platform::RecursiveLock lock;
};

}  // namespace nadixq
