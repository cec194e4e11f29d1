#include "acquisition/scan_buffer.h"

#include <algorithm>
#include <cstring>

#include "diagnostics/debug_trace.h"

namespace nadixq {

CScanBuffer::CScanBuffer() {
    std::fill(data, data + NADIXQ_MAX_POINTS, 0.0);
}

void CScanBuffer::Store(const double* values, int count, double storedAt) {
    if (count < 0 || count >= NADIXQ_MAX_POINTS || values == nullptr) return;
    platform::LockGuard guard(lock);
    points = count;
    timestamp = storedAt;
    std::memcpy(data, values, static_cast<size_t>(count) * sizeof(double));
    state |= SCAN_BUFFER_READY;
}

int CScanBuffer::Read(double* out, int pts, double* timestampOut) {
    if (out == nullptr || timestampOut == nullptr || pts < 0 || pts > NADIXQ_MAX_POINTS) return 1;
    const int asked = pts;
    // The host asks for the finest setting as 32768; it holds 30000 values.
    if (pts == NADIXQ_MAX_POINTS) pts = NADIXQ_FINEST_POINTS;

    // The host's memory is touched once per page before the lock is taken: an
    // array too short faults here, not under the lock, which a host that
    // survives the fault would otherwise leave held, blocking the scan
    // thread's next store for ever. A write, as the copy does, so that read-
    // only memory faults here too. The copy is still the one pass over it.
    constexpr int kDoublesPerPage = 4096 / sizeof(double);
    volatile double* const probe = out;
    for (int i = 0; i < asked; i += kDoublesPerPage) probe[i] = 0.0;
    if (asked > 0) probe[asked - 1] = 0.0;

    uint16_t seenState = 0;
    int seenPoints = 0;
    bool ready = false;
    int copied = 0;
    double stamp = 0.0;
    {
        // The state and the count are checked under the lock as well: the scan
        // thread may be storing into this buffer right now.
        platform::LockGuard guard(lock);
        seenState = state;
        seenPoints = points;
        if ((state & SCAN_BUFFER_READY) != 0 && points == pts) {
            std::memcpy(out, data, static_cast<size_t>(points) * sizeof(double));
            stamp = timestamp;
            ready = true;
            copied = points;
        }
    }
    // The host's double is written outside the lock, for the same reason.
    if (ready) *timestampOut = stamp;
    // Every value asked for and not copied reads 0.0: the tail of the finest
    // setting, or all of them after a failure. Written once, not zeroed first
    // and then overwritten, so that a read costs one pass over the host's
    // array.
    std::fill(out + copied, out + asked, 0.0);
    if (ready) return 0;
    DebugTrace("nadixq getData()::FAILED: state= %d; points= %d; pts= %d", seenState, seenPoints,
               pts);
    return 1;
}

double CScanBuffer::Timestamp() {
    platform::LockGuard guard(lock);
    return timestamp;
}

int CScanBuffer::Points() {
    platform::LockGuard guard(lock);
    return points;
}

}  // namespace nadixq
