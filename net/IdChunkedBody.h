// A reply body sent in chunks ("Transfer-Encoding: chunked"), read as this client reads it: each chunk is a size
// line, that many bytes and the line that ends them; the body ends at the first chunk whose size is 0 or cannot be
// read, and the line after it.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/Classes.h"

// Where a chunked body's bytes come from: the connection in a fetch, a text in a test.
class TIdChunkSource {
 public:
  virtual ~TIdChunkSource() = default;
  // The next line without its line end (a line feed, and a carriage return before it).
  virtual std::string ReadLine() = 0;
  // Appends exactly count bytes to the stream.
  virtual void ReadToStream(TStream& stream, int64_t count) = 0;
};

// A size line's size: the text before its first space, read as a hexadecimal number (digits only, either case, at
// most 32 bits taken as signed). Anything unreadable is 0, which ends the body; so is a size that reads as negative.
int32_t ChunkSize(const std::string& line);

// Appends the chunks' bytes to the body. Whatever stands in the line after a chunk's bytes, or in the line after the
// last chunk, is read and dropped. False, before a byte of it is read, when a chunk would take the body past
// maxSize bytes.
bool ReadChunkedBody(TIdChunkSource& source, TStream& body, int64_t maxSize);
