// Local calendar time with its offset from UTC, the one system-dependent
// piece of the file lines' time stamps (local_time_posix.cpp,
// local_time_win32.cpp).
#pragma once

#include <ctime>

namespace acquire {

// `seconds` since 1970 as local time; false when the system cannot convert it.
bool ToLocalTime(std::time_t seconds, std::tm* local, long* minutesEastOfUtc);

}  // namespace acquire
