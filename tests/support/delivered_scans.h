// Every scan the simulated board delivered, recorded through its transfer
// hook, so that a test can tell what a file must hold: the mean of the
// co-added windows of the file's scans, computed as a board computes it.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

#include "sim/nadixq_sim.h"

namespace nadixq::test {

class DeliveredScans {
  public:
    // Installs the hook for the life of the object.
    DeliveredScans();
    ~DeliveredScans();
    DeliveredScans(const DeliveredScans&) = delete;
    DeliveredScans& operator=(const DeliveredScans&) = delete;

    // The mean of the `points`-sample windows from `start` of scans first to
    // last (the board's scan counter, 1-based, both included), summed in scan
    // order and scaled by the reciprocal of their number. Empty when one of
    // them is missing (or has no high-gain channel, for `high`).
    std::vector<double> WindowMean(int first, int last, int start, int points, bool high) const;
    // Scans recorded so far.
    size_t Count() const;
    // Drops the scans before `scan`, to keep a long run's record small.
    void ForgetBefore(int scan);

  private:
    struct Scan {
        std::vector<int16_t> low;
        std::vector<int16_t> high;
    };
    static void NADIXQ_SIM_CALL Hook(void* context, int scan, const int16_t* low,
                                     const int16_t* high, int count);

    mutable std::mutex _mutex;
    std::map<int, Scan> _scans;
};

}  // namespace nadixq::test
