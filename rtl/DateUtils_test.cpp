#include "rtl/DateUtils.h"

#include <gtest/gtest.h>

#include <cmath>
#include <ctime>
#include <limits>
#include <tuple>

namespace {

struct DateCase {
  int year, month, day;
  double serial;
  int dayOfWeek;  // from Sunday, 1
};

TEST(DateUtils, EncodesCalendarDatesAsDaysSinceDayZeroAndCountsWeekdaysFromSunday) {
  const DateCase cases[] = {
      {1899, 12, 30, 0, 7},   {1899, 12, 31, 1, 1},       {1900, 1, 1, 2, 2},      {1900, 3, 1, 61, 5},
      {1970, 1, 1, 25569, 5}, {2000, 1, 1, 36526, 7},     {2000, 2, 29, 36585, 3}, {1994, 11, 6, 34644, 1},
      {1, 1, 1, -693593, 2},  {9999, 12, 31, 2958465, 6}, {1899, 12, 29, -1, 6},
  };
  for (const DateCase& c : cases) {
    TDateTime value = -12345;
    ASSERT_TRUE(TryEncodeDate(c.year, c.month, c.day, value)) << c.year << "-" << c.month << "-" << c.day;
    EXPECT_EQ(value, c.serial) << c.year << "-" << c.month << "-" << c.day;
    int y, m, d;
    DecodeDate(value, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, c.year * 10000 + c.month * 100 + c.day);
    EXPECT_EQ(DayOfWeek(value), c.dayOfWeek);
    EXPECT_EQ(DayOfWeek(value + 0.99), c.dayOfWeek);  // still the same day in the evening
  }
}

TEST(DateUtils, RejectsDatesAndTimesOutsideTheCalendar) {
  TDateTime untouched = 7;
  // 1900 was no leap year.
  const std::tuple<int, int, int> dates[] = {{1900, 2, 29}, {2023, 2, 29}, {2024, 4, 31}, {2024, 13, 1},
                                             {2024, 0, 1},  {2024, 1, 0},  {0, 1, 1},     {10000, 1, 1}};
  for (auto [y, m, d] : dates) EXPECT_FALSE(TryEncodeDate(y, m, d, untouched)) << y << "-" << m << "-" << d;
  const std::tuple<int, int, int, int> times[] = {
      {24, 0, 0, 0}, {0, 60, 0, 0}, {0, 0, 60, 0}, {0, 0, 0, 1000}, {-1, 0, 0, 0}};
  for (auto [h, m, s, ms] : times) EXPECT_FALSE(TryEncodeTime(h, m, s, ms, untouched)) << h << ":" << m << ":" << s;
  EXPECT_EQ(untouched, 7);
  EXPECT_TRUE(TryEncodeDate(2000, 2, 29, untouched));
  EXPECT_TRUE(TryEncodeTime(23, 59, 59, 999, untouched));
}

TEST(DateUtils, TimeOfDayRoundTripsToTheMillisecond) {
  TDateTime date = 0;
  TDateTime time = 0;
  ASSERT_TRUE(TryEncodeDate(1994, 11, 6, date));
  ASSERT_TRUE(TryEncodeTime(8, 49, 37, 250, time));
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(date + time, y, mo, d, h, mi, s, ms);
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s, ms}), (std::vector<int>{1994, 11, 6, 8, 49, 37, 250}));
  EXPECT_EQ(time, (8 * 3600 + 49 * 60 + 37.25) / 86400.0);
}

TEST(DateUtils, DecodingRoundsCarriesAndClamps) {
  int y, mo, d, h, mi, s, ms;
  DecodeDateTime(1.0 - 1e-10, y, mo, d, h, mi, s, ms);  // a hair before midnight of 31 December 1899
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s, ms}), (std::vector<int>{1899, 12, 31, 0, 0, 0, 0}));
  // Before day 0 the time of day is the fraction above the floor: -1.25 is 28 December 1899, 18:00.
  DecodeDateTime(-1.25, y, mo, d, h, mi, s, ms);
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s, ms}), (std::vector<int>{1899, 12, 28, 18, 0, 0, 0}));
  // Values outside the calendar, and values that are no numbers, decode to a valid date.
  DecodeDateTime(1e300, y, mo, d, h, mi, s, ms);
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s, ms}), (std::vector<int>{9999, 12, 31, 23, 59, 59, 999}));
  DecodeDateTime(-1e300, y, mo, d, h, mi, s, ms);
  EXPECT_EQ((std::vector<int>{y, mo, d, h, mi, s, ms}), (std::vector<int>{1, 1, 1, 0, 0, 0, 0}));
  DecodeDateTime(std::numeric_limits<double>::quiet_NaN(), y, mo, d, h, mi, s, ms);
  EXPECT_EQ((std::vector<int>{y, mo, d}), (std::vector<int>{1899, 12, 30}));
}

TEST(DateUtils, NowIsTheLocalWallClock) {
  // Compared with the C library's own local time, read just before and after.
  auto local = [] {
    std::time_t t = std::time(nullptr);
    std::tm parts = *std::localtime(&t);
    TDateTime date = 0, time = 0;
    TryEncodeDate(parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, date);
    TryEncodeTime(parts.tm_hour, parts.tm_min, parts.tm_sec > 59 ? 59 : parts.tm_sec, 0, time);
    return date + time;
  };
  const TDateTime before = local();
  const TDateTime now = Now();
  const TDateTime after = local();
  EXPECT_GE(DateTimeToMilliseconds(now), DateTimeToMilliseconds(before));
  EXPECT_LT(DateTimeToMilliseconds(now), DateTimeToMilliseconds(after) + 1000);
}

}  // namespace
