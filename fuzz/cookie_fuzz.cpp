// Any bytes as Set-cookie values: parsing, storing, copying and the Cookie header must end cleanly, the store's
// index and collection must agree, and a cookie copied through its rebuilt text keeps its name and value.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdCookieManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const char* const kHosts[] = {"www.brasko.nl", "brasko.nl", "10.0.0.1", "localhost"};
  if (size < 1) return 0;
  const std::string host = kHosts[data[0] % 4];
  const bool version2 = (data[0] & 4) != 0;
  std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  TIdCookieManager store(nullptr);
  // Several values separated by line feeds, as several Set-cookie headers would bring them.
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string value = text.substr(start, end - start);
    try {
      version2 ? store.StoreSetCookie2(value, host) : store.StoreSetCookie(value, host);
    } catch (const EConvertError&) {  // a Port list item that is no number
    }
    start = end + 1;
  }
  (void)store.CookieHeaderValue(TIdURI("http://" + host + "/"), false);
  (void)store.CookieHeaderValue(TIdURI("http://" + host + "/a/b/"), true);
  if (store.CookieCollection().Count() != store.CookieCollection().StoredCount()) std::abort();

  TIdCookieRFC2109 parsed;
  TIdCookieRFC2109 copy;
  parsed.SetCookieText(text);
  copy.Assign(parsed);
  if (parsed.CookieName() == Trim(parsed.CookieName()) && parsed.Value() == Trim(parsed.Value()) &&
      (copy.CookieName() != parsed.CookieName() || copy.Value() != parsed.Value())) {
    std::abort();
  }
  return 0;
}
