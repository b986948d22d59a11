// Support shared by the tests of every module: reading a file whole, the news feed the site sends, a temporary
// folder, the message of an expected exception, and the few places where the Windows build under Wine differs from
// Windows.
#pragma once

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "net/IdComponent.h"
#include "rtl/SysUtils.h"

namespace testing_support {

std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);

// One item of the site's feed.
struct TFeedItem {
  std::string id, title, time;
};
// The item a test means by "item n": a headline and a time that follow from n.
TFeedItem NewsItem(int n);
// A feed shaped like the site's: a declaration, the enclosing element, indented lines, CDATA headlines.
std::string Feed(const std::vector<TFeedItem>& items);
std::string Feed(std::initializer_list<int> ids);

// A new empty folder below the system's temporary folder, removed with everything in it at scope exit.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  TTempFolder(const TTempFolder&) = delete;
  TTempFolder& operator=(const TTempFolder&) = delete;
  // A file in the folder.
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// True when the Windows build runs under Wine, whose socket layer differs from Windows in a few observable ways.
bool RunningUnderWine();

}  // namespace testing_support

using namespace testing_support;

// Runs f and returns the message of the exception of class E it raises, or a text that names what happened
// instead (so that a mismatch shows in the test's failure message).
template <class E, class F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return std::string("another exception: ") + e.what();
  }
  return "no exception";
}

// Runs f and returns the exception of class E it raises, or nothing when it raises none.
template <class E, class F>
std::optional<E> Raised(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e;
  }
  return std::nullopt;
}

// A live network component: the socket stack exists while one lives.
struct StackUser {
  TIdComponent component{nullptr};
};
