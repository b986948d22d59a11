// Any bytes as a URL: the full split, the decoding and the path join must end cleanly and keep their promises.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdURI.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string protocol, host, path, document, port, bookmark, username, password;
  TIdURI::ParseURI(text, protocol, host, path, document, port, bookmark, username, password);
  if (text.find("://") != std::string::npos && (path.empty() || path[0] != '/')) std::abort();
  if (username.empty() && !password.empty()) std::abort();

  // Decoding never grows a text and never brings in a NUL byte that was not there.
  const std::string decoded = TIdURI::URLDecode(text);
  if (decoded.size() > text.size()) std::abort();
  if (text.find('\0') == std::string::npos && decoded.find('\0') != std::string::npos) std::abort();

  // Joining never leaves a run of slashes (a rooted relative path is taken as it is) and never grows past both
  // inputs.
  const std::string joined = TIdURI::PathJoin(path, text);
  if ((text.empty() || text[0] != '/') && joined.find("//") != std::string::npos) std::abort();
  if (joined.size() > path.size() + text.size() + 1) std::abort();

  TIdURI uri(text);
  (void)uri.URI();
  return 0;
}
