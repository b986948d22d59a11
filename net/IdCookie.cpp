#include "net/IdCookie.h"

#include <cmath>

#include "net/IdException.h"
#include "net/IdGlobalProtocols.h"
#include "net/IdResourceStrings.h"

namespace {

// The last whole second a date-time can hold: 31 December 9999 23:59:59.
constexpr TDateTime kLastWholeSecond = 2958465.0 + 86399.0 / kSecondsPerDay;

// Four dot-separated decimal numbers from 0 to 255.
bool IsDottedAddress(const std::string& text) {
  int parts = 0;
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find('.', start);
    const std::string part = text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    int64_t value = 0;
    if (part.size() > 3 || !TryStrToDecimal(part, value, false) || value > 255) return false;
    ++parts;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return parts == 4;
}

// Now plus a number of seconds, kept within the dates a text can carry so that a long-lived cookie never reads
// back as an unreadable (and so expired) date.
TDateTime SecondsFromNow(int64_t seconds) {
  const TDateTime result = Now() + static_cast<TDateTime>(seconds) / kSecondsPerDay;
  return result > kLastWholeSecond ? kLastWholeSecond : result;
}

std::string StripOneQuotePair(std::string text) {
  if (!text.empty() && text.front() == '"') text.erase(0, 1);
  if (!text.empty() && text.back() == '"') text.pop_back();
  return text;
}

void AppendItem(std::string& text, const std::string& item) {
  if (!text.empty()) text += "; ";
  text += item;
}

}  // namespace

// ---- Attributes ----

void TIdCookieAttributes::Add(const std::string& item) {
  const size_t equals = item.find('=');
  if (equals == std::string::npos) {
    items_.push_back({UpperCase(item), false, std::string()});
  } else {
    items_.push_back({UpperCase(item.substr(0, equals)), true, item.substr(equals + 1)});
  }
}

bool TIdCookieAttributes::HasFlag(const std::string& upperName) const {
  for (const Item& item : items_) {
    if (!item.hasValue && item.name == upperName) return true;
  }
  return false;
}

bool TIdCookieAttributes::HasValue(const std::string& upperName) const {
  for (const Item& item : items_) {
    if (item.hasValue && item.name == upperName) return true;
  }
  return false;
}

std::string TIdCookieAttributes::Value(const std::string& upperName) const {
  for (const Item& item : items_) {
    if (item.hasValue && item.name == upperName) return item.value;
  }
  return std::string();
}

// ---- Plain cookie ----

void TIdNetscapeCookie::SetCookieText(const std::string& text) {
  if (text == cookieText_) return;
  cookieText_ = text;

  std::vector<std::string> items;
  if (text.find(';') == std::string::npos) {
    items.push_back(text);
  } else {
    size_t start = 0;
    for (size_t semicolon = text.find(';'); semicolon != std::string::npos; semicolon = text.find(';', start)) {
      items.push_back(Trim(text.substr(start, semicolon - start)));
      start = semicolon + 1;
    }
    std::string tail = Trim(text.substr(start));
    if (!tail.empty()) items.push_back(std::move(tail));
  }

  const std::string& first = items.front();
  const size_t equals = first.find('=');
  if (equals == std::string::npos) {
    cookieName_.clear();
    value_.clear();
  } else {
    cookieName_ = first.substr(0, equals);
    value_ = first.substr(equals + 1);
  }
  TIdCookieAttributes attributes;
  for (size_t i = 1; i < items.size(); ++i) attributes.Add(items[i]);
  LoadProperties(attributes);
}

void TIdNetscapeCookie::LoadProperties(const TIdCookieAttributes& attributes) {
  path_ = StripOneQuotePair(attributes.Value("PATH"));
  SetExpires(attributes.Value("EXPIRES"));
  domain_ = attributes.Value("DOMAIN");
  secure_ = attributes.HasFlag("SECURE");
}

std::string TIdNetscapeCookie::ServerCookie() const {
  // The name=value item is always written, even for an empty value: without it the first attribute would be read
  // back as the cookie's name and value.
  std::string text = ClientCookie();
  if (!path_.empty()) AppendItem(text, "path=" + path_);
  // The expiry is written for every kind of cookie, so a cookie that replaces a stored one keeps its expiry (and
  // a server can still delete a cookie by setting it again with a past date).
  if (!expires_.empty()) AppendItem(text, "expires=" + expires_);
  if (!domain_.empty()) AppendItem(text, "domain=" + domain_);
  if (secure_) AppendItem(text, "secure");
  return text;
}

bool TIdNetscapeCookie::IsValidCookie(const std::string& host) const {
  if (IsDottedAddress(host)) return domain_ == host;
  if (!host.empty() && host[0] == '.') return false;
  if ((!domain_.empty() && domain_[0] == '.') || IsDottedAddress(domain_)) {
    const size_t dot = host.find('.');
    if (dot == std::string::npos) return false;
    const std::string parent = host.substr(dot);
    // A parent of one label (".com") would hand the cookie to every site under that top-level domain.
    if (parent.find('.', 1) == std::string::npos) return false;
    return domain_ == parent;
  }
  return domain_ == host;
}

bool TIdNetscapeCookie::IsExpired(TDateTime now) const {
  if (expires_.empty()) return false;
  // Whole milliseconds: a cookie set with max-age 0 expires at the very moment it was stored.
  return DateTimeToMilliseconds(GMTToLocalDateTime(expires_)) <= DateTimeToMilliseconds(now);
}

void TIdNetscapeCookie::Assign(const TIdNetscapeCookie& source) {
  if (&source == this) return;
  SetCookieText(source.ServerCookie());
  internalVersion_ = source.internalVersion_;
}

// ---- Set-cookie cookie ----

void TIdCookieRFC2109::SetExpires(const std::string& value) {
  if (!value.empty()) {
    const TDateTime date = GMTToLocalDateTime(value);
    if (date != 0) maxAge_ = static_cast<int64_t>(std::trunc((date - Now()) * kSecondsPerDay));
  }
  TIdNetscapeCookie::SetExpires(value);
}

void TIdCookieRFC2109::LoadProperties(const TIdCookieAttributes& attributes) {
  TIdNetscapeCookie::LoadProperties(attributes);
  int64_t maxAge = 0;
  maxAge_ = TryStrToDecimal(attributes.Value("MAX-AGE"), maxAge) ? maxAge : -1;
  version_ = attributes.Value("VERSION");
  comment_ = attributes.Value("COMMENT");
  if (Expires().empty()) {
    SetInternalVersion(TIdCookieVersion::cvNetscape);
    if (maxAge_ >= 0) SetExpires(DateTimeToInternetStr(SecondsFromNow(maxAge_)));
  }
}

std::string TIdCookieRFC2109::ServerCookie() const {
  std::string text = TIdNetscapeCookie::ServerCookie();
  if (maxAge_ >= 0 && Expires().empty()) AppendItem(text, "max-age=" + IntToStr(maxAge_));
  if (!comment_.empty()) AppendItem(text, "comment=" + comment_);
  if (!version_.empty()) AppendItem(text, "version=" + version_);
  return text;
}

// ---- Set-cookie2 cookie ----

void TIdCookieRFC2965::LoadProperties(const TIdCookieAttributes& attributes) {
  TIdCookieRFC2109::LoadProperties(attributes);
  commentURL_ = attributes.Value("COMMENTURL");
  discard_ = attributes.HasFlag("DISCARD");
  portList_.clear();
  if (!attributes.HasValue("PORT")) {
    portList_.push_back(kDefaultPort);
    return;
  }
  const std::string ports = attributes.Value("PORT");
  if (ports.size() < 2 || ports.front() != '"' || ports.back() != '"') return;
  const std::string inner = ports.substr(1, ports.size() - 2);
  size_t start = 0;
  while (start < inner.size()) {
    size_t end = inner.find_first_of(", \t", start);
    if (end == std::string::npos) end = inner.size();
    if (end > start) portList_.push_back(StrToInt(inner.substr(start, end - start)));
    start = end + 1;
  }
}

int TIdCookieRFC2965::PortList(int index) const {
  if (index < 0 || index >= PortCount()) throw EIdException(IdResourceStrings::RSIndexOutOfRange);
  return portList_[static_cast<size_t>(index)];
}

void TIdCookieRFC2965::SetPortList(int index, int port) {
  if (index < 0 || index > PortCount()) throw EIdException(IdResourceStrings::RSIndexOutOfRange);
  if (index == PortCount()) {
    portList_.push_back(port);
  } else {
    portList_[static_cast<size_t>(index)] = port;
  }
}

// ---- Index ----

int TIdCookieList::IndexOf(const std::string& name) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (SameText(entries_[i].first, name)) return static_cast<int>(i);
  }
  return -1;
}

int TIdCookieList::IndexOfCookie(const TIdNetscapeCookie* cookie) const {
  for (size_t i = 0; i < entries_.size(); ++i) {
    if (entries_[i].second == cookie) return static_cast<int>(i);
  }
  return -1;
}

int TIdCookies::IndexOfDomain(const std::string& domain) const {
  for (size_t i = 0; i < byDomain_.size(); ++i) {
    if (SameText(byDomain_[i].first, domain)) return static_cast<int>(i);
  }
  return -1;
}

void TIdCookies::Remove(TIdNetscapeCookie* cookie) {
  TWriteLock write(lock_);
  for (auto it = items_.begin(); it != items_.end(); ++it) {
    if (it->get() == cookie) {
      items_.erase(it);
      return;
    }
  }
}

void TIdCookies::Unindex(int domainIndex, int nameIndex) {
  byDomain_[static_cast<size_t>(domainIndex)].second->Delete(nameIndex);
  --storedCount_;
}

void TIdCookies::PruneEmptyDomains() {
  for (size_t i = byDomain_.size(); i-- > 0;) {
    if (byDomain_[i].second->Count() == 0) byDomain_.erase(byDomain_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

void TIdCookies::EvictOldestStored(const TIdNetscapeCookie* keep) {
  // The collection is in creation order, so its first stored cookie is the oldest.
  for (const auto& item : items_) {
    TIdNetscapeCookie* candidate = item.get();
    int d = 0;
    int n = 0;
    if (candidate != keep && FindStored(candidate, d, n)) {
      Unindex(d, n);
      Remove(candidate);
      return;
    }
  }
}

void TIdCookies::AddCookie(TIdNetscapeCookie* cookie) {
  TWriteLock write(lock_);
  int d = IndexOfDomain(cookie->Domain());
  if (d < 0) {
    // Domains stay after their last cookie has gone; only a store at its bound clears the empty ones away.
    if (DomainCount() >= kMaxCookies) PruneEmptyDomains();
    byDomain_.emplace_back(cookie->Domain(), std::make_unique<TIdCookieList>());
    d = DomainCount() - 1;
  }
  TIdCookieList& names = *byDomain_[static_cast<size_t>(d)].second;
  const int n = names.IndexOf(cookie->CookieName());
  if (n >= 0) {
    TIdNetscapeCookie* stored = names.Cookies(n);
    if (stored == cookie) return;
    try {
      stored->Assign(*cookie);
    } catch (...) {
      Remove(cookie);
      throw;
    }
    Remove(cookie);
    return;
  }
  if (names.Count() >= kMaxCookiesPerDomain) {
    TIdNetscapeCookie* oldest = names.Cookies(0);
    Unindex(d, 0);
    Remove(oldest);
  }
  if (storedCount_ >= kMaxCookies) EvictOldestStored(cookie);
  names.Add(cookie->CookieName(), cookie);
  ++storedCount_;
}

bool TIdCookies::FindStored(const TIdNetscapeCookie* cookie, int& domainIndex, int& nameIndex) const {
  for (int d = 0; d < DomainCount(); ++d) {
    const int n = byDomain_[static_cast<size_t>(d)].second->IndexOfCookie(cookie);
    if (n >= 0) {
      domainIndex = d;
      nameIndex = n;
      return true;
    }
  }
  return false;
}

bool TIdCookies::RemoveCookie(TIdNetscapeCookie* cookie) {
  TWriteLock write(lock_);
  int d = 0;
  int n = 0;
  if (!FindStored(cookie, d, n)) return false;
  Unindex(d, n);
  Remove(cookie);
  return true;
}

bool TIdCookies::RemoveIfExpired(TIdNetscapeCookie* cookie, TDateTime now) {
  TWriteLock write(lock_);
  int d = 0;
  int n = 0;
  // Only a cookie found in the index is known to be alive, so only then is it read.
  if (!FindStored(cookie, d, n) || !cookie->IsExpired(now)) return false;
  Unindex(d, n);
  Remove(cookie);
  return true;
}
