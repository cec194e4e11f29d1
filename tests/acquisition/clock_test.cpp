// CPerfTimer and CTimeStampClock: stopwatch states, the overhead correction,
// copies that leave the original running, and time stamps that never go back.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquisition/perf_timer.h"
#include "acquisition/time_stamp_clock.h"
#include "platform/platform.h"

namespace nadixq {
namespace {

// Records the order of the Lock/Unlock hooks of every timer it is part of.
class RecordingTimer : public CPerfTimer {
  public:
    RecordingTimer(std::vector<std::string>* log, std::string name)
        : CPerfTimer(false), _log(log), _name(std::move(name)) {}
    void Lock() const override { _log->push_back(_name + " lock"); }
    void Unlock() const override { _log->push_back(_name + " unlock"); }

  private:
    std::vector<std::string>* _log;
    std::string _name;
};

TEST(PerfTimer, NeverStartedReadsZero) {
    CPerfTimer timer;
    EXPECT_EQ(timer.ElapsedMs(), 0.0);
    timer.Stop();
    EXPECT_EQ(timer.ElapsedMs(), 0.0);
}

TEST(PerfTimer, StopKeepsTimeAndResumeOrRestartDecideAboutIt) {
    CPerfTimer timer(true);
    platform::Sleep(20);
    timer.Stop();
    double first = timer.ElapsedMs();
    EXPECT_GE(first, 19.0);
    EXPECT_LT(first, 2000.0);

    // Stopped: time does not pass, and a second Stop changes nothing.
    platform::Sleep(20);
    EXPECT_EQ(timer.ElapsedMs(), first);
    timer.Stop();
    EXPECT_EQ(timer.ElapsedMs(), first);

    // Resumed: the accumulated time is kept.
    timer.Start(false);
    platform::Sleep(20);
    timer.Stop();
    double resumed = timer.ElapsedMs();
    EXPECT_GE(resumed, first + 19.0);

    // Restarted: it is discarded.
    timer.Start(true);
    timer.Stop();
    EXPECT_LT(timer.ElapsedMs(), first);
}

TEST(PerfTimer, ElapsedLeavesARunningTimerRunning) {
    CPerfTimer timer(true);
    double a = timer.ElapsedMs();
    platform::Sleep(10);
    double b = timer.ElapsedMs();
    EXPECT_GE(b, a + 9.0);

    CPerfTimer copy(timer);
    platform::Sleep(10);
    EXPECT_GE(copy.ElapsedMs(), b + 9.0);  // the copy runs from the same start
}

TEST(PerfTimer, CopyTakesSourceLockFirstAndReleasesItLast) {
    std::vector<std::string> log;
    RecordingTimer source(&log, "source");
    RecordingTimer target(&log, "target");
    log.clear();
    static_cast<CPerfTimer&>(target) = source;
    EXPECT_EQ(log, (std::vector<std::string>{"source lock", "target lock", "target unlock",
                                             "source unlock"}));
    log.clear();
    CPerfTimer& base = target;
    const CPerfTimer& same = target;
    base = same;
    EXPECT_TRUE(log.empty());
}

TEST(TimeStampClock, StartsAtTheWallClockAndNeverGoesBack) {
    double before = platform::WallClockMs();
    CTimeStampClock clock;
    ASSERT_TRUE(clock.UsesCounter());
    double previous = clock.Now();
    EXPECT_GE(previous, before - 1.0);
    EXPECT_LT(previous, before + 1000.0);
    for (int i = 0; i < 100000; ++i) {
        double now = clock.Now();
        ASSERT_GE(now, previous) << "reading " << i;
        previous = now;
    }
    // Still tied to the wall clock after a while (no drift in milliseconds).
    platform::Sleep(50);
    EXPECT_NEAR(clock.Now(), platform::WallClockMs(), 50.0);  // two reads, maybe preempted
}

TEST(TimeStampClock, WithoutCounterEveryReadingIsTheWallClock) {
    CTimeStampClock clock(false);
    EXPECT_FALSE(clock.UsesCounter());
    for (int i = 0; i < 3; ++i) {
        double wallBefore = platform::WallClockMs();
        double now = clock.Now();
        double wallAfter = platform::WallClockMs();
        EXPECT_GE(now, wallBefore);
        EXPECT_LE(now, wallAfter);
        platform::Sleep(5);
    }
}

}  // namespace
}  // namespace nadixq
