#include "net/IdGlobalProtocols.h"

#include <cmath>
#include <limits>

#include "net/IdException.h"
#include "net/IdResourceStrings.h"
#include "rtl/SysUtils.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

namespace {

constexpr const char* kWeekdayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Two-digit years below this belong to the 2000s, the others to the 1900s.
constexpr int kTwoDigitYearPivot = 80;
// The year of a date whose year is no number.
constexpr int kYearWhenUnreadable = 1900;
// The shortest rest after the time that can hold a numeric zone ("+hhmm").
constexpr size_t kNumericZoneLength = 5;

bool StartsWithWeekday(const std::string& text) {
  if (text.size() < 3) return false;
  const std::string head = UpperCase(text.substr(0, 3));
  for (const char* name : kWeekdayNames) {
    if (head == UpperCase(name)) return true;
  }
  return false;
}

// 1..12 for a month abbreviation (the whole word, any case), 0 otherwise.
int MonthOf(const std::string& word) {
  const std::string upper = UpperCase(word);
  for (int i = 0; i < 12; ++i) {
    if (upper == UpperCase(kMonthNames[i])) return i + 1;
  }
  return 0;
}

// A date part: digits only, within the range of a 32-bit integer; fallback otherwise.
int NumberOr(const std::string& text, int fallback) {
  int64_t value = 0;
  if (!TryStrToDecimal(text, value, false) || value > std::numeric_limits<int32_t>::max()) return fallback;
  return static_cast<int>(value);
}

// Reads the date and time of an internet date text, in the zone the text names; leaves in text what follows the
// time. False when the text names no valid date or time.
bool ReadRawDateTime(std::string& text, TDateTime& result) {
  if (StartsWithWeekday(text)) {
    // The whole first word goes, so a full weekday name ("Sunday,") is dropped as well as an abbreviation.
    Fetch(text, " ");
    text = TrimLeft(text);
  }

  const size_t dash = text.find('-');
  const size_t space = text.find(' ');
  const bool dashed = dash != std::string::npos && dash > 0 && (space == std::string::npos || dash < space);
  const std::string separator = dashed ? "-" : " ";

  int day = 1;
  int month = 0;
  std::string first = Fetch(text, separator);
  text = TrimLeft(text);
  month = MonthOf(first);
  if (month != 0) {
    day = NumberOr(Fetch(text, separator), 1);
    text = TrimLeft(text);
  } else {
    day = NumberOr(first, 1);
    month = MonthOf(Fetch(text, separator));
    text = TrimLeft(text);
  }

  int year = NumberOr(Fetch(text, " "), kYearWhenUnreadable);
  if (year >= 0 && year < kTwoDigitYearPivot) {
    year += 2000;
  } else if (year >= kTwoDigitYearPivot && year < 100) {
    year += 1900;
  }
  text = TrimLeft(text);

  int hour = 0;
  int minute = 0;
  int second = 0;
  if (text.find(':') != std::string::npos) {
    std::string time = Fetch(text, " ");
    hour = NumberOr(Fetch(time, ":"), 0);
    minute = NumberOr(Fetch(time, ":"), 0);
    second = NumberOr(Fetch(time, ":"), 0);
    text = TrimLeft(text);
  }

  TDateTime date = 0;
  TDateTime timeOfDay = 0;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hour, minute, second, 0, timeOfDay)) return false;
  result = date + timeOfDay;
  return true;
}

// The zone offset that a rest such as "+0200" names, in days; 0 for zone names ("GMT") and unreadable digits.
TDateTime ZoneOffsetOf(const std::string& rest) {
  if (rest.size() < kNumericZoneLength || (rest[0] != '+' && rest[0] != '-')) return 0;
  int64_t hours = 0;
  int64_t minutes = 0;
  if (!TryStrToDecimal(rest.substr(1, 2), hours, false) || !TryStrToDecimal(rest.substr(3, 2), minutes, false)) {
    return 0;
  }
  const TDateTime offset = static_cast<TDateTime>(hours * 60 + minutes) / kMinutesPerDay;
  return rest[0] == '-' ? -offset : offset;
}

}  // namespace

bool IsLeadByte(char c) {
#if defined(_WIN32)
  return IsDBCSLeadByte(static_cast<BYTE>(c)) != 0;
#else
  (void)c;
  return false;
#endif
}

std::string Fetch(std::string& input, const std::string& delimiter) {
  const size_t at = input.find(delimiter);
  std::string result;
  if (at == std::string::npos) {
    result.swap(input);
  } else {
    result = input.substr(0, at);
    input.erase(0, at + delimiter.size());
  }
  return result;
}

bool TryStrToDecimal(const std::string& text, int64_t& value, bool allowSign) {
  size_t i = 0;
  bool negative = false;
  if (allowSign && !text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return false;
  // Accumulate negatively so that the lowest 64-bit value is reachable.
  int64_t accumulated = 0;
  const int64_t lowest = std::numeric_limits<int64_t>::min();
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return false;
    const int digit = c - '0';
    if (accumulated < (lowest + digit) / 10) return false;
    accumulated = accumulated * 10 - digit;
  }
  if (!negative) {
    if (accumulated == lowest) return false;
    accumulated = -accumulated;
  }
  value = accumulated;
  return true;
}

TDateTime OffsetFromUTC() {
#if defined(_WIN32)
  TIME_ZONE_INFORMATION info{};
  LONG bias = 0;
  switch (GetTimeZoneInformation(&info)) {
    case TIME_ZONE_ID_UNKNOWN:
      bias = info.Bias;
      break;
    case TIME_ZONE_ID_STANDARD:
      bias = info.Bias + info.StandardBias;
      break;
    case TIME_ZONE_ID_DAYLIGHT:
      bias = info.Bias + info.DaylightBias;
      break;
    default:
      throw EIdFailedToRetreiveTimeZoneInfo(IdResourceStrings::RSFailedTimeZoneInfo);
  }
  // The bias is universal time minus local time, in minutes.
  return static_cast<TDateTime>(-bias) / kMinutesPerDay;
#else
  const time_t now = time(nullptr);
  tm local{};
  if (now == static_cast<time_t>(-1) || localtime_r(&now, &local) == nullptr) {
    throw EIdFailedToRetreiveTimeZoneInfo(IdResourceStrings::RSFailedTimeZoneInfo);
  }
  return static_cast<TDateTime>(local.tm_gmtoff) / kSecondsPerDay;
#endif
}

std::string UTCOffsetToStr(TDateTime offset, bool useGMTStr) {
  const int64_t minutes = std::llround(offset * kMinutesPerDay);
  if (minutes == 0 && useGMTStr) return "GMT";
  const int64_t magnitude = minutes < 0 ? -minutes : minutes;
  return Format("%c%.2d%.2d", minutes < 0 ? '-' : '+', static_cast<int>(magnitude / 60),
                static_cast<int>(magnitude % 60));
}

std::string DateTimeToInternetStr(TDateTime value, bool isGMT) {
  int year, month, day, hour, minute, second, millisecond;
  DecodeDateTime(value, year, month, day, hour, minute, second, millisecond);
  return Format("%s, %d %s %d %s %s", kWeekdayNames[DayOfWeek(value) - 1], day, kMonthNames[month - 1], year,
                Format("%.2d:%.2d:%.2d", hour, minute, second).c_str(), UTCOffsetToStr(OffsetFromUTC(), isGMT).c_str());
}

TDateTime GMTToLocalDateTime(const std::string& text) {
  std::string rest = Trim(text);
  if (rest.empty()) return 0;
  TDateTime result = 0;
  if (!ReadRawDateTime(rest, result)) return 0;
  // The text's own zone takes it to universal time, the system's offset from there to local time.
  return result - ZoneOffsetOf(rest) + OffsetFromUTC();
}
