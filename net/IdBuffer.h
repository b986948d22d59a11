// A growable in-memory byte stream that can also drop bytes from its front. Dropping is cheap: the bytes that are
// left stay where they are and the storage is compacted only when it has to grow, so a connection that takes one
// short line at a time off a full buffer does not move the rest of the buffer for every line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "rtl/Classes.h"

class TIdBuffer : public TStream {
 public:
  TIdBuffer() = default;
  TIdBuffer(const TIdBuffer&) = delete;
  TIdBuffer& operator=(const TIdBuffer&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return size_; }
  int64_t Size() const { return size_; }
  // New bytes are zero; the position is kept, clipped to the new size.
  void SetSize(int64_t size) override;
  void Clear();

  // Removes count bytes from the front. Raises EIdNotEnoughDataInBuffer "Not enough data in buffer." when fewer
  // are held. The position keeps pointing at the same byte (at the front when that byte was removed).
  void RemoveFront(int64_t count);

  // Appends bytes at the end without moving the position.
  void Append(const void* buffer, int64_t count);
  // Room for count more bytes at the end, to be filled in place and then kept with CommitTail. The pointer is valid
  // until the buffer changes.
  char* ReserveTail(int64_t count);
  void CommitTail(int64_t count);

  // The bytes, oldest first. Valid until the buffer changes.
  char* Memory() { return data_.get() + head_; }
  const char* Memory() const { return data_.get() + head_; }
  // The first count bytes (all when count is larger) as a text.
  std::string Text(int64_t count) const;
  std::string DataString() const { return Text(size_); }

 private:
  // Makes room for a total of size bytes from the front.
  void MakeRoom(int64_t size);

  std::unique_ptr<char[]> data_;
  int64_t capacity_ = 0;
  int64_t head_ = 0;  // offset of the first live byte in data_
  int64_t size_ = 0;
  int64_t position_ = 0;
};
