// An owning COM interface pointer.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <utility>

// A COM interface pointer that owns one reference and releases it when it goes.
template <class T>
class TComPtr {
 public:
  TComPtr() = default;
  // Takes over a reference the caller already holds.
  explicit TComPtr(T* owned) : ptr_(owned) {}
  TComPtr(const TComPtr& other) : ptr_(other.ptr_) {
    if (ptr_) ptr_->AddRef();
  }
  TComPtr(TComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  TComPtr& operator=(TComPtr other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }
  ~TComPtr() { Reset(); }

  T* Get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  // Releases the held reference and gives the slot for an out-parameter.
  T** Put() {
    Reset();
    return &ptr_;
  }
  void Reset() {
    if (T* old = std::exchange(ptr_, nullptr)) old->Release();
  }
  // Adds a reference to a pointer held elsewhere.
  static TComPtr Share(T* borrowed) {
    if (borrowed) borrowed->AddRef();
    return TComPtr(borrowed);
  }
  // Asks the held object for another of its interfaces; empty when it has none.
  template <class U>
  TComPtr<U> As(REFIID iid) const {
    TComPtr<U> result;
    if (ptr_) ptr_->QueryInterface(iid, reinterpret_cast<void**>(result.Put()));
    return result;
  }

 private:
  T* ptr_ = nullptr;
};
