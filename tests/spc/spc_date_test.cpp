// The SPC date word: rounding to the minute, the local time zone and the ends
// of its range. Every case runs under a time zone fixed by the test.
#include "spc/spc_date.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "support/time_zone.h"

namespace nadixq {
namespace {

// Seconds since 1970 of a UTC civil date, computed without the C library.
int64_t UtcSeconds(int year, int month, int day, int hour, int minute, int second) {
    year -= month <= 2 ? 1 : 0;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yoe = year - era * 400;
    const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

double UtcMs(int year, int month, int day, int hour, int minute, int second, int ms = 0) {
    return static_cast<double>(UtcSeconds(year, month, day, hour, minute, second)) * 1000.0 + ms;
}

uint32_t Word(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute) {
    return year << 20 | month << 16 | day << 11 | hour << 6 | minute;
}

class PackSpcDateTest : public ::testing::Test {
  protected:
    void UseZone(const char* zone) { _zone.Use(zone); }

  private:
    test::ScopedTimeZone _zone{"UTC0"};
};

TEST_F(PackSpcDateTest, RoundsToTheNearestMinuteWithHalvesUp) {
    EXPECT_EQ(PackSpcDate(UtcMs(2024, 3, 15, 12, 34, 29, 999)), Word(2024, 3, 15, 12, 34));
    EXPECT_EQ(PackSpcDate(UtcMs(2024, 3, 15, 12, 34, 30, 0)), Word(2024, 3, 15, 12, 35));
    EXPECT_EQ(PackSpcDate(UtcMs(2024, 3, 15, 12, 34, 0, 0)), Word(2024, 3, 15, 12, 34));
}

TEST_F(PackSpcDateTest, RoundingCarriesIntoTheNextYear) {
    EXPECT_EQ(PackSpcDate(UtcMs(2023, 12, 31, 23, 59, 30)), Word(2024, 1, 1, 0, 0));
    EXPECT_EQ(PackSpcDate(UtcMs(2023, 12, 31, 23, 59, 29, 999)), Word(2023, 12, 31, 23, 59));
}

TEST_F(PackSpcDateTest, UsesTheLocalTimeZone) {
    // A zone half an hour off the hour moves both the hour and the minute.
    UseZone("IST-5:30");
    EXPECT_EQ(PackSpcDate(UtcMs(2024, 3, 15, 12, 34, 0)), Word(2024, 3, 15, 18, 4));
    // ...and the date, late in the UTC day.
    EXPECT_EQ(PackSpcDate(UtcMs(2024, 2, 29, 20, 0, 0)), Word(2024, 3, 1, 1, 30));
}

TEST_F(PackSpcDateTest, IsZeroOutsideTheSigned32BitSecondsRange) {
    EXPECT_EQ(PackSpcDate(-120000.0), 0u);  // two minutes before 1970
    EXPECT_EQ(PackSpcDate(-30001.0), 0u);   // rounds to the minute before 1970
    EXPECT_EQ(PackSpcDate(-30000.0), Word(1970, 1, 1, 0, 0));
    EXPECT_EQ(PackSpcDate(0.0), Word(1970, 1, 1, 0, 0));

    // The last whole minute that fits, and the one after it (past 2038).
    EXPECT_EQ(PackSpcDate(2147483640000.0), Word(2038, 1, 19, 3, 14));
    EXPECT_EQ(PackSpcDate(2147483670000.0), 0u);
    EXPECT_EQ(PackSpcDate(UtcMs(2100, 1, 1, 0, 0, 0)), 0u);
}

TEST_F(PackSpcDateTest, IsZeroForValuesThatAreNoTime) {
    EXPECT_EQ(PackSpcDate(std::numeric_limits<double>::quiet_NaN()), 0u);
    EXPECT_EQ(PackSpcDate(std::numeric_limits<double>::infinity()), 0u);
    EXPECT_EQ(PackSpcDate(-std::numeric_limits<double>::infinity()), 0u);
}

}  // namespace
}  // namespace nadixq
