#include "net/IdBuffer.h"

#include <algorithm>
#include <cstring>

#include "net/IdException.h"
#include "net/IdResourceStrings.h"

void TIdBuffer::MakeRoom(int64_t size) {
  if (head_ + size <= capacity_) return;
  if (size <= capacity_ && head_ >= size_) {
    // The dropped front is at least as large as what is left: moving the rest down is paid for by the drops.
    std::memmove(data_.get(), data_.get() + head_, static_cast<size_t>(size_));
    head_ = 0;
    return;
  }
  // Geometric growth keeps a long run of small appends linear.
  int64_t capacity = std::max<int64_t>(size, capacity_ + capacity_ / 2 + 256);
  std::unique_ptr<char[]> grown(new char[static_cast<size_t>(capacity)]);
  if (size_ > 0) std::memcpy(grown.get(), data_.get() + head_, static_cast<size_t>(size_));
  data_ = std::move(grown);
  capacity_ = capacity;
  head_ = 0;
}

int64_t TIdBuffer::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, Memory() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TIdBuffer::Write(const void* buffer, int64_t count) {
  if (count <= 0 || position_ < 0) return 0;
  int64_t end = position_ + count;
  if (end > size_) {
    MakeRoom(end);
    if (position_ > size_) std::memset(Memory() + size_, 0, static_cast<size_t>(position_ - size_));
    size_ = end;
  }
  std::memcpy(Memory() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TIdBuffer::Seek(int64_t offset, TSeekOrigin origin) {
  position_ = SeekTarget(position_, size_, offset, origin);
  return position_;
}

void TIdBuffer::SetSize(int64_t size) {
  if (size < 0) size = 0;
  if (size > size_) {
    MakeRoom(size);
    std::memset(Memory() + size_, 0, static_cast<size_t>(size - size_));
  }
  size_ = size;
  if (size_ == 0) head_ = 0;
  if (position_ > size_) position_ = size_;
}

void TIdBuffer::Clear() {
  data_.reset();
  capacity_ = 0;
  head_ = 0;
  size_ = 0;
  position_ = 0;
}

void TIdBuffer::RemoveFront(int64_t count) {
  if (count > size_) throw EIdNotEnoughDataInBuffer(IdResourceStrings::RSNotEnoughDataInBuffer);
  if (count <= 0) return;
  if (count == size_) {
    head_ = 0;
    size_ = 0;
    position_ = 0;
    return;
  }
  head_ += count;
  size_ -= count;
  position_ = std::max<int64_t>(position_ - count, 0);
}

void TIdBuffer::Append(const void* buffer, int64_t count) {
  if (count <= 0) return;
  std::memcpy(ReserveTail(count), buffer, static_cast<size_t>(count));
  size_ += count;
}

char* TIdBuffer::ReserveTail(int64_t count) {
  MakeRoom(size_ + std::max<int64_t>(count, 0));
  return Memory() + size_;
}

void TIdBuffer::CommitTail(int64_t count) {
  if (count <= 0) return;
  size_ = std::min(size_ + count, capacity_ - head_);
}

std::string TIdBuffer::Text(int64_t count) const {
  count = std::clamp<int64_t>(count, 0, size_);
  if (count == 0) return std::string();
  return std::string(Memory(), static_cast<size_t>(count));
}
