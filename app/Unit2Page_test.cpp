// The page the notification window shows, as a browser draws it: the page builder writes it beside a copy of the
// background image, and testing/render-page renders it with headless Chromium at the window's client size. The
// picture stays in the build folder (page-render/htmlAll.png) for a person to look at.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/FeedProcessor.h"
#include "rtl/SysUtils.h"
#include "testing/TestSupport.h"

namespace {

// Width and height from a PNG file's header; 0 x 0 when it is not one.
std::pair<unsigned, unsigned> PngSize(const std::string& bytes) {
  static const char kSignature[] = "\x89PNG\r\n\x1a\n";
  if (bytes.size() < 24 || bytes.compare(0, 8, kSignature, 8) != 0 || bytes.compare(12, 4, "IHDR") != 0) return {0, 0};
  auto word = [&](size_t at) {
    return (static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) << 24) |
           (static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
           (static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
           static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 3]));
  };
  return {word(16), word(20)};
}

// A full page: eleven lines (the last with the author link) and a twelfth item that adds none, headlines with
// Latin-1 letters and an ampersand as the feed sends them.
std::string Feed() {
  const char* titles[] = {
      "Nieuwe fietsbrug over de Maas geopend",
      "Kaasmarkt trekt recordaantal bezoekers",
      "Caf\xe9 De Zwaan viert honderdjarig bestaan",
      "Storm zorgt voor vertraging op het spoor",
      "Gemeente plant extra groen in het centrum",
      "Lokale voetbalclub wint na strafschoppen",
      "Bibliotheek verlengt openingstijden",
      "Scholieren bouwen zonneauto",
      "Markt & kermis verhuizen naar het plein",
      "Museum toont vergeten schilderijen",
      "Cr\xe8"
      "che krijgt nieuwe speeltuin",
      "Zwembad opent na renovatie",
  };
  std::string feed = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<flashfeed>\r\n";
  int id = 4821;
  int minutes = 17 * 60 + 45;
  for (const char* title : titles) {
    feed += Format("<nieuwsposting><id>%d</id><titel>%s</titel><tijd>%02d:%02d</tijd></nieuwsposting>\r\n", id, title,
                   minutes / 60, minutes % 60);
    --id;
    minutes -= 23;
  }
  return feed + "</flashfeed>\r\n";
}

bool HaveChromium() {
  return std::system("command -v chromium >/dev/null 2>&1 || command -v chromium-browser >/dev/null 2>&1") == 0;
}

TEST(PageRender, FullPageRendersReadablyOnItsBackgroundImage) {
  if (!HaveChromium()) GTEST_SKIP() << "chromium is not installed (BRASKO_WITH_CHROMIUM=0 leaves it out)";
  std::string folder = ExecutableDirectory() + "page-render/";
  mkdir(folder.c_str(), 0755);
  std::string page = folder + "htmlAll.html";
  std::string picture = folder + "htmlAll.png";
  std::remove(picture.c_str());

  std::string background = ReadFile(BRASKO_BACKGROUND_IMAGE);
  ASSERT_GT(background.size(), 100u);
  {
    std::ofstream copy(folder + "background.jpg", std::ios::binary | std::ios::trunc);
    copy << background;
  }
  TFeedProcessor processor(page, nullptr);
  processor.ProcessFeed(Feed());
  ASSERT_EQ(processor.LastShownId(), 4821);

  std::string command = std::string("'") + BRASKO_RENDER_PAGE + "' '" + page + "' '" + picture + "' --check";
  int status = std::system(command.c_str());
  EXPECT_EQ(status, 0) << command;
  std::pair<unsigned, unsigned> size = PngSize(ReadFile(picture));
  EXPECT_EQ(size.first, 513u);
  EXPECT_EQ(size.second, 230u);
}

// Without its background image the page is white text on white: the check must see that.
TEST(PageRender, CheckFailsWhenTheBackgroundImageIsMissing) {
  if (!HaveChromium()) GTEST_SKIP() << "chromium is not installed (BRASKO_WITH_CHROMIUM=0 leaves it out)";
  std::string folder = ExecutableDirectory() + "page-render-bare/";
  mkdir(folder.c_str(), 0755);
  std::string page = folder + "htmlAll.html";
  std::remove((folder + "background.jpg").c_str());
  TFeedProcessor processor(page, nullptr);
  processor.ProcessFeed(Feed());
  std::string command = std::string("'") + BRASKO_RENDER_PAGE + "' '" + page + "' '" + folder + "htmlAll.png' --check";
  EXPECT_NE(std::system(command.c_str()), 0);
}

}  // namespace
