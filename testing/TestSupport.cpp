#include "testing/TestSupport.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace testing_support {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool FileExists(const std::string& path) {
  std::error_code ignored;
  return fs::exists(path, ignored);
}

TFeedItem NewsItem(int n) {
  return {std::to_string(n), Format("Nieuwsbericht nummer %d over de kaasmarkt", n),
          Format("%02d:%02d", 8 + n % 12, (n * 7) % 60)};
}

std::string Feed(const std::vector<TFeedItem>& items) {
  std::string feed = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<flashfeed>\r\n";
  for (const TFeedItem& item : items) {
    feed += "  <nieuwsposting>\r\n    <id>" + item.id + "</id>\r\n    <titel><![CDATA[" + item.title +
            "]]></titel>\r\n    <tijd>" + item.time + "</tijd>\r\n  </nieuwsposting>\r\n";
  }
  return feed + "</flashfeed>\r\n";
}

std::string Feed(std::initializer_list<int> ids) {
  std::vector<TFeedItem> items;
  for (int id : ids) items.push_back(NewsItem(id));
  return Feed(items);
}

TTempFolder::TTempFolder() {
  static std::atomic<int> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  fs::path folder = fs::temp_directory_path() / ("brasko-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  fs::create_directories(folder);
  path_ = folder.string() + static_cast<char>(fs::path::preferred_separator);
}

TTempFolder::~TTempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

bool RunningUnderWine() {
#if defined(_WIN32)
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}

}  // namespace testing_support
