#include "gui/Graphics.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "gui/Controls.h"
#include "testing/TestSupport.h"

namespace {

void Put16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// An icon file holding one 16-colour image per given size.
std::vector<uint8_t> IconFile(const std::vector<int>& sizes) {
  std::vector<std::vector<uint8_t>> images;
  for (int size : sizes) {
    std::vector<uint8_t> image;
    Put32(image, 40);
    Put32(image, static_cast<uint32_t>(size));
    Put32(image, static_cast<uint32_t>(size * 2));
    Put16(image, 1);
    Put16(image, 4);
    for (int i = 0; i < 6; ++i) Put32(image, 0);
    for (int i = 0; i < 16; ++i) Put32(image, static_cast<uint32_t>(i * 0x101010));
    int xorRow = ((size * 4 + 31) / 32) * 4;
    int andRow = ((size + 31) / 32) * 4;
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < xorRow; ++x) image.push_back(static_cast<uint8_t>((x + y) % 16 * 0x11));
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < andRow; ++x) image.push_back(0);
    images.push_back(image);
  }
  std::vector<uint8_t> file;
  Put16(file, 0);
  Put16(file, 1);
  Put16(file, static_cast<uint16_t>(sizes.size()));
  uint32_t offset = static_cast<uint32_t>(6 + 16 * sizes.size());
  for (size_t i = 0; i < sizes.size(); ++i) {
    file.push_back(static_cast<uint8_t>(sizes[i]));
    file.push_back(static_cast<uint8_t>(sizes[i]));
    file.push_back(16);
    file.push_back(0);
    Put16(file, 1);
    Put16(file, 4);
    Put32(file, static_cast<uint32_t>(images[i].size()));
    Put32(file, offset);
    offset += static_cast<uint32_t>(images[i].size());
  }
  for (const auto& image : images) file.insert(file.end(), image.begin(), image.end());
  return file;
}

}  // namespace

TEST(Icon, LoadsFromIconFileBytesChoosingTheSystemsLargeSize) {
  auto bytes = IconFile({16, 32});
  TIcon icon;
  EXPECT_TRUE(icon.Empty());
  EXPECT_EQ(icon.Handle(), nullptr);
  icon.LoadFromBytes(bytes.data(), bytes.size());
  EXPECT_FALSE(icon.Empty());
  EXPECT_EQ(icon.Width(), GetSystemMetrics(SM_CXICON));
  EXPECT_EQ(icon.Height(), 32);
}

TEST(Icon, AssignCopiesTheImageAndAnEmptySourceEmptiesIt) {
  auto bytes = IconFile({32});
  TIcon source;
  source.LoadFromBytes(bytes.data(), bytes.size());
  TIcon copy;
  copy.Assign(&source);
  EXPECT_NE(copy.Handle(), nullptr);
  EXPECT_NE(copy.Handle(), source.Handle()) << "a copy of its own, freed with it";
  EXPECT_EQ(copy.Width(), 32);
  TIcon empty;
  copy.Assign(&empty);
  EXPECT_TRUE(copy.Empty());
  copy.Assign(&source);
  copy.Assign(nullptr);
  EXPECT_TRUE(copy.Empty());
}

TEST(Icon, BytesThatHoldNoIconAreRefusedAndLeaveTheIconAsItWas) {
  auto good = IconFile({32});
  TIcon icon;
  icon.LoadFromBytes(good.data(), good.size());
  HICON before = icon.Handle();

  std::vector<std::vector<uint8_t>> bad;
  bad.push_back({});                                                     // nothing
  bad.push_back(std::vector<uint8_t>(good.begin(), good.begin() + 5));   // cut inside the header
  bad.push_back(std::vector<uint8_t>(good.begin(), good.begin() + 20));  // cut inside the directory
  bad.push_back(std::vector<uint8_t>(good.begin(), good.end() - 1));     // image runs past the end
  auto wrongType = good;
  wrongType[2] = 2;  // a cursor file
  bad.push_back(wrongType);
  // The good file with the directory's 32-bit field at offset set to value.
  auto patched = [&](size_t offset, uint32_t value) {
    auto bytes = good;
    for (size_t k = 0; k < 4; ++k) bytes[offset + k] = static_cast<uint8_t>(value >> (8 * k));
    return bytes;
  };
  bad.push_back(patched(18, 0x7FFFFFFF));  // the image far past the end
  bad.push_back(patched(14, 0xFFFFFFFF));  // an image longer than any file
  for (size_t i = 0; i < bad.size(); ++i) {
    EXPECT_EQ(MessageOf<EInvalidGraphic>([&] { icon.LoadFromBytes(bad[i].data(), bad[i].size()); }),
              "Icon image is not valid");
    EXPECT_EQ(icon.Handle(), before) << "case " << i;
  }
}
