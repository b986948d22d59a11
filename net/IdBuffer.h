// The connection's buffers: a memory stream that can also drop bytes from its front, cheaply (the storage skips
// them, see TByteBuffer), and take bytes at its end without moving its position.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/Classes.h"

class TIdBuffer : public TMemoryStream {
 public:
  // Removes count bytes from the front. Raises EIdNotEnoughDataInBuffer "Not enough data in buffer." when fewer
  // are held. The position keeps pointing at the same byte (at the front when that byte was removed).
  void RemoveFront(int64_t count);

  // Appends bytes at the end without moving the position.
  void Append(const void* buffer, int64_t count);
  // Room for count more bytes at the end, to be filled in place and then kept with CommitTail. The pointer is valid
  // until the buffer changes.
  char* ReserveTail(int64_t count);
  void CommitTail(int64_t count);

  // The first count bytes (all when count is larger) as a text.
  std::string Text(int64_t count) const;
};
