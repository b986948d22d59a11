#include "gui/Graphics.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "gui/Controls.h"

namespace {

constexpr size_t kIconDirSize = 6;
constexpr size_t kIconDirEntrySize = 16;
constexpr DWORD kIconResourceVersion = 0x00030000;

uint16_t ReadU16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t ReadU32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

void TIconHandle::Reset(HICON icon) {
  if (icon_ != nullptr && icon_ != icon) DestroyIcon(icon_);
  icon_ = icon;
}

void TIcon::Assign(const TIcon* source) {
  if (source == this) return;
  if (source == nullptr || source->Empty()) {
    SetHandle(nullptr);
    return;
  }
  HICON copy = CopyIcon(source->Handle());
  if (copy == nullptr) throw EOutOfResources(kSInvalidIcon);
  SetHandle(copy);
  width_ = source->width_;
  height_ = source->height_;
}

void TIcon::SetHandle(HICON icon) {
  handle_.Reset(icon);
  width_ = 0;
  height_ = 0;
  if (icon != nullptr) {
    ICONINFO info = {};
    if (GetIconInfo(icon, &info)) {
      BITMAP bitmap = {};
      if (info.hbmMask && GetObjectA(info.hbmMask, sizeof bitmap, &bitmap)) {
        width_ = bitmap.bmWidth;
        // Without a colour bitmap the mask holds both halves (monochrome icon).
        height_ = info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2;
      }
      if (info.hbmMask) DeleteObject(info.hbmMask);
      if (info.hbmColor) DeleteObject(info.hbmColor);
    }
  }
}

void TIcon::LoadFromBytes(const void* data, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  if (bytes == nullptr || size < kIconDirSize) throw EInvalidGraphic(kSInvalidIcon);
  uint16_t reserved = ReadU16(bytes);
  uint16_t type = ReadU16(bytes + 2);
  uint16_t count = ReadU16(bytes + 4);
  if (reserved != 0 || type != 1 || count == 0 || size < kIconDirSize + kIconDirEntrySize * count) {
    throw EInvalidGraphic(kSInvalidIcon);
  }
  // The entry nearest the system's large icon size; the first of equals wins.
  int wanted = GetSystemMetrics(SM_CXICON);
  int best = -1;
  int bestDistance = 0;
  for (int i = 0; i < count; ++i) {
    const unsigned char* entry = bytes + kIconDirSize + kIconDirEntrySize * static_cast<size_t>(i);
    int width = entry[0] == 0 ? 256 : entry[0];
    uint32_t length = ReadU32(entry + 8);
    uint32_t offset = ReadU32(entry + 12);
    if (offset > size || length > size - offset || length < 40) continue;
    int distance = std::abs(width - wanted);
    if (best < 0 || distance < bestDistance) {
      best = i;
      bestDistance = distance;
    }
  }
  if (best < 0) throw EInvalidGraphic(kSInvalidIcon);
  const unsigned char* entry = bytes + kIconDirSize + kIconDirEntrySize * static_cast<size_t>(best);
  int width = entry[0] == 0 ? 256 : entry[0];
  int height = entry[1] == 0 ? 256 : entry[1];
  uint32_t length = ReadU32(entry + 8);
  uint32_t offset = ReadU32(entry + 12);
  // The system call wants a writable buffer; give it a copy of just this image.
  std::vector<BYTE> image(bytes + offset, bytes + offset + length);
  HICON icon =
      CreateIconFromResourceEx(image.data(), length, TRUE, kIconResourceVersion, width, height, LR_DEFAULTCOLOR);
  if (icon == nullptr) throw EInvalidGraphic(kSInvalidIcon);
  SetHandle(icon);
}
