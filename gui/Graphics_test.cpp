#include "gui/Graphics.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "gui/Controls.h"
#include "testing/TestSupport.h"

namespace {

// A real icon file: one 32 x 32 image of 16 colours.
const std::vector<uint8_t> kIconFile = {
#include "app/Unit1Icon.inc"
};

}  // namespace

TEST(Icon, LoadsFromIconFileBytesAndAssignCopiesTheImageOrEmptiesIt) {
  TIcon source;
  EXPECT_TRUE(source.Empty());
  source.LoadFromBytes(kIconFile.data(), kIconFile.size());
  EXPECT_EQ(source.Height(), 32);
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
  const auto& good = kIconFile;
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
