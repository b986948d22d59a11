// Any bytes as a feed: loading, lookups, the token list and the whole page build must end cleanly.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/FeedProcessor.h"
#include "xml/kelXMLTree.h"

namespace {

struct QuietWindow : TNotificationTarget {
  void Hide() override {}
  void Show() override {}
};

// A folder of its own for the page, removed when the run ends.
std::string PagePath() {
  static char folder[] = "/tmp/brasko-feed-fuzz-XXXXXX";
  if (mkdtemp(folder) == nullptr) std::abort();
  std::atexit([] { std::filesystem::remove_all(folder); });
  return std::string(folder) + "/htmlAll.html";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string page = PagePath();
  const std::string text(reinterpret_cast<const char*>(data), size);

  TkelXMLTree tree("test", "test", nullptr);
  tree.LoadFromText(text);
  TList<TkelXMLNode> items;
  tree.FindNodes("nieuwsposting", items);
  for (TkelXMLNode* item : items) {
    for (const char* field : {"id", "titel", "tijd"}) {
      if (const TkelXMLNode* node = item->ChildByName(field)) (void)node->Value().size();
    }
  }
  (void)tree.Lines().Count();

  QuietWindow window;
  TFeedProcessor processor(page, &window);
  try {
    processor.ProcessFeed(text);
  } catch (const EConvertError&) {
    // An id that does not convert is an ordinary outcome; anything else is a finding.
  }
  return 0;
}
