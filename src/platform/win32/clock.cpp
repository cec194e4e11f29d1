#include <ctime>

#include "platform/platform.h"
#include "platform/win32/win32.h"

namespace nadixq::platform {
namespace {
// FILETIME counts 100 ns intervals since 1 January 1601.
constexpr uint64_t kTicksPerMs = 10000;
constexpr uint64_t kMsFrom1601To1970 = 11644473600000ULL;
}  // namespace

int64_t QueryCounter() {
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t QueryCounterFrequency() {
    LARGE_INTEGER frequency{};
    if (!::QueryPerformanceFrequency(&frequency)) return 0;
    return frequency.QuadPart;
}

double WallClockMs() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    // Whole milliseconds, as the runtime's millisecond time (_ftime64) gives them.
    return static_cast<double>(ticks / kTicksPerMs - kMsFrom1601To1970);
}

bool LocalTime(int64_t seconds, std::tm* out) {
    if (out == nullptr) return false;
    __time64_t value = static_cast<__time64_t>(seconds);
    return _localtime64_s(out, &value) == 0;
}

}  // namespace nadixq::platform
