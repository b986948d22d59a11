// Date-time values: a day count since 30 December 1899 as a double, the fraction being the time of day, in local
// time; 0 means "none". Days before that date are negative and keep the time of day as value - floor(value), so
// adding or subtracting hours works the same on both sides of day 0.
#pragma once

#include <cstdint>

using TDateTime = double;

inline constexpr double kHoursPerDay = 24.0;
inline constexpr double kMinutesPerDay = 24.0 * 60.0;
inline constexpr double kSecondsPerDay = 24.0 * 60.0 * 60.0;
inline constexpr double kMSecsPerDay = 24.0 * 60.0 * 60.0 * 1000.0;

// The first and the last moment a date-time can encode: 1 January 0001 and 31 December 9999 23:59:59.999.
inline constexpr TDateTime kMinDateTime = -693593.0;
inline constexpr TDateTime kMaxDateTime = 2958465.99999999;

bool IsLeapYear(int year);
int DaysInMonth(int year, int month);

// Year 1..9999, month 1..12, day within the month; false (and result untouched) otherwise.
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
// Hour 0..23, minute and second 0..59, millisecond 0..999; false (and result untouched) otherwise.
bool TryEncodeTime(int hour, int minute, int second, int millisecond, TDateTime& result);

// Splits a date-time into its parts, rounded to the millisecond. Values outside kMinDateTime..kMaxDateTime (and
// values that are not numbers) are clamped into that range first, so every input gives a valid calendar date.
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& minute, int& second,
                    int& millisecond);
void DecodeDate(TDateTime value, int& year, int& month, int& day);
void DecodeTime(TDateTime value, int& hour, int& minute, int& second, int& millisecond);

// 1 = Sunday ... 7 = Saturday.
int DayOfWeek(TDateTime value);

// The local date and time of the system clock, to the millisecond.
TDateTime Now();

// The date-time rounded to whole milliseconds, as a count since day 0; lets two date-times that went through
// different arithmetic be compared without floating-point noise.
int64_t DateTimeToMilliseconds(TDateTime value);
