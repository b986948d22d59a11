// A URL split into its parts, and put back together. The split is a plain text operation: nothing is looked up,
// nothing is percent-encoded on the way out, and the path and document come out percent-decoded.
#pragma once

#include <string>

#include "rtl/SysUtils.h"

// The optional parts of the full form of a URL.
enum class TIdURIOptionalFields { ofAuthInfo = 1, ofBookmark = 2 };
using TIdURIOptionalFieldsSet = unsigned;
inline constexpr TIdURIOptionalFieldsSet kIdURINoOptionalFields = 0;
inline constexpr TIdURIOptionalFieldsSet kIdURIAllOptionalFields =
    static_cast<unsigned>(TIdURIOptionalFields::ofAuthInfo) | static_cast<unsigned>(TIdURIOptionalFields::ofBookmark);

class TIdURI : public TObject {
 public:
  // Sets the text as the URI when it is not empty.
  explicit TIdURI(const std::string& uri = std::string());

  // The last path segment with the query appended ("flashfeed.dsp", "page.html?a=1").
  const std::string& Document() const { return document_; }
  void SetDocument(const std::string& value) { document_ = value; }
  // The scheme without "://".
  const std::string& Protocol() const { return protocol_; }
  void SetProtocol(const std::string& value) { protocol_ = value; }
  // Reading sets the stored URI to the full form with user information and bookmark, and returns the full form
  // without them.
  std::string URI();
  // Stores the text with backslashes made slashes and splits it into protocol, host, path, document, port and
  // bookmark. User information in the text is not stored: Username and Password keep their values.
  void SetURI(const std::string& value);
  // The port as written; empty when the URL names none.
  const std::string& Port() const { return port_; }
  void SetPort(const std::string& value) { port_ = value; }
  // The directory part: begins and ends with "/" when the URL has a scheme.
  const std::string& Path() const { return path_; }
  void SetPath(const std::string& value) { path_ = value; }
  const std::string& Host() const { return host_; }
  void SetHost(const std::string& value) { host_ = value; }
  // The fragment after "#" in the query.
  const std::string& Bookmark() const { return bookmark_; }
  void SetBookmark(const std::string& value) { bookmark_ = value; }
  const std::string& Username() const { return username_; }
  void SetUsername(const std::string& value) { username_ = value; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& value) { password_ = value; }

  // Protocol "://" [user [":" password] "@"] host [":" port] path document ["#" bookmark]; the bracketed optional
  // parts only when asked for and not empty.
  std::string GetFullURI(TIdURIOptionalFieldsSet optionalFields = kIdURIAllOptionalFields) const;

  // The full split. A URL with "://" sets every output; a relative one leaves port, username and password as they
  // were and gives a path without a leading "/" put in front. A "#" counts as a fragment only inside the query.
  static void ParseURI(std::string uri, std::string& protocol, std::string& host, std::string& path,
                       std::string& document, std::string& port, std::string& bookmark, std::string& username,
                       std::string& password);

  // "+" becomes a space and "%" with two hexadecimal digits the byte they name. A "%" whose two characters are no
  // hexadecimal number, or name byte 0, disappears with them (no NUL byte ever enters a decoded text).
  static std::string URLDecode(const std::string& text);

  // Turns every backslash into "/" in place, stepping over double-byte characters whole.
  static void NormalizePath(std::string& path);

  // Joins a relative path onto a base path: a rooted relative path replaces the base, runs of the separator
  // collapse, ".." removes one segment and "." segments stay. The result keeps a trailing separator only when the
  // relative path had one or was empty.
  static std::string PathJoin(const std::string& basePath, const std::string& relativePath, char separator = '/');

 private:
  std::string document_;
  std::string protocol_;
  std::string uri_;
  std::string port_;
  std::string path_;
  std::string host_;
  std::string bookmark_;
  std::string username_;
  std::string password_;
};
