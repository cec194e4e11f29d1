#include <time.h>

#include "platform/platform.h"

namespace nadixq::platform {

int64_t QueryCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

int64_t QueryCounterFrequency() {
    return 1000000000LL;
}

double WallClockMs() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<double>(now.tv_sec) * 1000.0 + static_cast<double>(now.tv_nsec / 1000000);
}

bool LocalTime(int64_t seconds, std::tm* out) {
    time_t value = static_cast<time_t>(seconds);
    return localtime_r(&value, out) != nullptr;
}

}  // namespace nadixq::platform
