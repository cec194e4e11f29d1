#include <time.h>

#include "local_time.h"

namespace acquire {

bool ToLocalTime(std::time_t seconds, std::tm* local, long* minutesEastOfUtc) {
    if (localtime_r(&seconds, local) == nullptr) return false;
    *minutesEastOfUtc = local->tm_gmtoff / 60;
    return true;
}

}  // namespace acquire
