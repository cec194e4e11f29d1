// The simulated board's pacing, on synthetic time: a scan per period on an
// exact grid, no burst of stale scans after a stall, and a fresh start after
// an idle spell.
#include <gtest/gtest.h>

#include "sim/scan_clock.h"

namespace {

using nadixq::sim::CScanClock;

constexpr int64_t kPeriod = 100;
constexpr int64_t kIdle = 1000;

TEST(SimScanClock, CompletesOncePerPeriodOnAnExactGrid) {
    CScanClock clock;
    clock.SetPeriod(kPeriod);
    EXPECT_FALSE(clock.Poll(0, kIdle));  // the first poll starts the sweep
    EXPECT_FALSE(clock.Poll(99, kIdle));
    EXPECT_TRUE(clock.Poll(103, kIdle));  // a little late...
    EXPECT_FALSE(clock.Poll(150, kIdle));
    EXPECT_TRUE(clock.Poll(200, kIdle));   // ...but the next is still due at 200
    EXPECT_FALSE(clock.Poll(200, kIdle));  // and only once
}

TEST(SimScanClock, StalledHostGetsOneScanNotABurst) {
    CScanClock clock;
    clock.SetPeriod(kPeriod);
    clock.Rearm(0);
    EXPECT_TRUE(clock.Poll(350, kIdle));  // three and a half periods late
    EXPECT_FALSE(clock.Poll(360, kIdle));
    EXPECT_FALSE(clock.Poll(449, kIdle));
    EXPECT_TRUE(clock.Poll(450, kIdle));  // a whole period after the late one
}

TEST(SimScanClock, IdleBoardStartsAFreshScanOnTheNextPoll) {
    CScanClock clock;
    clock.SetPeriod(kPeriod);
    clock.Rearm(0);
    EXPECT_TRUE(clock.Poll(100, kIdle));
    // Nobody polled for longer than a scan and the grace: no run was going.
    EXPECT_FALSE(clock.Poll(100 + kPeriod + kIdle + 1, kIdle));
    EXPECT_FALSE(clock.Poll(100 + kPeriod + kIdle + 50, kIdle));
    EXPECT_TRUE(clock.Poll(100 + 2 * kPeriod + kIdle + 1, kIdle));
}

}  // namespace
