#include "acquisition/time_stamp_clock.h"

#include "platform/platform.h"

namespace nadixq {

CTimeStampClock::CTimeStampClock() : CTimeStampClock(true) {}

CTimeStampClock::CTimeStampClock(bool useCounter) {
    // The first timer of the process also initialises the class-wide values,
    // so it is made before IsAvailable is asked.
    _timer = std::make_unique<CPerfTimer>(false);
    if (useCounter && CPerfTimer::IsAvailable()) {
        _timer->Start(false);
    } else {
        _timer.reset();
    }
    // Anchored after the timer started: a stamp is never earlier than the
    // wall-clock moment it stands for.
    _baseMs = platform::WallClockMs();
}

CTimeStampClock::~CTimeStampClock() = default;

double CTimeStampClock::Now() const {
    if (_timer == nullptr) return platform::WallClockMs();
    return _timer->ElapsedMs() + _baseMs;
}

}  // namespace nadixq
