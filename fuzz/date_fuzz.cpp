// Any bytes as an internet date: the reader never fails, and whatever date it reads, the writer writes a text that
// reads back as the same moment.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdGlobalProtocols.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const TDateTime value = GMTToLocalDateTime(text);
  if (!std::isfinite(value)) std::abort();
  // Days at the very ends of the calendar can leave it once zone offsets are applied, and years below 100 read
  // back as two-digit years; the rest must round-trip.
  static TDateTime year100 = [] {
    TDateTime date = 0;
    TryEncodeDate(100, 1, 2, date);
    return date;
  }();
  if (value != 0 && value > year100 && value < kMaxDateTime - 2) {
    const std::string written = DateTimeToInternetStr(value);
    if (DateTimeToMilliseconds(GMTToLocalDateTime(written)) != DateTimeToMilliseconds(value)) std::abort();
  }
  return 0;
}
