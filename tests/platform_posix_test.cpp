// The POSIX platform layer: host events (eventfd descriptors) and the log
// file's refusal of what is not a file.
#include <gtest/gtest.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>

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

TEST(Files, LogFileRefusesAFifoWithoutBlocking) {
    // Opened for writing, a FIFO without a reader would block the first error
    // dump for ever (and with one, hand the lines to whoever reads).
    std::remove("log_fifo");
    ASSERT_EQ(mkfifo("log_fifo", 0600), 0);
    EXPECT_EQ(platform::OpenLogFile("log_fifo", true), nullptr);
    std::remove("log_fifo");
}

}  // namespace
