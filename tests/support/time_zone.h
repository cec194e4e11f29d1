// Fixes the process's local time zone for a test (the stream file dates its
// runs in local time) and restores the previous setting afterwards.
//
// Zones are TZ strings that both the POSIX C library and the Windows C runtime
// read: a name and the offset in hours west of UTC, without daylight-saving
// rules ("UTC0", "IST-5:30").
#pragma once

#include <cstdlib>
#include <string>

namespace nadixq::test {

// Sets the TZ variable (null removes it) and has the C library read it again.
void SetTimeZoneVariable(const char* zone);

class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        const char* previous = std::getenv("TZ");
        _hadZone = previous != nullptr;
        if (_hadZone) _previousZone = previous;
        SetTimeZoneVariable(zone);
    }
    ~ScopedTimeZone() { SetTimeZoneVariable(_hadZone ? _previousZone.c_str() : nullptr); }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

    // Another zone until the object ends.
    void Use(const char* zone) { SetTimeZoneVariable(zone); }

  private:
    bool _hadZone = false;
    std::string _previousZone;
};

}  // namespace nadixq::test
