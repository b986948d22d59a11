#include "rtl/DateUtils.h"

#include <cmath>

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

namespace {

constexpr int64_t kMSecsPerDayInt = 86400000;
// Day number of 1 January 1970 counted from 30 December 1899.
constexpr int64_t kUnixEpochDay = 25569;

// Days from 1 January 1970 to the given civil date (proleptic Gregorian calendar).
int64_t DaysFromCivil(int64_t year, int64_t month, int64_t day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int& year, int& month, int& day) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t dayOfEra = days - era * 146097;
  const int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t monthIndex = (5 * dayOfYear + 2) / 153;
  day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
  month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
  year = static_cast<int>(yearOfEra + era * 400 + (month <= 2 ? 1 : 0));
}

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

// Whole milliseconds since day 0, clamped to the encodable range.
int64_t ClampedMilliseconds(TDateTime value) {
  const int64_t lowest = static_cast<int64_t>(kMinDateTime) * kMSecsPerDayInt;
  const int64_t highest = (static_cast<int64_t>(kMaxDateTime) + 1) * kMSecsPerDayInt - 1;
  if (std::isnan(value)) return 0;
  if (value <= kMinDateTime) return lowest;
  if (value >= kMaxDateTime + 1.0) return highest;
  int64_t ms = std::llround(value * kMSecsPerDay);
  if (ms < lowest) return lowest;
  if (ms > highest) return highest;
  return ms;
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) return false;
  result = static_cast<TDateTime>(DaysFromCivil(year, month, day) + kUnixEpochDay);
  return true;
}

bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || millisecond < 0 ||
      millisecond > 999) {
    return false;
  }
  const int64_t ms = ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
  result = static_cast<TDateTime>(ms) / kMSecsPerDay;
  return true;
}

void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond) {
  const int64_t ms = ClampedMilliseconds(value);
  const int64_t dayNumber = FloorDiv(ms, kMSecsPerDayInt);
  int64_t rest = ms - dayNumber * kMSecsPerDayInt;
  CivilFromDays(dayNumber - kUnixEpochDay, year, month, day);
  millisecond = static_cast<int>(rest % 1000);
  rest /= 1000;
  second = static_cast<int>(rest % 60);
  rest /= 60;
  minute = static_cast<int>(rest % 60);
  hour = static_cast<int>(rest / 60);
}

void DecodeDate(TDateTime value, int& year, int& month, int& day) {
  int hour, minute, second, millisecond;
  DecodeDateTime(value, year, month, day, hour, minute, second, millisecond);
}

void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond) {
  int year, month, day;
  DecodeDateTime(value, year, month, day, hour, minute, second, millisecond);
}

int DayOfWeek(TDateTime value) {
  const int64_t dayNumber = FloorDiv(ClampedMilliseconds(value), kMSecsPerDayInt);
  // Day 0, 30 December 1899, was a Saturday.
  int64_t index = (dayNumber + 6) % 7;
  if (index < 0) index += 7;
  return static_cast<int>(index) + 1;
}

TDateTime Now() {
  int year, month, day, hour, minute, second, millisecond;
#if defined(_WIN32)
  SYSTEMTIME st;
  GetLocalTime(&st);
  year = st.wYear;
  month = st.wMonth;
  day = st.wDay;
  hour = st.wHour;
  minute = st.wMinute;
  second = st.wSecond;
  millisecond = st.wMilliseconds;
#else
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local{};
  localtime_r(&ts.tv_sec, &local);
  year = local.tm_year + 1900;
  month = local.tm_mon + 1;
  day = local.tm_mday;
  hour = local.tm_hour;
  minute = local.tm_min;
  // A leap second shows as second 60; count it as the last second of the minute.
  second = local.tm_sec > 59 ? 59 : local.tm_sec;
  millisecond = static_cast<int>(ts.tv_nsec / 1000000);
#endif
  TDateTime date = 0;
  TDateTime time = 0;
  TryEncodeDate(year, month, day, date);
  TryEncodeTime(hour, minute, second, millisecond, time);
  return date + time;
}

int64_t DateTimeToMilliseconds(TDateTime value) { return ClampedMilliseconds(value); }
