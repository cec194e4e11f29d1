// Time stamps in milliseconds since 1 January 1970: the wall clock read once,
// when the clock is made, plus the time of a running performance timer. Stamps
// are fine-grained and do not jump when the system clock is set.
#pragma once

#include <memory>

#include "acquisition/perf_timer.h"

namespace nadixq {

class CTimeStampClock {
  public:
    // Uses the performance counter when the platform has one.
    CTimeStampClock();
    // `useCounter` false makes every reading the wall clock, as on a platform
    // without a counter.
    explicit CTimeStampClock(bool useCounter);
    ~CTimeStampClock();
    CTimeStampClock(const CTimeStampClock&) = delete;
    CTimeStampClock& operator=(const CTimeStampClock&) = delete;

    // Milliseconds since 1970. Scan thread.
    double Now() const;
    bool UsesCounter() const { return _timer != nullptr; }

  private:
    std::unique_ptr<CPerfTimer> _timer;  // null without a counter
    double _baseMs = 0.0;
};

}  // namespace nadixq
