#include "net/IdHTTPHeaderInfo.h"

#include <limits>

#include "net/IdGlobalProtocols.h"

namespace {

void SetIfNotEmpty(TIdHeaderList& headers, const std::string& name, const std::string& value) {
  if (!value.empty()) headers.SetValues(name, value);
}

// A decimal 32-bit number, blanks around it allowed; 0 for anything else.
int32_t DecimalOrZero(const std::string& text) {
  int64_t value = 0;
  if (!TryStrToDecimal(Trim(text), value)) return 0;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) return 0;
  return static_cast<int32_t>(value);
}

}  // namespace

// ---- Entity ----

TIdEntityHeaderInfo::TIdEntityHeaderInfo() { TIdEntityHeaderInfo::Clear(); }

void TIdEntityHeaderInfo::Clear() {
  connection_.clear();
  contentVersion_.clear();
  contentEncoding_.clear();
  contentLanguage_.clear();
  contentType_ = kDefaultContentType;
  contentLength_ = 0;
  contentRangeStart_ = 0;
  contentRangeEnd_ = 0;
  date_ = 0;
  lastModified_ = 0;
  expires_ = 0;
  rawHeaders_.Clear();
}

void TIdEntityHeaderInfo::Assign(const TIdEntityHeaderInfo& source) {
  if (&source == this) return;
  cacheControl_ = source.cacheControl_;
  rawHeaders_.Assign(source.rawHeaders_);
  connection_ = source.connection_;
  contentEncoding_ = source.contentEncoding_;
  contentLanguage_ = source.contentLanguage_;
  contentLength_ = source.contentLength_;
  contentRangeEnd_ = source.contentRangeEnd_;
  contentRangeStart_ = source.contentRangeStart_;
  contentType_ = source.contentType_;
  contentVersion_ = source.contentVersion_;
  customHeaders_.Assign(source.customHeaders_);
  date_ = source.date_;
  expires_ = source.expires_;
  lastModified_ = source.lastModified_;
  pragma_ = source.pragma_;
}

// ---- Request ----

TIdRequestHeaderInfo::TIdRequestHeaderInfo() { TIdRequestHeaderInfo::Clear(); }

void TIdRequestHeaderInfo::Clear() {
  TIdEntityHeaderInfo::Clear();
  accept_ = kDefaultAccept;
  acceptCharSet_.clear();
  userAgent_ = kDefaultUserAgent;
  basicAuthentication_ = false;
}

void TIdRequestHeaderInfo::Assign(const TIdRequestHeaderInfo& source) {
  if (&source == this) return;
  TIdEntityHeaderInfo::Assign(source);
  accept_ = source.accept_;
  acceptCharSet_ = source.acceptCharSet_;
  acceptEncoding_ = source.acceptEncoding_;
  acceptLanguage_ = source.acceptLanguage_;
  from_ = source.from_;
  password_ = source.password_;
  referer_ = source.referer_;
  userAgent_ = source.userAgent_;
  username_ = source.username_;
  host_ = source.host_;
  basicAuthentication_ = source.basicAuthentication_;
  proxyConnection_ = source.proxyConnection_;
}

void TIdRequestHeaderInfo::SetHeaders() {
  TIdHeaderList& raw = RawHeaders();
  raw.Clear();
  SetIfNotEmpty(raw, "Connection", Connection());
  SetIfNotEmpty(raw, "Content-Version", ContentVersion());
  SetIfNotEmpty(raw, "Content-Encoding", ContentEncoding());
  SetIfNotEmpty(raw, "Content-Language", ContentLanguage());
  SetIfNotEmpty(raw, "Content-Type", ContentType());
  if (ContentLength() != 0) raw.SetValues("Content-Length", IntToStr(ContentLength()));
  SetIfNotEmpty(raw, "Pragma", Pragma());
  // Custom lines go in before the standard request headers, so a custom line naming one of them (a "Host", say)
  // is replaced in place below rather than sent twice.
  if (CustomHeaders().Count() > 0) raw.AddText(CustomHeaders().Text());
  SetIfNotEmpty(raw, "Proxy-Connection", proxyConnection_);
  SetIfNotEmpty(raw, "Host", host_);
  SetIfNotEmpty(raw, "Accept", accept_);
  SetIfNotEmpty(raw, "Accept-Charset", acceptCharSet_);
  SetIfNotEmpty(raw, "Accept-Encoding", acceptEncoding_);
  SetIfNotEmpty(raw, "Accept-Language", acceptLanguage_);
  SetIfNotEmpty(raw, "From", from_);
  SetIfNotEmpty(raw, "Referer", referer_);
  SetIfNotEmpty(raw, "User-Agent", userAgent_);
  if (ContentRangeStart() != 0 || ContentRangeEnd() != 0) {
    std::string range = "bytes=" + IntToStr(ContentRangeStart()) + "-";
    if (ContentRangeEnd() != 0) range += IntToStr(ContentRangeEnd());
    raw.SetValues("Range", range);
  }
  if (authentication_) {
    SetIfNotEmpty(raw, "Authorization", authentication_->Authentication());
  } else if (basicAuthentication_) {
    auto basic = std::make_unique<TIdBasicAuthentication>();
    basic->SetUsername(username_);
    basic->SetPassword(password_);
    authentication_ = std::move(basic);
    SetIfNotEmpty(raw, "Authorization", authentication_->Authentication());
  }
}

// ---- Response ----

TIdResponseHeaderInfo::TIdResponseHeaderInfo() { TIdResponseHeaderInfo::Clear(); }

void TIdResponseHeaderInfo::Clear() {
  TIdEntityHeaderInfo::Clear();
  location_.clear();
  server_.clear();
  wwwAuthenticate_.Clear();
  proxyAuthenticate_.Clear();
}

void TIdResponseHeaderInfo::Assign(const TIdResponseHeaderInfo& source) {
  if (&source == this) return;
  TIdEntityHeaderInfo::Assign(source);
  location_ = source.location_;
  server_ = source.server_;
  proxyConnection_ = source.proxyConnection_;
  proxyAuthenticate_.Assign(source.proxyAuthenticate_);
  wwwAuthenticate_.Assign(source.wwwAuthenticate_);
  hasContentLength_ = source.hasContentLength_;
}

void TIdResponseHeaderInfo::ProcessHeaders() {
  const TIdHeaderList& raw = RawHeaders();
  const std::string contentLength = raw.Values("Content-Length");
  hasContentLength_ = !contentLength.empty();
  location_ = raw.Values("Location");
  server_ = raw.Values("Server");
  proxyConnection_ = raw.Values("Proxy-Connection");

  std::string range = raw.Values("Content-Range");
  if (!range.empty()) {
    Fetch(range, " ");  // the unit ("bytes")
    SetContentRangeStart(static_cast<uint32_t>(StrToInt(Fetch(range, "-"))));
    SetContentRangeEnd(static_cast<uint32_t>(StrToInt(Fetch(range, "/"))));
  }

  wwwAuthenticate_.Clear();
  raw.Extract("WWW-Authenticate", wwwAuthenticate_);
  proxyAuthenticate_.Clear();
  raw.Extract("Proxy-Authenticate", proxyAuthenticate_);

  SetConnection(raw.Values("Connection"));
  SetContentVersion(raw.Values("Content-Version"));
  SetContentEncoding(raw.Values("Content-Encoding"));
  SetContentLanguage(raw.Values("Content-Language"));
  SetContentType(raw.Values("Content-Type"));
  SetPragma(raw.Values("Pragma"));
  SetContentLength(DecimalOrZero(contentLength));
  SetDate(GMTToLocalDateTime(raw.Values("Date")));
  SetLastModified(GMTToLocalDateTime(raw.Values("Last-Modified")));
  SetExpires(GMTToLocalDateTime(raw.Values("Expires")));
}

// ---- Proxy ----

void TIdProxyConnectionInfo::Clear() {
  proxyServer_.clear();
  proxyPort_ = 0;
  proxyUsername_.clear();
  proxyPassword_.clear();
  basicAuthentication_ = false;
  authentication_.reset();
}

void TIdProxyConnectionInfo::Assign(const TIdProxyConnectionInfo& source) {
  if (&source == this) return;
  SetProxyServer(source.proxyServer_);
  SetProxyPort(source.proxyPort_);
  proxyUsername_ = source.proxyUsername_;
  proxyPassword_ = source.proxyPassword_;
  basicAuthentication_ = source.basicAuthentication_;
}

void TIdProxyConnectionInfo::SetProxyPort(int value) {
  if (value != proxyPort_) authentication_.reset();
  proxyPort_ = value;
}

void TIdProxyConnectionInfo::SetProxyServer(const std::string& value) {
  if (!SameText(value, proxyServer_)) authentication_.reset();
  proxyServer_ = value;
}

void TIdProxyConnectionInfo::SetHeaders(TIdHeaderList& headers) {
  if (authentication_) {
    SetIfNotEmpty(headers, "Proxy-Authorization", authentication_->Authentication());
  } else if (basicAuthentication_) {
    auto basic = std::make_unique<TIdBasicAuthentication>();
    basic->SetUsername(proxyUsername_);
    basic->SetPassword(proxyPassword_);
    authentication_ = std::move(basic);
    SetIfNotEmpty(headers, "Proxy-Authorization", authentication_->Authentication());
  }
}
