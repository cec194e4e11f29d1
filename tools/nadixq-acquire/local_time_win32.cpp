#include <time.h>

#include "local_time.h"

namespace acquire {

bool ToLocalTime(std::time_t seconds, std::tm* local, long* minutesEastOfUtc) {
    // The runtime's localtime keeps its result per thread.
    const std::tm* converted = localtime(&seconds);
    if (converted == nullptr) return false;
    *local = *converted;
    // The local fields read as if they were UTC, less the real instant.
    std::tm asUtc = *local;
    const std::time_t shifted = _mkgmtime(&asUtc);
    if (shifted == static_cast<std::time_t>(-1)) return false;
    *minutesEastOfUtc = static_cast<long>((shifted - seconds) / 60);
    return true;
}

}  // namespace acquire
