// The page the notification window shows, as a browser draws it: the page builder writes it (beside a copy of the
// background image, or without one), and scripts/render-page renders it with headless Chromium at the window's client
// size and checks size, background and contrast. The picture stays in the build folder (page-render/htmlAll.png) for
// a person to look at.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "app/FeedProcessor.h"
#include "rtl/SysUtils.h"
#include "testing/TestSupport.h"

namespace {

// Writes a full page (eleven lines, the last with the author link, headlines with Latin-1 letters and an ampersand)
// into the folder, with or without the background image, and returns whether the render check passes.
bool RenderCheckPasses(const std::string& name, bool withBackground) {
  const std::string folder = ExecutableDirectory() + name + "/";
  mkdir(folder.c_str(), 0755);
  std::remove((folder + "background.jpg").c_str());
  if (withBackground) {
    const std::string background = ReadFile(BRASKO_BACKGROUND_IMAGE);
    EXPECT_GT(background.size(), 100u);
    std::ofstream(folder + "background.jpg", std::ios::binary | std::ios::trunc) << background;
  }
  std::vector<TFeedItem> items;
  for (int id = 4821; id > 4809; --id) items.push_back(NewsItem(id));
  items[2].title = "Caf\xe9 De Zwaan viert honderdjarig bestaan";
  items[8].title = "Markt & kermis verhuizen naar het plein";
  TFeedProcessor processor(folder + "htmlAll.html", nullptr);
  processor.ProcessFeed(Feed(items));
  EXPECT_EQ(processor.LastShownId(), 4821);
  const std::string command =
      std::string("'") + BRASKO_RENDER_PAGE + "' '" + folder + "htmlAll.html' '" + folder + "htmlAll.png' --check";
  return std::system(command.c_str()) == 0;
}

bool HaveChromium() {
  return std::system("command -v chromium >/dev/null 2>&1 || command -v chromium-browser >/dev/null 2>&1") == 0;
}

TEST(PageRender, FullPageRendersReadablyOnItsBackgroundImageAndNotWithoutIt) {
  if (!HaveChromium()) GTEST_SKIP() << "chromium is not installed (BRASKO_WITH_CHROMIUM=0 leaves it out)";
  EXPECT_TRUE(RenderCheckPasses("page-render", true));
  // Without its background image the page is white text on white: the check must see that.
  EXPECT_FALSE(RenderCheckPasses("page-render-bare", false));
}

}  // namespace
