// Drawing resources the forms and the tray use: a font description and an icon image made from icon-file bytes.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "rtl/SysUtils.h"

// A form's font as its description gives it. Forms of this program hold no controls, so nothing draws with it.
class TFont : public TObject {
 public:
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  int Height() const { return height_; }
  void SetHeight(int height) { height_ = height; }

 private:
  std::string name_ = "MS Sans Serif";
  int height_ = -11;
};

// Owns one icon handle and destroys it.
class TIconHandle {
 public:
  TIconHandle() = default;
  explicit TIconHandle(HICON icon) : icon_(icon) {}
  ~TIconHandle() { Reset(); }
  TIconHandle(const TIconHandle&) = delete;
  TIconHandle& operator=(const TIconHandle&) = delete;

  HICON Get() const { return icon_; }
  void Reset(HICON icon = nullptr);

 private:
  HICON icon_ = nullptr;
};

// An icon image. Empty until loaded or assigned; Handle() is 0 while empty.
class TIcon : public TObject {
 public:
  TIcon() = default;
  TIcon(const TIcon&) = delete;
  TIcon& operator=(const TIcon&) = delete;

  HICON Handle() const { return handle_.Get(); }
  bool Empty() const { return handle_.Get() == nullptr; }
  int Width() const { return width_; }
  int Height() const { return height_; }

  // Copies the image of source (its own copy of the handle); an empty or missing source empties this icon.
  virtual void Assign(const TIcon* source);
  // Reads an image in icon-file format: the directory, then the image of the entry nearest the system's large
  // icon size. Raises EInvalidGraphic "Icon image is not valid" for bytes that do not hold one; the icon is then
  // unchanged.
  void LoadFromBytes(const void* data, size_t size);
  // Takes ownership of an icon handle (0 empties the icon).
  void SetHandle(HICON icon);

 private:
  TIconHandle handle_;
  int width_ = 0;
  int height_ = 0;
};
