#include "net/IdBuffer.h"

#include <algorithm>
#include <cstring>

#include "net/IdException.h"
#include "net/IdResourceStrings.h"

void TIdBuffer::RemoveFront(int64_t count) {
  if (count > bytes_.Size()) throw EIdNotEnoughDataInBuffer(IdResourceStrings::RSNotEnoughDataInBuffer);
  if (count <= 0) return;
  bytes_.RemoveFront(count);
  position_ = bytes_.Size() == 0 ? 0 : std::max<int64_t>(position_ - count, 0);
}

void TIdBuffer::Append(const void* buffer, int64_t count) {
  if (count <= 0) return;
  std::memcpy(ReserveTail(count), buffer, static_cast<size_t>(count));
  CommitTail(count);
}

char* TIdBuffer::ReserveTail(int64_t count) {
  const int64_t size = bytes_.Size();
  return bytes_.Room(size + std::max<int64_t>(count, 0)) + size;
}

void TIdBuffer::CommitTail(int64_t count) {
  if (count > 0) bytes_.Keep(bytes_.Size() + count);
}

std::string TIdBuffer::Text(int64_t count) const {
  return std::string(Memory(), static_cast<size_t>(std::clamp<int64_t>(count, 0, Size())));
}
