// The Win32 platform layer on a real implementation of the Win32 API: event
// objects, host event handles, thread priority and the forced end of a thread,
// critical sections, clocks, the log file's commit and the last-error value.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <ctime>

#include "diagnostics/log_file.h"
#include "platform/platform.h"

namespace {

namespace platform = nadixq::platform;

// An APC routine has the system's calling convention (__stdcall on 32-bit
// Windows), which a lambda does not convert to.
void CALLBACK EmptyApc(ULONG_PTR) {}

TEST(WindowsEvents, AreManualResetEventObjects) {
    platform::Event event = platform::CreateManualResetEvent();
    ASSERT_NE(event, nullptr);
    // The platform's event is the Win32 handle itself.
    EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_TRUE(platform::SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);  // no auto-reset
    ASSERT_TRUE(platform::ResetEvent(event));
    EXPECT_EQ(platform::WaitForEvent(event, 10), platform::kWaitTimeout);
    platform::CloseEvent(event);
}

TEST(WindowsEvents, WaitForAnyReportsTheLowestSetAndRefusesBadInput) {
    platform::Event events[3];
    for (auto& event : events) event = platform::CreateManualResetEvent();
    EXPECT_EQ(platform::WaitForAnyEvent(events, 3, 0), platform::kWaitTimeout);
    platform::SetEvent(events[2]);
    platform::SetEvent(events[1]);
    EXPECT_EQ(platform::WaitForAnyEvent(events, 3, platform::kInfinite),
              platform::kWaitObject0 + 1);
    platform::Event withNull[2] = {events[0], nullptr};
    EXPECT_EQ(platform::WaitForAnyEvent(withNull, 2, 0), platform::kWaitFailed);
    EXPECT_EQ(platform::WaitForAnyEvent(events, 0, 0), platform::kWaitFailed);
    EXPECT_EQ(platform::WaitForEvent(nullptr, 0), platform::kWaitFailed);
    EXPECT_FALSE(platform::SetEvent(nullptr));
    EXPECT_FALSE(platform::ResetEvent(nullptr));
    for (auto& event : events) platform::CloseEvent(event);
}

TEST(WindowsEvents, HostEventHandleIsSetAndClosedHandleOrNullIsHarmless) {
    HANDLE host = CreateEventA(nullptr, FALSE, FALSE, nullptr);  // hosts may use auto-reset
    ASSERT_NE(host, nullptr);
    platform::SignalHostEvent(reinterpret_cast<uintptr_t>(host));
    EXPECT_EQ(WaitForSingleObject(host, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(host, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    platform::SignalHostEvent(0);
    CloseHandle(host);
    platform::SignalHostEvent(reinterpret_cast<uintptr_t>(host));  // stale: ignored
}

struct Worker {
    platform::Event running = platform::CreateManualResetEvent();
    std::atomic<int> polls{0};
    std::atomic<int> priority{-100};
    std::atomic<bool> spin{true};
    ~Worker() { platform::CloseEvent(running); }
};

uint32_t PollingBody(void* raw) {
    auto* worker = static_cast<Worker*>(raw);
    worker->priority.store(GetThreadPriority(GetCurrentThread()));
    platform::SetEvent(worker->running);
    for (;;) {
        // Between polls the thread spends most of its time inside the log lock,
        // as a device writing an error dump does; a thread ended at a random
        // point would most likely leave the lock held.
        nadixq::TheLog()._lock.Enter();
        int64_t until = platform::QueryCounter() + platform::QueryCounterFrequency() / 500;
        while (platform::QueryCounter() < until) {
        }
        worker->polls.fetch_add(1);
        nadixq::TheLog()._lock.Leave();
        platform::PollSleep(1);
    }
}

DWORD ExitCodeOf(platform::Thread thread) {
    DWORD code = 12345;
    GetExitCodeThread(thread, &code);
    return code;
}

TEST(WindowsThreads, RunAtTimeCriticalPriorityAndReturnTheirExitCode) {
    Worker worker;
    platform::Thread thread = platform::CreateThread(
        [](void* raw) -> uint32_t {
            auto* self = static_cast<Worker*>(raw);
            platform::WaitForEvent(self->running, platform::kInfinite);
            self->priority.store(GetThreadPriority(GetCurrentThread()));
            return 42;
        },
        &worker);
    ASSERT_NE(thread, nullptr);
    platform::RaiseThreadPriority(thread);
    platform::SetEvent(worker.running);
    ASSERT_TRUE(platform::WaitForThread(thread, 20000));
    EXPECT_EQ(ExitCodeOf(thread), 42u);
    // Wine may refuse the real-time class without privileges; it then keeps the
    // normal level, which is the best-effort contract.
    EXPECT_TRUE(worker.priority.load() == THREAD_PRIORITY_TIME_CRITICAL ||
                worker.priority.load() == THREAD_PRIORITY_NORMAL)
        << worker.priority.load();
    platform::CloseThread(thread);
}

TEST(WindowsThreads, ForcedEndTakesThePollingThreadAtItsSleepWithNoLockHeld) {
    // Repeated, because a thread ended at a random point would sooner or later
    // be ended while it holds the log lock.
    for (int round = 0; round < 20; ++round) {
        Worker worker;
        platform::Thread thread = platform::CreateThread(&PollingBody, &worker);
        ASSERT_NE(thread, nullptr);
        ASSERT_EQ(platform::WaitForEvent(worker.running, 20000), platform::kWaitObject0);
        while (worker.polls.load() < 1 + round % 3) platform::Sleep(1);
        platform::TerminateThread(thread);
        ASSERT_TRUE(platform::WaitForThread(thread, 20000));
        EXPECT_EQ(ExitCodeOf(thread), 0u);
        int polls = worker.polls.load();
        // The lock must be free: another thread takes it at once.
        platform::Thread taker = platform::CreateThread(
            [](void*) -> uint32_t {
                nadixq::TheLog()._lock.Enter();
                nadixq::TheLog()._lock.Leave();
                return 7;
            },
            nullptr);
        ASSERT_TRUE(platform::WaitForThread(taker, 10000)) << "log lock left held";
        platform::CloseThread(taker);
        platform::Sleep(20);
        EXPECT_EQ(worker.polls.load(), polls);
        platform::CloseThread(thread);
    }
}

// A thread blocked elsewhere (in a driver request, say) is not cut off there:
// it ends at the poll sleep it reaches next, with the forced end's code 0.
TEST(WindowsThreads, ForcedEndWaitsForAThreadBlockedOutsideItsPollSleep) {
    Worker worker;
    platform::Thread thread = platform::CreateThread(
        [](void* raw) -> uint32_t {
            auto* self = static_cast<Worker*>(raw);
            platform::SetEvent(self->running);
            while (self->spin.load()) Sleep(1);  // not alertable
            platform::PollSleep(5);
            return 9;
        },
        &worker);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(platform::WaitForEvent(worker.running, 20000), platform::kWaitObject0);
    platform::TerminateThread(thread);
    EXPECT_FALSE(platform::WaitForThread(thread, 100));
    worker.spin.store(false);
    ASSERT_TRUE(platform::WaitForThread(thread, 20000));
    EXPECT_EQ(ExitCodeOf(thread), 0u);
    platform::CloseThread(thread);
}

TEST(WindowsThreads, ForcedEndOfAnEndedThreadAndPollSleepOutsideAnEndDoNothing) {
    platform::Thread thread = platform::CreateThread([](void*) -> uint32_t { return 5; }, nullptr);
    ASSERT_TRUE(platform::WaitForThread(thread, 20000));
    platform::TerminateThread(thread);
    EXPECT_EQ(ExitCodeOf(thread), 5u);
    platform::CloseThread(thread);
    platform::TerminateThread(nullptr);
    EXPECT_TRUE(platform::WaitForThread(nullptr, 0));

    // An unrelated APC only cuts one poll sleep short; the thread goes on.
    QueueUserAPC(EmptyApc, GetCurrentThread(), 0);
    platform::PollSleep(1);
    SUCCEED();
}

TEST(WindowsLocks, CriticalSectionIsReentrantAndExcludesOtherThreads) {
    static platform::RecursiveLock lock;
    lock.Enter();
    lock.Enter();
    platform::Thread other = platform::CreateThread(
        [](void*) -> uint32_t {
            platform::LockGuard guard(lock);
            return 1;
        },
        nullptr);
    EXPECT_FALSE(platform::WaitForThread(other, 50));
    lock.Leave();
    EXPECT_FALSE(platform::WaitForThread(other, 50));
    lock.Leave();
    EXPECT_TRUE(platform::WaitForThread(other, 20000));
    platform::CloseThread(other);
}

TEST(WindowsClocks, PerformanceCounterAndMillisecondUtc) {
    EXPECT_GE(platform::QueryCounterFrequency(), 1000);
    int64_t first = platform::QueryCounter();
    EXPECT_LE(first, platform::QueryCounter());

    double before = static_cast<double>(std::time(nullptr)) * 1000.0;
    double wall = platform::WallClockMs();
    double after = static_cast<double>(std::time(nullptr)) * 1000.0 + 1000.0;
    EXPECT_EQ(wall, static_cast<double>(static_cast<int64_t>(wall)));  // whole milliseconds
    EXPECT_GE(wall, before);
    EXPECT_LT(wall, after);

    std::tm local{};
    ASSERT_TRUE(platform::LocalTime(static_cast<int64_t>(std::time(nullptr)), &local));
    EXPECT_GE(local.tm_year, 120);  // after 2020
    EXPECT_FALSE(platform::LocalTime(-(1LL << 50), &local));
}

TEST(WindowsFiles, CommitFlushesToTheSystemAndLastErrorIsWin32s) {
    std::FILE* file = std::fopen("commit_test.txt", "wt");
    ASSERT_NE(file, nullptr);
    std::fputs("line\n", file);
    std::fflush(file);
    EXPECT_TRUE(platform::CommitFile(file));
    // What was committed is visible through another handle, with the text
    // mode's line end.
    HANDLE reader = CreateFileA("commit_test.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    char bytes[16] = {};
    DWORD read = 0;
    ReadFile(reader, bytes, sizeof bytes - 1, &read, nullptr);
    CloseHandle(reader);
    EXPECT_STREQ(bytes, "line\r\n");
    std::fclose(file);
    EXPECT_FALSE(platform::CommitFile(nullptr));

    platform::SetLastError(1117);
    EXPECT_EQ(GetLastError(), 1117u);
    SetLastError(87);
    EXPECT_EQ(platform::LastError(), 87u);
}

}  // namespace
