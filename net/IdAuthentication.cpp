#include "net/IdAuthentication.h"

std::string TIdBasicAuthentication::Authentication() const {
  return "Basic " + EncodeBase64(Username() + ":" + Password());
}

std::string EncodeBase64(const std::string& data) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string result;
  result.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const unsigned triple = (static_cast<unsigned char>(data[i]) << 16) |
                            (static_cast<unsigned char>(data[i + 1]) << 8) | static_cast<unsigned char>(data[i + 2]);
    result += kAlphabet[(triple >> 18) & 63];
    result += kAlphabet[(triple >> 12) & 63];
    result += kAlphabet[(triple >> 6) & 63];
    result += kAlphabet[triple & 63];
  }
  const size_t left = data.size() - i;
  if (left > 0) {
    unsigned triple = static_cast<unsigned char>(data[i]) << 16;
    if (left == 2) triple |= static_cast<unsigned char>(data[i + 1]) << 8;
    result += kAlphabet[(triple >> 18) & 63];
    result += kAlphabet[(triple >> 12) & 63];
    result += left == 2 ? kAlphabet[(triple >> 6) & 63] : '=';
    result += '=';
  }
  return result;
}
