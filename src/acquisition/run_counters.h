// The run's status, its progress counters and the host's event handles:
// library-wide, like the one open instrument they describe. The scan thread
// writes them and the exports read them, so they live here, below both.
#pragma once

#include <atomic>
#include <cstdint>

namespace nadixq {

constexpr int32_t STATUS_UNOPENED = 1;
constexpr int32_t STATUS_READY = 4;
constexpr int32_t STATUS_ACQUIRING = 64;

struct RunCounters {
    // Written by the scan thread, read by the host without a lock.
    std::atomic<int32_t> _status{STATUS_UNOPENED};
    std::atomic<int32_t> _scansComplete{0};
    std::atomic<int32_t> filesComplete{0};
    std::atomic<int32_t> filesRetrieved{0};

    // The host's event handles (0: not signalled); read by the scan thread.
    std::atomic<uintptr_t> scanCompleteEvent{0};
    std::atomic<uintptr_t> coaddCompleteEvent{0};
};

RunCounters& Counters();

}  // namespace nadixq
