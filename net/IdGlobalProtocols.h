// Text helpers shared by the protocol units, and the internet date-time reader and writer used for the "Date",
// "Expires" and "Last-Modified" headers and for cookie expiry.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/DateUtils.h"

// True for the first byte of a double-byte character in the system's ANSI code page. Single-byte code pages (and
// every platform but Windows, where text here is single-byte) have none.
bool IsLeadByte(char c);

// Removes from input the text up to the first delimiter and the delimiter itself, and returns that text; when the
// delimiter does not occur, returns the whole input and leaves it empty.
std::string Fetch(std::string& input, const std::string& delimiter = " ");

// A decimal number: an optional sign (when allowSign), then one or more digits and nothing else, within the range
// of a signed 64-bit integer. False (and value untouched) for anything else, blanks included.
bool TryStrToDecimal(const std::string& text, int64_t& value, bool allowSign = true);

// Local time minus universal time, in days, as the operating system reports it for this moment (daylight time
// included when it is in force). Raises EIdFailedToRetreiveTimeZoneInfo when the system cannot tell.
TDateTime OffsetFromUTC();

// A time-zone offset in days as a sign and four digits ("+0100", "-0530"); "GMT" for a zero offset when useGMTStr.
std::string UTCOffsetToStr(TDateTime offset, bool useGMTStr = false);

// Writes a local date-time as "Sun, 6 Nov 1994 08:49:37 +0100": weekday, day of the month, month, year, time and
// the local offset from universal time ("GMT" in its place when the offset is 0 and isGMT is asked for).
std::string DateTimeToInternetStr(TDateTime value, bool isGMT = false);

// Reads an internet date-time text (any of the three forms HTTP servers send, with a numeric zone offset or a zone
// name) and returns it as a local date-time. Text that names no valid date or time gives 0; only a failure to read
// the system's time-zone information raises (EIdFailedToRetreiveTimeZoneInfo).
TDateTime GMTToLocalDateTime(const std::string& text);
