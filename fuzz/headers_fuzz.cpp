// Any bytes as a header block: reading, unfolding, extracting and folding must end cleanly, and folding may only
// move line breaks and blanks, never other characters.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/IdHTTPHeaderInfo.h"

namespace {

std::string WithoutBlanks(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') result += c;
  }
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const int foldLength = data[0] % 100;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

  TIdResponseHeaderInfo response;
  response.RawHeaders().AddText(text);
  try {
    response.ProcessHeaders();
  } catch (const EConvertError&) {  // a Content-Range that is no number
  }
  TStringList values;
  for (int i = 0; i < response.RawHeaders().Count(); ++i) {
    response.RawHeaders().Extract(response.RawHeaders().Names(i), values);
  }

  std::string rest;
  for (const std::string& piece : TIdHeaderList::FoldLine(text, foldLength)) {
    if (!rest.empty() && (piece.empty() || piece[0] != ' ')) std::abort();
    rest += piece;
  }
  if (WithoutBlanks(rest) != WithoutBlanks(text)) std::abort();

  TIdHeaderList list(foldLength);
  list.SetValues("X-Fuzz", text);
  if (WithoutBlanks(list.Values("X-Fuzz")) != WithoutBlanks(text)) std::abort();
  return 0;
}
