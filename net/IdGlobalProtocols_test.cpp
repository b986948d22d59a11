#include "net/IdGlobalProtocols.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

TDateTime DateTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  TDateTime date = 0;
  TDateTime time = 0;
  EXPECT_TRUE(TryEncodeDate(year, month, day, date));
  EXPECT_TRUE(TryEncodeTime(hour, minute, second, 0, time));
  return date + time;
}

// Local minus universal time in minutes, found the long way round (from the clock's two broken-down readings)
// rather than from the time-zone query the code under test makes.
int64_t LocalOffsetMinutes() {
#if defined(_WIN32)
  SYSTEMTIME local;
  SYSTEMTIME utc;
  GetLocalTime(&local);
  GetSystemTime(&utc);
  auto encode = [](const SYSTEMTIME& t) { return DateTime(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond); };
  const double minutes = (encode(local) - encode(utc)) * kMinutesPerDay;
  // The two readings may straddle a second; offsets are whole quarter hours.
  return static_cast<int64_t>(std::llround(minutes / 15.0)) * 15;
#else
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return static_cast<int64_t>(timegm(&local) - now) / 60;
#endif
}

std::string OffsetText(int64_t minutes) {
  const int64_t magnitude = minutes < 0 ? -minutes : minutes;
  char text[16];
  std::snprintf(text, sizeof text, "%c%02d%02d", minutes < 0 ? '-' : '+', static_cast<int>(magnitude / 60),
                static_cast<int>(magnitude % 60));
  return text;
}

// Universal time shifted to local time by the machine's current offset, to the millisecond.
int64_t AsLocal(TDateTime universal) {
  return DateTimeToMilliseconds(universal + static_cast<double>(LocalOffsetMinutes()) / kMinutesPerDay);
}

// The checks every time zone must pass.
void ExpectDateReaderAndWriterAgreeWithTheClock() {
  const int64_t expected = AsLocal(DateTime(1994, 11, 6, 8, 49, 37));
  // The two standard forms with a weekday, a day, a month name, a year, a time and GMT.
  EXPECT_EQ(DateTimeToMilliseconds(GMTToLocalDateTime("Sun, 06 Nov 1994 08:49:37 GMT")), expected);
  EXPECT_EQ(DateTimeToMilliseconds(GMTToLocalDateTime("Sunday, 06-Nov-94 08:49:37 GMT")), expected);
  // Numeric zones take the text to universal time first.
  EXPECT_EQ(DateTimeToMilliseconds(GMTToLocalDateTime("Sun, 06 Nov 1994 10:49:37 +0200")), expected);
  EXPECT_EQ(DateTimeToMilliseconds(GMTToLocalDateTime("Sun, 06 Nov 1994 07:19:37 -0130")), expected);
  // The third form reads its time as the year: the given day and month of 1900 at midnight.
  EXPECT_EQ(DateTimeToMilliseconds(GMTToLocalDateTime("Sun Nov  6 08:49:37 1994")), AsLocal(DateTime(1900, 11, 6)));

  // The writer names the machine's offset, and what it writes reads back as the same moment.
  const TDateTime moment = DateTime(2021, 3, 9, 17, 5, 2);
  const std::string written = DateTimeToInternetStr(moment);
  EXPECT_EQ(written, "Tue, 9 Mar 2021 17:05:02 " + OffsetText(LocalOffsetMinutes()));
  EXPECT_EQ(DateTimeToMilliseconds(GMTToLocalDateTime(written)), DateTimeToMilliseconds(moment));
  EXPECT_EQ(DateTimeToInternetStr(moment, true),
            "Tue, 9 Mar 2021 17:05:02 " + (LocalOffsetMinutes() == 0 ? "GMT" : OffsetText(LocalOffsetMinutes())));
  EXPECT_EQ(DateTimeToMilliseconds(OffsetFromUTC()), LocalOffsetMinutes() * 60000);
}

TEST(InternetDates, ReadAndWrittenInThisMachinesTimeZone) { ExpectDateReaderAndWriterAgreeWithTheClock(); }

#if !defined(_WIN32)
// The machine's own zone may well be universal time; these zones give the offset arithmetic something to do.
TEST(InternetDates, ReadAndWrittenInOtherTimeZones) {
  const char* saved = std::getenv("TZ");
  const std::string restore = saved ? saved : "";
  struct Zone {
    const char* tz;
    int64_t minutes;
  };
  const Zone zones[] = {{"UTC0", 0}, {"IST-5:30", 330}, {"PST8", -480}, {"NPT-5:45", 345}, {"NST3:30", -210}};
  for (const Zone& zone : zones) {
    SCOPED_TRACE(zone.tz);
    setenv("TZ", zone.tz, 1);
    tzset();
    ASSERT_EQ(LocalOffsetMinutes(), zone.minutes);
    ExpectDateReaderAndWriterAgreeWithTheClock();
    EXPECT_EQ(UTCOffsetToStr(OffsetFromUTC()), OffsetText(zone.minutes));
  }
  if (saved) {
    setenv("TZ", restore.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}
#endif

TEST(InternetDates, TwoDigitYearsAndLooseSpellings) {
  auto read = [](const char* text) { return DateTimeToMilliseconds(GMTToLocalDateTime(text)); };
  EXPECT_EQ(read("Thu, 06 Nov 79 00:00:00 GMT"), AsLocal(DateTime(2079, 11, 6)));
  EXPECT_EQ(read("Thu, 06 Nov 80 00:00:00 GMT"), AsLocal(DateTime(1980, 11, 6)));
  EXPECT_EQ(read("06-Nov-00 12:00:00 GMT"), AsLocal(DateTime(2000, 11, 6, 12)));
  EXPECT_EQ(read("sun, 06 nov 1994 08:49:37 gmt"), AsLocal(DateTime(1994, 11, 6, 8, 49, 37)));
  EXPECT_EQ(read("Nov 06 1994 08:49:37 GMT"), AsLocal(DateTime(1994, 11, 6, 8, 49, 37)));  // month first
  EXPECT_EQ(read("  06 Nov 1994  "), AsLocal(DateTime(1994, 11, 6)));                      // no time
  EXPECT_EQ(read("06-Nov-1994"), AsLocal(DateTime(1994, 11, 6)));                          // dashes, nothing else
  EXPECT_EQ(read("xx Nov 1994 01:02:03 GMT"), AsLocal(DateTime(1994, 11, 1, 1, 2, 3)));    // no day: the 1st
  EXPECT_EQ(read("06 Nov 1994 01:02 GMT"), AsLocal(DateTime(1994, 11, 6, 1, 2)));          // no seconds
  EXPECT_EQ(read("06 Nov 1994 01:02:03 +ab12"), AsLocal(DateTime(1994, 11, 6, 1, 2, 3)));  // unreadable zone
  EXPECT_EQ(read("06 Nov 1994 01:02:03 +01"), AsLocal(DateTime(1994, 11, 6, 1, 2, 3)));    // too short a zone
  // A year that is no number (or too big for one) is 1900.
  EXPECT_EQ(read("06 Nov 99999999999999999999 01:00:00 GMT"), AsLocal(DateTime(1900, 11, 6, 1)));
  EXPECT_EQ(read("06 Nov abc"), AsLocal(DateTime(1900, 11, 6)));
}

TEST(InternetDates, TextThatNamesNoValidDateOrTimeReadsAsNone) {
  for (const char* text :
       {"", "   ", "garbage", "Sun,", "31 Feb 2001 00:00:00 GMT", "06 Nov 1994 25:00:00 GMT",
        "06 Nov 1994 10:61:00 GMT", "06 Foo 1994 00:00:00 GMT", "06 Nov 10000 00:00:00 GMT", "0 Nov 1994"}) {
    EXPECT_EQ(GMTToLocalDateTime(text), 0) << text;
  }
}

TEST(InternetDates, OffsetTexts) {
  // Each zone's own offset is written above; these are a two-digit hour and the two forms of no offset.
  EXPECT_EQ(UTCOffsetToStr(-12.0 / 24), "-1200");
  EXPECT_EQ(UTCOffsetToStr(0), "+0000");
  EXPECT_EQ(UTCOffsetToStr(0, true), "GMT");
}

TEST(TextHelpers, StrictDecimals) {
  int64_t value = 99;
  EXPECT_TRUE(TryStrToDecimal("-9223372036854775808", value));
  EXPECT_EQ(value, INT64_MIN);
  EXPECT_TRUE(TryStrToDecimal("9223372036854775807", value));
  EXPECT_EQ(value, INT64_MAX);
  value = 7;
  for (const char* bad : {"", "-", " 1", "1 ", "$10", "0x10", "1e3", "9223372036854775808", "--1"}) {
    EXPECT_FALSE(TryStrToDecimal(bad, value)) << bad;
  }
  EXPECT_FALSE(TryStrToDecimal("-1", value, false));
  EXPECT_EQ(value, 7);
}

}  // namespace
