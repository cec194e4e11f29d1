#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <unistd.h>

#include "support/bench_system.h"

namespace nadixq::bench {

double ThreadCpuSeconds() {
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) != 0) return 0.0;
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

HostEvent::HostEvent() {
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd > 0) _value = static_cast<uintptr_t>(fd);
}

HostEvent::~HostEvent() {
    if (Valid()) close(static_cast<int>(_value));
}

uint64_t HostEvent::Wait(uint32_t timeoutMs) {
    if (!Valid()) return 0;
    const int fd = static_cast<int>(_value);
    pollfd entry{fd, POLLIN, 0};
    if (poll(&entry, 1, static_cast<int>(timeoutMs)) != 1) return 0;
    uint64_t count = 0;
    return read(fd, &count, sizeof count) == sizeof count ? count : 0;
}

}  // namespace nadixq::bench
