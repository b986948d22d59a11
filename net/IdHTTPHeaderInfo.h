// HTTP header records: one field per known header, beside the raw header lines. A request record writes its
// fields into its raw lines in a fixed order; a response record reads its fields out of the raw lines it received.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/IdAuthentication.h"
#include "net/IdHeaderList.h"
#include "rtl/DateUtils.h"

class TIdEntityHeaderInfo : public TObject {
 public:
  // Raw lines of a request are folded only when one header is longer than this.
  static constexpr int kRawHeadersFoldLength = 1024;
  static constexpr char kDefaultContentType[] = "text/html";

  TIdEntityHeaderInfo();
  TIdEntityHeaderInfo(const TIdEntityHeaderInfo&) = delete;
  TIdEntityHeaderInfo& operator=(const TIdEntityHeaderInfo&) = delete;

  // The defaults: empty texts, content type "text/html", zero numbers and dates, no raw lines. Cache control,
  // pragma and the custom headers are kept.
  virtual void Clear();
  // Copies every field and both header lists.
  void Assign(const TIdEntityHeaderInfo& source);

  const std::string& CacheControl() const { return cacheControl_; }
  void SetCacheControl(const std::string& value) { cacheControl_ = value; }
  TIdHeaderList& RawHeaders() { return rawHeaders_; }
  const TIdHeaderList& RawHeaders() const { return rawHeaders_; }
  const std::string& Connection() const { return connection_; }
  void SetConnection(const std::string& value) { connection_ = value; }
  const std::string& ContentEncoding() const { return contentEncoding_; }
  void SetContentEncoding(const std::string& value) { contentEncoding_ = value; }
  const std::string& ContentLanguage() const { return contentLanguage_; }
  void SetContentLanguage(const std::string& value) { contentLanguage_ = value; }
  int32_t ContentLength() const { return contentLength_; }
  void SetContentLength(int32_t value) { contentLength_ = value; }
  uint32_t ContentRangeEnd() const { return contentRangeEnd_; }
  void SetContentRangeEnd(uint32_t value) { contentRangeEnd_ = value; }
  uint32_t ContentRangeStart() const { return contentRangeStart_; }
  void SetContentRangeStart(uint32_t value) { contentRangeStart_ = value; }
  const std::string& ContentType() const { return contentType_; }
  void SetContentType(const std::string& value) { contentType_ = value; }
  const std::string& ContentVersion() const { return contentVersion_; }
  void SetContentVersion(const std::string& value) { contentVersion_ = value; }
  TIdHeaderList& CustomHeaders() { return customHeaders_; }
  const TIdHeaderList& CustomHeaders() const { return customHeaders_; }
  TDateTime Date() const { return date_; }
  void SetDate(TDateTime value) { date_ = value; }
  TDateTime Expires() const { return expires_; }
  void SetExpires(TDateTime value) { expires_ = value; }
  TDateTime LastModified() const { return lastModified_; }
  void SetLastModified(TDateTime value) { lastModified_ = value; }
  const std::string& Pragma() const { return pragma_; }
  void SetPragma(const std::string& value) { pragma_ = value; }

 private:
  std::string cacheControl_;
  TIdHeaderList rawHeaders_{kRawHeadersFoldLength};
  std::string connection_;
  std::string contentEncoding_;
  std::string contentLanguage_;
  int32_t contentLength_ = 0;
  uint32_t contentRangeEnd_ = 0;
  uint32_t contentRangeStart_ = 0;
  std::string contentType_;
  std::string contentVersion_;
  TIdHeaderList customHeaders_{TIdHeaderList::kDefaultFoldLength};
  TDateTime date_ = 0;
  TDateTime expires_ = 0;
  TDateTime lastModified_ = 0;
  std::string pragma_;
};

class TIdRequestHeaderInfo : public TIdEntityHeaderInfo {
 public:
  static constexpr char kDefaultAccept[] = "text/html, */*";
  static constexpr char kDefaultUserAgent[] = "Mozilla/3.0 (compatible; Brasko tracker)";

  TIdRequestHeaderInfo();

  // The entity defaults, and Accept "text/html, */*", no accepted character set, the tracker's user agent and no
  // Basic authentication.
  void Clear() override;
  // Copies every field but the authentication object, which stays with its record.
  void Assign(const TIdRequestHeaderInfo& source);

  // Writes the fields into RawHeaders, in this order, each only when it is set: Connection, Content-Version,
  // Content-Encoding, Content-Language, Content-Type, Content-Length, Pragma; then the custom header lines; then
  // Proxy-Connection, Host, Accept, Accept-Charset, Accept-Encoding, Accept-Language, From, Referer, User-Agent,
  // Range and Authorization. A field whose header a custom line already names replaces that line in place.
  void SetHeaders();

  const std::string& Accept() const { return accept_; }
  void SetAccept(const std::string& value) { accept_ = value; }
  const std::string& AcceptCharSet() const { return acceptCharSet_; }
  void SetAcceptCharSet(const std::string& value) { acceptCharSet_ = value; }
  const std::string& AcceptEncoding() const { return acceptEncoding_; }
  void SetAcceptEncoding(const std::string& value) { acceptEncoding_ = value; }
  const std::string& AcceptLanguage() const { return acceptLanguage_; }
  void SetAcceptLanguage(const std::string& value) { acceptLanguage_ = value; }
  // The credentials the request carries; none at first. The record owns it.
  TIdAuthentication* Authentication() const { return authentication_.get(); }
  void SetAuthentication(std::unique_ptr<TIdAuthentication> value) { authentication_ = std::move(value); }
  const std::string& From() const { return from_; }
  void SetFrom(const std::string& value) { from_ = value; }
  const std::string& Password() const { return password_; }
  void SetPassword(const std::string& value) { password_ = value; }
  const std::string& Referer() const { return referer_; }
  void SetReferer(const std::string& value) { referer_ = value; }
  const std::string& UserAgent() const { return userAgent_; }
  void SetUserAgent(const std::string& value) { userAgent_ = value; }
  const std::string& Username() const { return username_; }
  void SetUsername(const std::string& value) { username_ = value; }
  const std::string& Host() const { return host_; }
  void SetHost(const std::string& value) { host_ = value; }
  bool BasicAuthentication() const { return basicAuthentication_; }
  void SetBasicAuthentication(bool value) { basicAuthentication_ = value; }
  const std::string& ProxyConnection() const { return proxyConnection_; }
  void SetProxyConnection(const std::string& value) { proxyConnection_ = value; }

 private:
  std::string accept_;
  std::string acceptCharSet_;
  std::string acceptEncoding_;
  std::string acceptLanguage_;
  std::unique_ptr<TIdAuthentication> authentication_;
  std::string from_;
  std::string password_;
  std::string referer_;
  std::string userAgent_;
  std::string username_;
  std::string host_;
  bool basicAuthentication_ = false;
  std::string proxyConnection_;
};

class TIdResponseHeaderInfo : public TIdEntityHeaderInfo {
 public:
  TIdResponseHeaderInfo();

  // The entity defaults, and no location, no server and empty authenticate lists.
  void Clear() override;
  void Assign(const TIdResponseHeaderInfo& source);

  // Reads the fields out of RawHeaders. A "Content-Length" that is no number reads as 0 but still counts as
  // present; a "Content-Range" part that is no number raises EConvertError.
  void ProcessHeaders();

  const std::string& Location() const { return location_; }
  void SetLocation(const std::string& value) { location_ = value; }
  const std::string& Server() const { return server_; }
  void SetServer(const std::string& value) { server_ = value; }
  const std::string& ProxyConnection() const { return proxyConnection_; }
  void SetProxyConnection(const std::string& value) { proxyConnection_ = value; }
  TIdHeaderList& ProxyAuthenticate() { return proxyAuthenticate_; }
  const TIdHeaderList& ProxyAuthenticate() const { return proxyAuthenticate_; }
  TIdHeaderList& WWWAuthenticate() { return wwwAuthenticate_; }
  const TIdHeaderList& WWWAuthenticate() const { return wwwAuthenticate_; }
  // True when the reply had a "Content-Length" header with a non-empty value.
  bool HasContentLength() const { return hasContentLength_; }

 private:
  std::string location_;
  std::string server_;
  std::string proxyConnection_;
  TIdHeaderList proxyAuthenticate_{TIdHeaderList::kDefaultFoldLength};
  TIdHeaderList wwwAuthenticate_{TIdHeaderList::kDefaultFoldLength};
  bool hasContentLength_ = false;
};

// The proxy settings of an HTTP client; an empty ProxyServer means a direct connection.
class TIdProxyConnectionInfo : public TObject {
 public:
  TIdProxyConnectionInfo() = default;
  TIdProxyConnectionInfo(const TIdProxyConnectionInfo&) = delete;
  TIdProxyConnectionInfo& operator=(const TIdProxyConnectionInfo&) = delete;

  // No server, port 0, no user, no Basic authentication, no authentication object.
  void Clear();
  // Copies every setting but the authentication object.
  void Assign(const TIdProxyConnectionInfo& source);
  // Adds "Proxy-Authorization" from the authentication object or, with BasicAuthentication, from a new Basic
  // object built from ProxyUsername and ProxyPassword (kept for the next request).
  void SetHeaders(TIdHeaderList& headers);

  const std::string& ProxyPassword() const { return proxyPassword_; }
  void SetProxyPassword(const std::string& value) { proxyPassword_ = value; }
  int ProxyPort() const { return proxyPort_; }
  // A different port frees the authentication object: its credentials belonged to the old proxy.
  void SetProxyPort(int value);
  const std::string& ProxyServer() const { return proxyServer_; }
  // A different server (compared without regard to case) frees the authentication object.
  void SetProxyServer(const std::string& value);
  const std::string& ProxyUsername() const { return proxyUsername_; }
  void SetProxyUsername(const std::string& value) { proxyUsername_ = value; }
  bool BasicAuthentication() const { return basicAuthentication_; }
  void SetBasicAuthentication(bool value) { basicAuthentication_ = value; }
  TIdAuthentication* Authentication() const { return authentication_.get(); }
  void SetAuthentication(std::unique_ptr<TIdAuthentication> value) { authentication_ = std::move(value); }

 private:
  std::string proxyPassword_;
  int proxyPort_ = 0;
  std::string proxyServer_;
  std::string proxyUsername_;
  bool basicAuthentication_ = false;
  std::unique_ptr<TIdAuthentication> authentication_;
};
