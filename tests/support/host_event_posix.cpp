#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "support/host_event.h"

namespace nadixq::test {

HostEvent::HostEvent() {
    // Non-blocking, so that a read after an empty poll cannot hang a test.
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    // Descriptor 0 is the test's stdin and never an eventfd; 0 means none.
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

bool HostEvent::CountsSignals() {
    return true;
}

}  // namespace nadixq::test
