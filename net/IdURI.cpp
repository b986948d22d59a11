#include "net/IdURI.h"

#include "net/IdGlobalProtocols.h"

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Splits the part of a URL after the authority (or the whole of a relative URL) into directory, document and
// parameters. The query starts at the first "?", or at the first "=" when there is no "?"; the directory ends at
// the last "/" before it.
void SplitPathAndDocument(const std::string& rest, bool rooted, std::string& path, std::string& document,
                          std::string& params) {
  size_t query = rest.find('?');
  if (query == std::string::npos) query = rest.find('=');
  const size_t limit = query == std::string::npos ? rest.size() : query;
  size_t directoryLength = 0;
  if (limit > 0) {
    const size_t slash = rest.rfind('/', limit - 1);
    if (slash != std::string::npos) directoryLength = slash + 1;
  }
  path = (rooted ? "/" : "") + rest.substr(0, directoryLength);
  if (query != std::string::npos) {
    document = rest.substr(directoryLength, query - directoryLength);
    params = rest.substr(query);
  } else {
    document = rest.substr(directoryLength);
    params.clear();
  }
}

bool HasOption(TIdURIOptionalFieldsSet set, TIdURIOptionalFields option) {
  return (set & static_cast<unsigned>(option)) != 0;
}

}  // namespace

TIdURI::TIdURI(const std::string& uri) {
  if (!uri.empty()) SetURI(uri);
}

std::string TIdURI::URI() {
  uri_ = GetFullURI(kIdURIAllOptionalFields);
  return GetFullURI(kIdURINoOptionalFields);
}

void TIdURI::SetURI(const std::string& value) {
  uri_ = value;
  NormalizePath(uri_);
  // User information is split off but not kept: credentials come from the caller, not from a URL.
  std::string username;
  std::string password;
  ParseURI(uri_, protocol_, host_, path_, document_, port_, bookmark_, username, password);
}

std::string TIdURI::GetFullURI(TIdURIOptionalFieldsSet optionalFields) const {
  std::string result = protocol_ + "://";
  if (!username_.empty() && HasOption(optionalFields, TIdURIOptionalFields::ofAuthInfo)) {
    result += username_;
    if (!password_.empty()) result += ":" + password_;
    result += "@";
  }
  result += host_;
  if (!port_.empty()) result += ":" + port_;
  result += path_ + document_;
  if (!bookmark_.empty() && HasOption(optionalFields, TIdURIOptionalFields::ofBookmark)) result += "#" + bookmark_;
  return result;
}

void TIdURI::ParseURI(std::string uri, std::string& protocol, std::string& host, std::string& path,
                      std::string& document, std::string& port, std::string& bookmark, std::string& username,
                      std::string& password) {
  NormalizePath(uri);
  host.clear();
  protocol.clear();
  path.clear();
  document.clear();
  std::string params;

  const size_t schemeEnd = uri.find("://");
  if (schemeEnd != std::string::npos) {
    protocol = uri.substr(0, schemeEnd);
    uri.erase(0, schemeEnd + 3);
    std::string authority = Fetch(uri, "/");
    std::string userInfo;
    const size_t at = authority.find('@');
    if (at != std::string::npos) {
      userInfo = authority.substr(0, at);
      authority.erase(0, at + 1);
    }
    username = Fetch(userInfo, ":");
    password = userInfo;
    if (username.empty()) password.clear();
    host = Fetch(authority, ":");
    port = authority;
    SplitPathAndDocument(uri, true, path, document, params);
  } else {
    SplitPathAndDocument(uri, false, path, document, params);
  }

  // Only a "#" in the query marks a fragment; one in the document is part of the document's name.
  const size_t hash = params.find('#');
  if (hash != std::string::npos) {
    bookmark = params.substr(hash + 1);
    params.erase(hash);
  } else {
    bookmark.clear();
  }
  path = URLDecode(path);
  // The query stays as sent: decoding it would change what the server receives.
  document = URLDecode(document) + params;
}

std::string TIdURI::URLDecode(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '%') {
      const size_t digits = text.size() - i - 1 < 2 ? text.size() - i - 1 : 2;
      int value = 0;
      bool readable = digits > 0;
      for (size_t k = 0; k < digits; ++k) {
        const int digit = HexValue(text[i + 1 + k]);
        if (digit < 0) readable = false;
        value = value * 16 + (digit < 0 ? 0 : digit);
      }
      if (readable && value != 0) result += static_cast<char>(value);
      i += 1 + digits;
    } else {
      result += c == '+' ? ' ' : c;
      ++i;
    }
  }
  return result;
}

void TIdURI::NormalizePath(std::string& path) {
  size_t i = 0;
  while (i < path.size()) {
    if (IsLeadByte(path[i])) {
      i += 2;
      continue;
    }
    if (path[i] == '\\') path[i] = '/';
    ++i;
  }
}

std::string TIdURI::PathJoin(const std::string& basePath, const std::string& relativePath, char separator) {
  if (!relativePath.empty() && relativePath[0] == separator) return relativePath;
  const bool keepTrailing = relativePath.empty() || relativePath.back() == separator;
  std::string work = basePath;
  if (!work.empty() && work.back() != separator) work += separator;
  work += relativePath;

  std::string result;
  result.reserve(work.size());
  for (size_t i = 0; i < work.size(); ++i) {
    const char c = work[i];
    if (c == separator) {
      if (i == 0) {
        result = std::string(1, separator);
      } else if (result.empty() || result.back() != separator) {
        result += separator;
      }
    } else if (c == '.' && !result.empty() && result.back() == separator && i + 1 < work.size() && work[i + 1] == '.') {
      // ".." takes away the segment before it; a lone "." is kept as it stands.
      result.pop_back();
      while (!result.empty() && result.back() != separator) result.pop_back();
      ++i;
    } else {
      result += c;
    }
  }
  if (result.size() > 1 && result.back() == separator && !keepTrailing) result.pop_back();
  return result;
}
