// Runtime collections and streams: the pointer list, the string list with save-to-file, the byte streams, and the
// component model (owner, owned components, name, states, after-loading call, removal notifications).
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rtl/SysUtils.h"

// An event callback that receives the object that fired it.
using TNotifyEvent = std::function<void(TObject* sender)>;

// Ordered list of object references. It owns nothing.
template <class T>
class TList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  T* Items(int index) const { return items_.at(static_cast<size_t>(index)); }
  T* operator[](int index) const { return Items(index); }
  int Add(T* item) {
    items_.push_back(item);
    return Count() - 1;
  }
  void Insert(int index, T* item) { items_.insert(items_.begin() + index, item); }
  void Delete(int index) { items_.erase(items_.begin() + index); }
  int IndexOf(const T* item) const {
    auto it = std::find(items_.begin(), items_.end(), item);
    return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
  }
  // Removes the first occurrence; returns its former index or -1.
  int Remove(const T* item) {
    int index = IndexOf(item);
    if (index >= 0) Delete(index);
    return index;
  }
  void Clear() { items_.clear(); }
  T* Last() const { return items_.back(); }
  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  std::vector<T*> items_;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A readable and writable byte stream with a size and a position.
class TStream : public TObject {
 public:
  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes count bytes; returns how many were written.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }
  virtual int64_t Size();
  virtual void SetSize(int64_t size);
  // A hint that about count more bytes will be written from the position: a stream that keeps its bytes in memory
  // may make room for them at once, without filling it. Changes neither size nor position; may do nothing.
  virtual void Reserve(int64_t /*count*/) {}
  // Room for count bytes at the position, to be written in place and then kept with CommitRoom, so that a reader can
  // receive straight into the stream; nullptr from a stream that keeps no bytes in memory (write to it instead).
  // Valid until the stream changes.
  virtual char* WriteRoom(int64_t /*count*/) { return nullptr; }
  // Keeps count bytes written into the room: the position moves past them and the size covers them.
  virtual void CommitRoom(int64_t /*count*/) {}

  // Read or write exactly count bytes, raising "Stream read error" / "Stream write error" otherwise.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's position (count 0: rewinds source and copies all of it). Returns the count.
  int64_t CopyFrom(TStream& source, int64_t count);

 protected:
  // Where a seek from the given position lands, for a stream of the given size (not clipped).
  static int64_t SeekTarget(int64_t position, int64_t size, int64_t offset, TSeekOrigin origin) {
    switch (origin) {
      case TSeekOrigin::soBeginning:
        return offset;
      case TSeekOrigin::soCurrent:
        return position + offset;
      case TSeekOrigin::soEnd:
        return size + offset;
    }
    return position;
  }
};

// Bytes in memory: the storage of the memory streams, and so of the connection's buffers and of a fetched body.
// Every user gets the same rules:
// - it grows by half of what it has (at least 256 bytes), so a long run of small writes stays linear;
// - room it makes is not filled first: whoever asked for it writes it (SetSize zeroes what it adds);
// - every page of the room is written once before the room is handed out, since the system maps a fresh page at
//   its first write, and that costs less here than inside a receive that copies into the room (measured: a 64 MiB
//   body arrives about a tenth faster);
// - bytes dropped from the front are only skipped; the rest moves down when the storage would otherwise have to
//   grow and the dropped bytes are at least as many as the rest, so taking one short line at a time off a full
//   buffer does not move the buffer for every line;
// - the bytes are a std::string, so that they can be taken as a text without a copy.
class TByteBuffer {
 public:
  TByteBuffer() = default;
  TByteBuffer(const TByteBuffer&) = delete;
  TByteBuffer& operator=(const TByteBuffer&) = delete;

  // The bytes, oldest first. Valid until the buffer changes.
  char* Data() { return storage_.data() + head_; }
  const char* Data() const { return storage_.data() + head_; }
  int64_t Size() const { return size_; }
  // Room for size bytes from the front, to be written in place; returns Data(). Past Size() the room holds
  // whatever it held.
  char* Room(int64_t size);
  // The first size bytes are the buffer's (as many as there is room for): those past the old size are as the
  // caller wrote them into the room.
  void Keep(int64_t size);
  // Sets the size; bytes past the old size are zero.
  void SetSize(int64_t size);
  // A hint that about size bytes will be held: room for them is made now if it can be had, and otherwise step by
  // step as the bytes come.
  void Reserve(int64_t size) noexcept;
  // Drops count bytes (at most Size()) from the front.
  void RemoveFront(int64_t count);
  // Drops the bytes and gives the storage back.
  void Clear();
  // The bytes as a text, without a copy; the buffer is empty after it.
  std::string Take();

 private:
  // Makes the storage hold size bytes from the front.
  void Fit(int64_t size);

  std::string storage_;  // all of it room: its length is the capacity
  int64_t head_ = 0;     // offset of the first byte in the storage
  int64_t size_ = 0;
  int64_t touched_ = 0;  // how far the storage has been written since it was made
};

// Growable in-memory stream. Its bytes can be taken as a text without a copy.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  TMemoryStream(const TMemoryStream&) = delete;
  TMemoryStream& operator=(const TMemoryStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return bytes_.Size(); }
  int64_t Size() const { return bytes_.Size(); }
  // Sets the size; bytes past the old size are zero. The position is kept, clipped to the new size.
  void SetSize(int64_t size) override;
  void Reserve(int64_t count) override;
  char* WriteRoom(int64_t count) override;
  void CommitRoom(int64_t count) override;
  void Clear();

  char* Memory() { return bytes_.Data(); }
  const char* Memory() const { return bytes_.Data(); }
  // The stream's bytes as a text.
  std::string DataString() const { return std::string(bytes_.Data(), static_cast<size_t>(bytes_.Size())); }
  // The same, taken without a copy: the stream is empty after it.
  std::string TakeDataString();

 protected:
  TByteBuffer bytes_;
  int64_t position_ = 0;
};

// A file opened for writing: created, or truncated when it exists.
class TFileStream : public TStream {
 public:
  // Raises EFCreateError "Cannot create file %s" when the file cannot be created.
  explicit TFileStream(const std::string& fileName);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

 private:
  intptr_t handle_;
};

// Ordered list of texts.
class TStringList : public TObject {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  const std::string& Strings(int index) const { return items_.at(static_cast<size_t>(index)); }
  const std::string& operator[](int index) const { return Strings(index); }
  // Indexed store: replaces an item.
  virtual void Put(int index, const std::string& text);
  virtual int Add(const std::string& text);
  void Insert(int index, const std::string& text);
  void Delete(int index);
  void Clear();
  int IndexOf(const std::string& text) const;  // without regard to ASCII case; -1 when absent
  virtual void Assign(const TStringList& source);
  // Every item followed by CR LF.
  std::string Text() const;
  // Creates or truncates the file and writes Text(). Raises "Cannot create file %s" or "Stream write error".
  void SaveToFile(const std::string& fileName) const;

 private:
  std::vector<std::string> items_;
};

enum class TOperation { opInsert, opRemove };

// The component model. A component is owned by the component passed to its constructor, which destroys it (last
// created first). Removal notifications reach the owner's components and every component that asked for one with
// FreeNotification.
class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* owner);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  virtual void SetName(const std::string& name);

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  TComponent* Components(int index) const { return components_.at(static_cast<size_t>(index)); }
  TComponent* FindComponent(const std::string& name) const;

  bool IsLoading() const { return (state_ & kLoading) != 0; }
  bool IsDestroying() const { return (state_ & kDestroying) != 0; }
  bool IsDesigning() const { return (state_ & kDesigning) != 0; }

  // Asks for a Notification(component, opRemove) when the given component is destroyed.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  // Marks this component and everything it owns as being destroyed.
  void Destroying();

  // Called on a component when another one is inserted into or removed from its owner, or when a component this
  // one asked about is destroyed. The base forwards it to the owned components.
  virtual void Notification(TComponent* component, TOperation operation);

 protected:
  // Starts the loading state; components created with a loading owner start in it too.
  void BeginLoading();
  // The after-loading call on every owned component still loading (in creation order), then on this one.
  void EndLoading();
  // The after-loading call: the base leaves the loading state.
  virtual void Loaded();
  void SetDesigning(bool designing);
  // Destroys the owned components, the last created first. A form calls this from its own destructor, while it
  // is still whole, because its components may need its window.
  void DestroyComponents();

 private:
  static constexpr unsigned kLoading = 1;
  static constexpr unsigned kDestroying = 2;
  static constexpr unsigned kDesigning = 4;

  TComponent* owner_;
  std::string name_;
  unsigned state_ = 0;
  std::vector<TComponent*> components_;
  std::vector<TComponent*> freeNotifies_;
};
