// The POSIX platform layer: host events (eventfd descriptors), the scan
// thread's scheduling, and the log file's refusal of what is not a file.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>
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

struct Scheduling {
    platform::Event raised = platform::CreateManualResetEvent();
    int policy = -1;
    int priority = -1;
};

uint32_t ReadOwnScheduling(void* raw) {
    auto* scheduling = static_cast<Scheduling*>(raw);
    platform::WaitForEvent(scheduling->raised, platform::kInfinite);
    sched_param param{};
    pthread_getschedparam(pthread_self(), &scheduling->policy, &param);
    scheduling->priority = param.sched_priority;
    return 0;
}

TEST(Threads, RaisedThreadTakesTheLowestRealTimePriorityOrStaysNormal) {
    // Where the process may (root), a real-time thread at the top of the range
    // would sit above the kernel's own threads and could freeze the machine.
    Scheduling scheduling;
    platform::Thread thread = platform::CreateThread(&ReadOwnScheduling, &scheduling);
    ASSERT_NE(thread, nullptr);
    platform::RaiseThreadPriority(thread);
    platform::SetEvent(scheduling.raised);
    ASSERT_TRUE(platform::WaitForThread(thread, 20000));
    platform::CloseThread(thread);
    platform::CloseEvent(scheduling.raised);
    // Without the privilege the thread keeps the normal policy.
    if (scheduling.policy != SCHED_OTHER) {
        EXPECT_EQ(scheduling.policy, SCHED_RR);
        EXPECT_EQ(scheduling.priority, sched_get_priority_min(SCHED_RR));
    }
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
