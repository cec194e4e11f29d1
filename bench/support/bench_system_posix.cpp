#include <sys/resource.h>

#include "support/bench_system.h"

namespace nadixq::bench {

double ThreadCpuSeconds() {
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) != 0) return 0.0;
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace nadixq::bench
