#include "rtl/Classes.h"

#include <cstring>
#include <limits>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#endif

namespace {
constexpr char kStreamReadError[] = "Stream read error";
constexpr char kStreamWriteError[] = "Stream write error";
constexpr char kCannotCreateFile[] = "Cannot create file %s";
}  // namespace

// ---- TStream ----

int64_t TStream::Size() {
  int64_t position = Seek(0, TSeekOrigin::soCurrent);
  int64_t size = Seek(0, TSeekOrigin::soEnd);
  Seek(position, TSeekOrigin::soBeginning);
  return size;
}

void TStream::SetSize(int64_t /*size*/) {}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError(kStreamReadError);
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError(kStreamWriteError);
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  const int64_t total = count;
  constexpr int64_t kChunk = int64_t{64} * 1024;
  std::vector<char> buffer(static_cast<size_t>(std::min(count, kChunk)));
  while (count > 0) {
    int64_t n = std::min(count, kChunk);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    count -= n;
  }
  return total;
}

// ---- TByteBuffer ----

void TByteBuffer::Fit(int64_t size) {
  const int64_t capacity = static_cast<int64_t>(storage_.size());
  if (head_ + size <= capacity) return;
  if (size <= capacity && head_ >= size_) {
    // The dropped front is at least as large as what is left: moving the rest down is paid for by the drops.
    std::memmove(storage_.data(), Data(), static_cast<size_t>(size_));
    head_ = 0;
    return;
  }
  const int64_t grown = std::max(size, capacity + capacity / 2 + 256);
  // Past what a string can hold (a 32-bit program's address space) is out of memory, as any other size that
  // cannot be had.
  if (static_cast<uint64_t>(grown) > storage_.max_size()) throw std::bad_alloc();
  std::string storage;
  storage.resize_and_overwrite(static_cast<size_t>(grown), [this](char* bytes, size_t length) {
    if (size_ > 0) std::memcpy(bytes, Data(), static_cast<size_t>(size_));
    return length;
  });
  storage_.swap(storage);
  head_ = 0;
  touched_ = size_;
}

char* TByteBuffer::Room(int64_t size) {
  Fit(size);
  const int64_t end = head_ + size;
  if (end > touched_) {
    // One write in every page not written yet; the last byte too, for a page that the steps skip at the end.
    char* room = storage_.data();
    constexpr int64_t kPageSize = 4096;
    for (int64_t at = touched_; at < end; at += kPageSize) room[at] = 0;
    room[end - 1] = 0;
    touched_ = end;
  }
  return Data();
}

void TByteBuffer::Keep(int64_t size) {
  size_ = std::clamp<int64_t>(size, 0, static_cast<int64_t>(storage_.size()) - head_);
  touched_ = std::max(touched_, head_ + size_);
}

void TByteBuffer::SetSize(int64_t size) {
  size = std::max<int64_t>(size, 0);
  if (size > size_) {
    Fit(size);
    std::memset(Data() + size_, 0, static_cast<size_t>(size - size_));
  }
  size_ = size;
  touched_ = std::max(touched_, head_ + size_);
}

void TByteBuffer::Reserve(int64_t size) noexcept {
  try {
    Fit(size);
  } catch (const std::bad_alloc&) {
    // Only a hint: room that cannot be had now is had step by step as the bytes come.
  }
}

void TByteBuffer::RemoveFront(int64_t count) {
  count = std::clamp<int64_t>(count, 0, size_);
  head_ += count;
  size_ -= count;
}

void TByteBuffer::Clear() {
  std::string().swap(storage_);
  head_ = 0;
  size_ = 0;
  touched_ = 0;
}

std::string TByteBuffer::Take() {
  storage_.resize(static_cast<size_t>(head_ + size_));
  if (head_ > 0) storage_.erase(0, static_cast<size_t>(head_));
  std::string bytes;
  bytes.swap(storage_);
  head_ = 0;
  size_ = 0;
  touched_ = 0;
  return bytes;
}

// ---- TMemoryStream ----

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= bytes_.Size()) return 0;
  const int64_t n = std::min(count, bytes_.Size() - position_);
  std::memcpy(buffer, bytes_.Data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  std::memcpy(WriteRoom(count), buffer, static_cast<size_t>(count));
  CommitRoom(count);
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  position_ = std::max<int64_t>(0, SeekTarget(position_, bytes_.Size(), offset, origin));
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  bytes_.SetSize(size);
  position_ = std::min(position_, bytes_.Size());
}

void TMemoryStream::Reserve(int64_t count) { bytes_.Reserve(position_ + std::max<int64_t>(count, 0)); }

char* TMemoryStream::WriteRoom(int64_t count) {
  const int64_t size = bytes_.Size();
  char* bytes = bytes_.Room(position_ + std::max<int64_t>(count, 0));
  // Bytes between the end and a position past it read as zero, as after a write there.
  if (position_ > size) {
    std::memset(bytes + size, 0, static_cast<size_t>(position_ - size));
    bytes_.Keep(position_);
  }
  return bytes + position_;
}

void TMemoryStream::CommitRoom(int64_t count) {
  if (count <= 0) return;
  position_ += count;
  bytes_.Keep(std::max(bytes_.Size(), position_));
}

void TMemoryStream::Clear() {
  bytes_.Clear();
  position_ = 0;
}

std::string TMemoryStream::TakeDataString() {
  position_ = 0;
  return bytes_.Take();
}

// ---- TFileStream ----

#if defined(_WIN32)

TFileStream::TFileStream(const std::string& fileName) {
  HANDLE handle = CreateFileA(fileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw EFCreateError(Format(kCannotCreateFile, fileName.c_str()));
  handle_ = reinterpret_cast<intptr_t>(handle);
}

TFileStream::~TFileStream() { CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

int64_t TFileStream::Read(void* buffer, int64_t count) {
  DWORD done = 0;
  if (count <= 0) return 0;
  DWORD want = static_cast<DWORD>(std::min<int64_t>(count, std::numeric_limits<DWORD>::max()));
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, want, &done, nullptr)) return 0;
  return done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t total = 0;
  const char* bytes = static_cast<const char*>(buffer);
  while (total < count) {
    DWORD want = static_cast<DWORD>(std::min<int64_t>(count - total, 1 << 30));
    DWORD done = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(handle_), bytes + total, want, &done, nullptr) || done == 0) break;
    total += done;
  }
  return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  LARGE_INTEGER result;
  DWORD method = origin == TSeekOrigin::soBeginning ? FILE_BEGIN
                 : origin == TSeekOrigin::soCurrent ? FILE_CURRENT
                                                    : FILE_END;
  if (!SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), distance, &result, method)) return -1;
  return result.QuadPart;
}

#else

TFileStream::TFileStream(const std::string& fileName) {
  int fd = ::open(fileName.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw EFCreateError(Format(kCannotCreateFile, fileName.c_str()));
  handle_ = fd;
}

TFileStream::~TFileStream() { ::close(static_cast<int>(handle_)); }

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  ssize_t done;
  do {
    done = ::read(static_cast<int>(handle_), buffer, static_cast<size_t>(count));
  } while (done < 0 && errno == EINTR);
  return done < 0 ? 0 : done;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  int64_t total = 0;
  const char* bytes = static_cast<const char*>(buffer);
  while (total < count) {
    ssize_t done = ::write(static_cast<int>(handle_), bytes + total, static_cast<size_t>(count - total));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) break;
    total += done;
  }
  return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
  return ::lseek(static_cast<int>(handle_), offset, whence);
}

#endif

// ---- TStringList ----

void TStringList::Put(int index, const std::string& text) { items_.at(static_cast<size_t>(index)) = text; }

int TStringList::Add(const std::string& text) {
  items_.push_back(text);
  return Count() - 1;
}

void TStringList::Insert(int index, const std::string& text) { items_.insert(items_.begin() + index, text); }

void TStringList::Delete(int index) { items_.erase(items_.begin() + index); }

void TStringList::Clear() { items_.clear(); }

int TStringList::IndexOf(const std::string& text) const {
  for (size_t i = 0; i < items_.size(); ++i) {
    if (SameText(items_[i], text)) return static_cast<int>(i);
  }
  return -1;
}

void TStringList::Assign(const TStringList& source) {
  if (&source != this) items_ = source.items_;
}

std::string TStringList::Text() const {
  size_t length = 0;
  for (const std::string& item : items_) length += item.size() + 2;
  std::string text;
  text.reserve(length);
  for (const std::string& item : items_) {
    text += item;
    text += "\r\n";
  }
  return text;
}

void TStringList::SaveToFile(const std::string& fileName) const {
  std::string text = Text();
  TFileStream file(fileName);
  file.WriteBuffer(text.data(), static_cast<int64_t>(text.size()));
}

// ---- TComponent ----

TComponent::TComponent(TComponent* owner) : owner_(nullptr) {
  if (owner != nullptr) {
    if (owner->IsLoading()) state_ |= kLoading;
    if (owner->IsDesigning()) state_ |= kDesigning;
    owner_ = owner;
    owner->components_.push_back(this);
    owner->Notification(this, TOperation::opInsert);
  }
}

TComponent::~TComponent() {
  Destroying();
  // Everyone who asked is told first, while this component's own list is still intact.
  while (!freeNotifies_.empty()) {
    TComponent* partner = freeNotifies_.back();
    freeNotifies_.pop_back();
    auto& theirs = partner->freeNotifies_;
    theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
    partner->Notification(this, TOperation::opRemove);
  }
  DestroyComponents();
  if (owner_ != nullptr) {
    TComponent* owner = owner_;
    auto& siblings = owner->components_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    owner_ = nullptr;
    owner->Notification(this, TOperation::opRemove);
  }
}

void TComponent::SetName(const std::string& name) { name_ = name; }

TComponent* TComponent::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (TComponent* component : components_) {
    if (SameText(component->name_, name)) return component;
  }
  return nullptr;
}

void TComponent::FreeNotification(TComponent* component) {
  if (component == nullptr || component == this) return;
  auto add = [](std::vector<TComponent*>& list, TComponent* c) {
    if (std::find(list.begin(), list.end(), c) == list.end()) list.push_back(c);
  };
  // Both sides keep the link so that whichever dies first can tell the other.
  add(component->freeNotifies_, this);
  add(freeNotifies_, component);
}

void TComponent::RemoveFreeNotification(TComponent* component) {
  if (component == nullptr) return;
  auto& mine = freeNotifies_;
  mine.erase(std::remove(mine.begin(), mine.end(), component), mine.end());
  auto& theirs = component->freeNotifies_;
  theirs.erase(std::remove(theirs.begin(), theirs.end(), this), theirs.end());
}

void TComponent::Destroying() {
  if (IsDestroying()) return;
  state_ |= kDestroying;
  for (TComponent* component : components_) component->Destroying();
}

void TComponent::Notification(TComponent* component, TOperation operation) {
  if (operation == TOperation::opRemove && component != nullptr) {
    auto& mine = freeNotifies_;
    mine.erase(std::remove(mine.begin(), mine.end(), component), mine.end());
  }
  // A copy: a handler may create or destroy components.
  std::vector<TComponent*> owned = components_;
  for (TComponent* child : owned) {
    if (child != component && std::find(components_.begin(), components_.end(), child) != components_.end()) {
      child->Notification(component, operation);
    }
  }
}

void TComponent::BeginLoading() { state_ |= kLoading; }

void TComponent::EndLoading() {
  std::vector<TComponent*> owned = components_;
  for (TComponent* child : owned) {
    if (std::find(components_.begin(), components_.end(), child) != components_.end() && child->IsLoading()) {
      child->Loaded();
    }
  }
  if (IsLoading()) Loaded();
}

void TComponent::Loaded() { state_ &= ~kLoading; }

void TComponent::SetDesigning(bool designing) {
  if (designing) {
    state_ |= kDesigning;
  } else {
    state_ &= ~kDesigning;
  }
}

void TComponent::DestroyComponents() {
  // The last created goes first. Each is taken off the list before its destructor runs, so the owner's broadcast
  // never reaches a half-destroyed sibling and the list is never walked while it changes.
  while (!components_.empty()) {
    TComponent* component = components_.back();
    components_.pop_back();
    component->owner_ = nullptr;
    delete component;
  }
}
