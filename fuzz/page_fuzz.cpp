// Any bytes as a feed: every tag of the page the builder writes is one of the program's own. Titles and times reach
// the page as text only, and the id, which goes into two attributes of its link, cannot end them.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "BraskoConfig.h"
#include "app/FeedProcessor.h"

namespace {

// A folder of its own for the page, removed when the run ends.
std::string PagePath() {
  static char folder[] = "/tmp/brasko-page-fuzz-XXXXXX";
  if (mkdtemp(folder) == nullptr) std::abort();
  std::atexit([] { std::filesystem::remove_all(folder); });
  return std::string(folder) + "/htmlAll.html";
}

// The tags of a text, in order. A "<" or ">" that opens or closes no tag is a finding: the builder writes those of a
// title or time as entities.
std::vector<std::string> Tags(const std::string& text) {
  std::vector<std::string> tags;
  for (size_t at = 0; at < text.size(); ++at) {
    if (text[at] == '>') std::abort();
    if (text[at] != '<') continue;
    const size_t end = text.find_first_of("<>", at + 1);
    if (end == std::string::npos || text[end] != '>') std::abort();
    tags.push_back(text.substr(at, end + 1 - at));
    at = end;
  }
  return tags;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string page = PagePath();
  static const std::string article =
      std::string("<A HREF=\"").append(kSiteScheme).append("://").append(kSiteHost) + "/nieuws/";

  std::filesystem::remove(page);
  TFeedProcessor processor(page, nullptr);
  try {
    processor.ProcessFeed(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const EConvertError&) {
    return 0;  // an id that does not convert: no page
  }
  std::ifstream file(page, std::ios::binary);
  if (!file) return 0;  // no id above 0: no page
  std::vector<std::string> tags = Tags({std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()});

  // An article's link differs from one of an empty id only by its id, which stands in both attributes and holds no
  // quote; past that, the page has exactly the tags of a page of as many items with empty fields.
  size_t items = 0;
  for (std::string& tag : tags) {
    if (tag.compare(0, article.size(), article) != 0) continue;
    const std::string id = tag.substr(article.size(), tag.find('"', article.size()) - article.size());
    if (tag != article + id + "\" Target=\"Brasko" + id + "\">") std::abort();
    tag = article + "\" Target=\"Brasko\">";
    ++items;
  }
  const TStringList expected = PageLines(std::vector<TPageItem>(items));
  if (tags != Tags(expected.Text())) std::abort();
  return 0;
}
