#include "spc/spc_date.h"

#include <cmath>
#include <ctime>

#include "platform/platform.h"

namespace nadixq {

uint32_t PackSpcDate(double timestampMs) {
    const double minutes = std::floor((timestampMs + 30000.0) / 60000.0);
    const double seconds = minutes * 60.0;
    // The date word was defined against 32-bit signed seconds; outside that
    // range (and for a NaN, which fails both comparisons) there is no date.
    if (!(seconds >= 0.0 && seconds <= 2147483647.0)) return 0;

    std::tm local{};
    if (!platform::LocalTime(static_cast<int64_t>(seconds), &local)) return 0;

    const uint32_t year = static_cast<uint32_t>(local.tm_year + 1900);
    const uint32_t month = static_cast<uint32_t>(local.tm_mon + 1);
    const uint32_t day = static_cast<uint32_t>(local.tm_mday);
    const uint32_t hour = static_cast<uint32_t>(local.tm_hour);
    const uint32_t minute = static_cast<uint32_t>(local.tm_min);
    return ((((year * 16 + month) * 32 + day) * 32 + hour) * 64) + minute;
}

}  // namespace nadixq
