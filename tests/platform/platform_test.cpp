// The platform layer through its portable interface: events, threads and
// their forced end, clocks, locks. Runs on every system; the host-event
// signalling, which differs per system, has a test file per system.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

namespace {

namespace platform = nadixq::platform;

class Events : public ::testing::Test {
  protected:
    void SetUp() override {
        for (auto& event : _events) event = platform::CreateManualResetEvent();
    }
    void TearDown() override {
        for (auto& event : _events) platform::CloseEvent(event);
    }
    platform::Event _events[3] = {};
};

TEST_F(Events, ManualResetStaysSetUntilReset) {
    EXPECT_EQ(platform::WaitForEvent(_events[0], 0), platform::kWaitTimeout);
    ASSERT_TRUE(platform::SetEvent(_events[0]));
    EXPECT_EQ(platform::WaitForEvent(_events[0], 0), platform::kWaitObject0);
    EXPECT_EQ(platform::WaitForEvent(_events[0], platform::kInfinite), platform::kWaitObject0);
    ASSERT_TRUE(platform::ResetEvent(_events[0]));
    EXPECT_EQ(platform::WaitForEvent(_events[0], 20), platform::kWaitTimeout);
}

TEST_F(Events, WaitForAnyReportsTheLowestSetEvent) {
    platform::SetEvent(_events[2]);
    EXPECT_EQ(platform::WaitForAnyEvent(_events, 3, 0), platform::kWaitObject0 + 2);
    platform::SetEvent(_events[1]);
    EXPECT_EQ(platform::WaitForAnyEvent(_events, 3, 0), platform::kWaitObject0 + 1);
    EXPECT_EQ(platform::WaitForAnyEvent(_events, 1, 10), platform::kWaitTimeout);
    platform::Event withNull[2] = {_events[0], nullptr};
    EXPECT_EQ(platform::WaitForAnyEvent(withNull, 2, 0), platform::kWaitFailed);
    EXPECT_FALSE(platform::SetEvent(nullptr));
}

struct Handover {
    platform::Event go;
    platform::Event done;
    std::atomic<int> polls{0};
};

uint32_t WaitThenSignal(void* raw) {
    auto* handover = static_cast<Handover*>(raw);
    platform::WaitForEvent(handover->go, platform::kInfinite);
    platform::SetEvent(handover->done);
    return 7;
}

TEST_F(Events, ThreadWakesOnAnotherThreadsSignal) {
    Handover handover{_events[0], _events[1]};
    platform::Thread thread = platform::CreateThread(&WaitThenSignal, &handover);
    ASSERT_NE(thread, nullptr);
    platform::RaiseThreadPriority(thread);
    EXPECT_EQ(platform::WaitForEvent(handover.done, 50), platform::kWaitTimeout);
    platform::SetEvent(handover.go);
    EXPECT_EQ(platform::WaitForEvent(handover.done, 20000), platform::kWaitObject0);
    EXPECT_TRUE(platform::WaitForThread(thread, 20000));
    platform::CloseThread(thread);
}

uint32_t PollForever(void* raw) {
    auto* handover = static_cast<Handover*>(raw);
    platform::SetEvent(handover->go);
    for (;;) {
        handover->polls.fetch_add(1);
        platform::PollSleep(5);
    }
}

TEST(Threads, TerminateEndsAThreadAtItsPollSleep) {
    Handover handover{platform::CreateManualResetEvent(), nullptr};
    platform::Thread thread = platform::CreateThread(&PollForever, &handover);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(platform::WaitForEvent(handover.go, 20000), platform::kWaitObject0);
    EXPECT_FALSE(platform::WaitForThread(thread, 30));
    platform::TerminateThread(thread);
    EXPECT_TRUE(platform::WaitForThread(thread, 20000));
    int polls = handover.polls.load();
    platform::Sleep(30);
    EXPECT_EQ(handover.polls.load(), polls);
    platform::CloseThread(thread);
    platform::CloseEvent(handover.go);
}

TEST(Clocks, CounterIsMonotonicAndWallClockIsInMilliseconds) {
    int64_t first = platform::QueryCounter();
    int64_t second = platform::QueryCounter();
    EXPECT_LE(first, second);
    EXPECT_GE(platform::QueryCounterFrequency(), 1000000);
    double wall = platform::WallClockMs();
    EXPECT_EQ(wall, static_cast<double>(static_cast<int64_t>(wall)));
    EXPECT_GT(wall, 1.6e12);  // after 2020
}

struct Contender {
    platform::RecursiveLock* lock;
    platform::Event started;
    platform::Event acquired;
};

// Takes the lock from a second thread, saying when it tries and when it has it.
uint32_t TakeTheLock(void* raw) {
    auto* contender = static_cast<Contender*>(raw);
    platform::SetEvent(contender->started);
    platform::LockGuard guard(*contender->lock);
    platform::SetEvent(contender->acquired);
    return 0;
}

// One thread takes the lock twice without blocking itself; another thread
// gets it only once the first has left it as often as it entered it.
TEST(Locks, RecursiveLockTakenTwiceIsHeldUntilLeftTwice) {
    platform::RecursiveLock lock;
    Contender contender{&lock, platform::CreateManualResetEvent(),
                        platform::CreateManualResetEvent()};
    ASSERT_NE(contender.started, nullptr);
    ASSERT_NE(contender.acquired, nullptr);
    lock.Enter();
    lock.Enter();
    platform::Thread thread = platform::CreateThread(&TakeTheLock, &contender);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(platform::WaitForEvent(contender.started, 20000), platform::kWaitObject0);
    EXPECT_EQ(platform::WaitForEvent(contender.acquired, 50), platform::kWaitTimeout);
    lock.Leave();
    EXPECT_EQ(platform::WaitForEvent(contender.acquired, 50), platform::kWaitTimeout);
    lock.Leave();
    EXPECT_EQ(platform::WaitForEvent(contender.acquired, 20000), platform::kWaitObject0);
    EXPECT_TRUE(platform::WaitForThread(thread, 20000));
    platform::CloseThread(thread);
    platform::CloseEvent(contender.started);
    platform::CloseEvent(contender.acquired);
}

}  // namespace
