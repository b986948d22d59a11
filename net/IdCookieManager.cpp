#include "net/IdCookieManager.h"

#include <algorithm>
#include <vector>

namespace {

// Whether cookies of a domain go to a host: the host itself, or a host that ends in the domain at a label
// boundary (".example.com" and "example.com" both cover "www.example.com"; neither covers "notexample.com" or
// "example.com.evil.net").
bool DomainCoversHost(const std::string& domain, const std::string& host) {
  if (host == domain) return true;
  if (domain.empty() || host.size() <= domain.size()) return false;
  if (host.compare(host.size() - domain.size(), domain.size(), domain) != 0) return false;
  return domain[0] == '.' || host[host.size() - domain.size() - 1] == '.';
}

// Orders paths without regard to ASCII case: negative, zero or positive.
int ComparePathText(const std::string& a, const std::string& b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace

TIdCookieManager::TIdCookieManager(TComponent* owner)
    : TIdComponent(owner), cookieCollection_(std::make_unique<TIdCookies>()) {}

void TIdCookieManager::Loaded() {
  TIdComponent::Loaded();
  if (OnCreate) OnCreate(this, cookieCollection_.get());
}

TIdCookieManager::~TIdCookieManager() {
  // A destructor must not throw: a handler's failure here is dropped so the collection is still freed.
  try {
    if (OnDestroy) OnDestroy(this, cookieCollection_.get());
  } catch (...) {
  }
}

template <class Cookie>
void TIdCookieManager::StoreCookie(const std::string& cookieText, const std::string& host) {
  if (cookieText.size() > kMaxCookieTextLength) return;
  TIdCookies& cookies = *cookieCollection_;
  TIdNetscapeCookie* cookie = cookies.Add<Cookie>();
  // Until the cookie is in the index, any way out of here takes it out of the collection again.
  struct Discard {
    TIdCookies& cookies;
    TIdNetscapeCookie* cookie;
    ~Discard() {
      if (cookie) cookies.Remove(cookie);
    }
  } discard{cookies, cookie};

  cookie->SetCookieText(cookieText);
  if (cookie->Domain().empty()) cookie->SetDomain(host);
  if (!cookie->IsValidCookie(host)) return;
  bool accept = true;
  if (OnNewCookie) OnNewCookie(this, cookie, accept);
  if (!accept) return;
  discard.cookie = nullptr;  // from here on the index owns its fate
  cookies.AddCookie(cookie);
}

void TIdCookieManager::StoreSetCookie(const std::string& cookieText, const std::string& host) {
  StoreCookie<TIdCookieRFC2109>(cookieText, host);
}

void TIdCookieManager::StoreSetCookie2(const std::string& cookieText, const std::string& host) {
  StoreCookie<TIdCookieRFC2965>(cookieText, host);
}

std::string TIdCookieManager::CookieHeaderValue(const TIdURI& uri, bool secure) {
  TIdCookies& cookies = *cookieCollection_;
  TReadLock read(cookies.Lock());
  if (cookies.DomainCount() == 0) return std::string();

  struct Taken {
    std::string path;
    std::string pair;
  };
  std::vector<Taken> taken;
  std::vector<TIdNetscapeCookie*> expired;
  const TDateTime now = Now();
  const std::string& host = uri.Host();
  const std::string& path = uri.Path();
  for (int d = 0; d < cookies.DomainCount(); ++d) {
    if (!DomainCoversHost(cookies.Domains(d), host)) continue;
    const TIdCookieList& names = cookies.DomainCookies(d);
    for (int i = names.Count() - 1; i >= 0; --i) {
      TIdNetscapeCookie* cookie = names.Cookies(i);
      const std::string& cookiePath = cookie->Path();
      if (cookiePath.empty() || path.compare(0, cookiePath.size(), cookiePath) != 0) continue;
      if (cookie->IsExpired(now)) {
        expired.push_back(cookie);
        continue;
      }
      if ((!cookie->Secure() || secure) && !cookie->Value().empty())
        taken.push_back({cookiePath, cookie->ClientCookie()});
    }
  }
  if (!expired.empty()) {
    // Upgrade to writing on this thread while still reading; the walk above is finished, so a writer that gets
    // in while this one waits changes nothing that is used below.
    TWriteLock write(cookies.Lock());
    for (TIdNetscapeCookie* cookie : expired) cookies.RemoveIfExpired(cookie, now);
  }

  // Longest (greatest) path first; cookies with equal paths keep the order in which they were taken.
  std::stable_sort(taken.begin(), taken.end(),
                   [](const Taken& a, const Taken& b) { return ComparePathText(a.path, b.path) > 0; });
  std::string result;
  for (const Taken& cookie : taken) {
    if (!result.empty()) result += "; ";
    result += cookie.pair;
  }
  return result;
}
