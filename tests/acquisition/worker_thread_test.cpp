// CWorkerThread: start hand-over, stop by kill event, forced termination of a
// body that ignores it, and reuse of one object for several runs.
#include "acquisition/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>

#include "platform/platform.h"

namespace nadixq {
namespace {

using Clock = std::chrono::steady_clock;

bool IsSet(platform::Event event) {
    return platform::WaitForEvent(event, 0) == platform::kWaitObject0;
}

class TestWorker : public CWorkerThread {
  public:
    using Body = std::function<uint32_t(TestWorker&)>;

    explicit TestWorker(Body body) : _body(std::move(body)) {}
    ~TestWorker() override {
        if (!HasEnded()) Stop();
    }
    uint32_t ThreadProc() override { return _body(*this); }
    void SetBody(Body body) { _body = std::move(body); }

    platform::Event started() const { return _startedEvent; }
    platform::Event startFailed() const { return _startFailedEvent; }
    platform::Event kill() const { return _killEvent; }
    platform::Event stopped() const { return _stoppedEvent; }
    bool HasThread() const { return _thread != nullptr; }

    std::atomic<int> terminations{0};

  protected:
    void OnTerminated() override { terminations.fetch_add(1); }

  private:
    Body _body;
};

// Reports its start, waits for the kill event, reports its end.
uint32_t CooperativeBody(TestWorker& self) {
    platform::SetEvent(self.started());
    platform::WaitForEvent(self.kill(), platform::kInfinite);
    platform::SetEvent(self.stopped());
    return 0;
}

uint32_t SelfEndingBody(TestWorker& self) {
    platform::SetEvent(self.started());
    platform::SetEvent(self.stopped());
    return 0;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(WorkerThread, StopOnNeverStartedObjectTouchesNothing) {
    TestWorker worker(CooperativeBody);
    auto start = Clock::now();
    worker.Stop();
    EXPECT_LT(SecondsSince(start), 0.5);
    EXPECT_FALSE(worker.IsRunning());
    EXPECT_FALSE(worker.HasThread());
    EXPECT_FALSE(IsSet(worker.kill()));
}

TEST(WorkerThread, StartWaitsForTheBodyAndStopEndsItByKillEvent) {
    TestWorker worker(CooperativeBody);
    ASSERT_TRUE(worker.Start());
    EXPECT_TRUE(IsSet(worker.started()));
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_TRUE(worker.IsActive());

    auto start = Clock::now();
    worker.Stop();
    EXPECT_LT(SecondsSince(start), 2.0);
    EXPECT_TRUE(IsSet(worker.stopped()));
    EXPECT_TRUE(worker.HasEnded());
    EXPECT_FALSE(worker.IsActive());
    EXPECT_EQ(worker.terminations.load(), 0);
    // The running flag is never cleared: stop and close keep working on it.
    EXPECT_TRUE(worker.IsRunning());
}

TEST(WorkerThread, StopAfterSelfEndedBodyReturnsAtOnce) {
    TestWorker worker(SelfEndingBody);
    ASSERT_TRUE(worker.Start());
    ASSERT_TRUE(worker.HasEnded(10000));
    auto start = Clock::now();
    worker.Stop();
    EXPECT_LT(SecondsSince(start), 0.5);
    EXPECT_EQ(worker.terminations.load(), 0);
    EXPECT_TRUE(worker.IsRunning());
}

TEST(WorkerThread, BodyThatFailsToStartMakesStartFalse) {
    TestWorker worker([](TestWorker& self) -> uint32_t {
        platform::SetEvent(self.startFailed());
        return 1;
    });
    EXPECT_FALSE(worker.Start());
    EXPECT_FALSE(worker.IsRunning());
    // The failed thread is reaped by the next start.
    worker.SetBody(SelfEndingBody);
    EXPECT_TRUE(worker.Start());
    EXPECT_TRUE(worker.IsRunning());
}

TEST(WorkerThread, BodyIgnoringKillEventIsTerminatedAfterTheWait) {
    std::atomic<int> sleeps{0};
    TestWorker worker([&sleeps](TestWorker& self) -> uint32_t {
        platform::SetEvent(self.started());
        for (;;) {
            platform::PollSleep(5);
            sleeps.fetch_add(1);
        }
    });
    ASSERT_TRUE(worker.Start());
    auto start = Clock::now();
    worker.Stop();
    double waited = SecondsSince(start);
    EXPECT_GE(waited, 4.9);
    EXPECT_LT(waited, 15.0);
    EXPECT_TRUE(worker.HasEnded());
    EXPECT_EQ(worker.terminations.load(), 1);
    // Terminated, not ended by itself: the stopped event stays clear.
    EXPECT_FALSE(IsSet(worker.stopped()));
    int after = sleeps.load();
    platform::Sleep(30);
    EXPECT_EQ(sleeps.load(), after);

    // The thread is gone; a further Stop has nothing to wait for.
    auto again = Clock::now();
    worker.Stop();
    EXPECT_LT(SecondsSince(again), 0.5);
}

TEST(WorkerThread, SecondRunStartsWithClearEvents) {
    TestWorker worker(CooperativeBody);
    ASSERT_TRUE(worker.Start());
    worker.Stop();
    ASSERT_TRUE(IsSet(worker.kill()));
    ASSERT_TRUE(IsSet(worker.stopped()));

    std::atomic<bool> killSeenAtStart{true};
    std::atomic<bool> stoppedSeenAtStart{true};
    worker.SetBody([&](TestWorker& self) -> uint32_t {
        killSeenAtStart = IsSet(self.kill());
        stoppedSeenAtStart = IsSet(self.stopped());
        return CooperativeBody(self);
    });
    ASSERT_TRUE(worker.Start());
    EXPECT_FALSE(killSeenAtStart.load());
    EXPECT_FALSE(stoppedSeenAtStart.load());
    EXPECT_TRUE(worker.IsActive());
    worker.Stop();
    EXPECT_TRUE(worker.HasEnded());
}

TEST(WorkerThread, StartIsRefusedWhileTheEarlierThreadRuns) {
    TestWorker worker(CooperativeBody);
    ASSERT_TRUE(worker.Start());
    EXPECT_FALSE(worker.Start());
    EXPECT_TRUE(worker.IsActive());
    worker.Stop();
    EXPECT_TRUE(worker.Start());
    worker.Stop();
}

TEST(WorkerThread, DestroyingARunningObjectEndsItsThreadFirst) {
    std::atomic<bool> ended{false};
    {
        TestWorker worker([&ended](TestWorker& self) -> uint32_t {
            CooperativeBody(self);
            ended = true;
            return 0;
        });
        ASSERT_TRUE(worker.Start());
    }
    EXPECT_TRUE(ended.load());
}

}  // namespace
}  // namespace nadixq
