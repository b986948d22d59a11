#include "net/IdChunkedBody.h"

int32_t ChunkSize(const std::string& line) {
  const std::string digits = line.substr(0, line.find(' '));
  uint32_t value = 0;
  int significant = 0;
  for (char c : digits) {
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return 0;
    }
    if (significant > 0 || digit != 0) ++significant;
    if (significant > 8) return 0;
    value = (value << 4) | digit;
  }
  return static_cast<int32_t>(value);
}

bool ReadChunkedBody(TIdChunkSource& source, TStream& body, int64_t maxSize) {
  int64_t left = maxSize;
  for (int32_t size = ChunkSize(source.ReadLine()); size > 0; size = ChunkSize(source.ReadLine())) {
    if (size > left) return false;
    left -= size;
    source.ReadToStream(body, size);
    source.ReadLine();  // the line end after the chunk's bytes
  }
  source.ReadLine();  // the line end after the last chunk
  return true;
}
