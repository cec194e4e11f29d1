// The POSIX platform layer's host events: eventfd descriptors.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

#include "platform/platform.h"

namespace {

namespace platform = nadixq::platform;

TEST(HostEvents, EventfdCountsEverySignalAndNullIsIgnored) {
    int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ASSERT_GE(fd, 0);
    platform::SignalHostEvent(static_cast<uintptr_t>(fd));
    platform::SignalHostEvent(static_cast<uintptr_t>(fd));
    platform::SignalHostEvent(0);
    uint64_t count = 0;
    ASSERT_EQ(read(fd, &count, sizeof count), static_cast<ssize_t>(sizeof count));
    EXPECT_EQ(count, 2u);
    close(fd);
}

}  // namespace
