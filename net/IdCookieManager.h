// The cookie store of an HTTP client: keeps the cookies that replies set, in memory only, and gives the Cookie
// header value for each later request.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "net/IdComponent.h"
#include "net/IdCookie.h"
#include "net/IdURI.h"

// Fired for every valid new cookie before it is stored; setting accept to false drops it.
using TOnNewCookieEvent = std::function<void(TObject* sender, TIdNetscapeCookie* cookie, bool& accept)>;
// Fired when the store's collection has been created, and before it is freed.
using TOnManagerEvent = std::function<void(TObject* sender, TIdCookies* cookieCollection)>;

class TIdCookieManager : public TIdComponent {
 public:
  // A cookie text longer than this is dropped unread: no single Set-cookie value may make the store grow
  // without limit.
  static constexpr size_t kMaxCookieTextLength = 4096;

  // Creates the collection. OnCreate fires once the collection exists and a handler can have been assigned: at
  // the after-loading call of a store created from its owner's description. A store created at run time has no
  // handler yet when it is created, so nothing fires for it.
  explicit TIdCookieManager(TComponent* owner);
  // Fires OnDestroy, then frees the collection with every cookie.
  ~TIdCookieManager() override;

  // Parses one "Set-cookie" (StoreSetCookie) or "Set-cookie2" (StoreSetCookie2) value received from host and
  // stores the cookie when it is valid for that host and accepted. A cookie without a domain takes the host; a
  // cookie with the domain and name of a stored one replaces it.
  void StoreSetCookie(const std::string& cookieText, const std::string& host);
  void StoreSetCookie2(const std::string& cookieText, const std::string& host);

  // The Cookie header value for a request to the URI's host and path: the name=value pairs of every unexpired
  // cookie whose domain covers the host and whose path begins the URI's path, joined by "; ", longest path first.
  // Secure cookies go only with secure set; cookies with an empty value never go. Expired cookies met on the way
  // are removed. Empty when no cookie applies.
  std::string CookieHeaderValue(const TIdURI& uri, bool secure);

  TIdCookies& CookieCollection() { return *cookieCollection_; }

  TOnNewCookieEvent OnNewCookie;
  TOnManagerEvent OnCreate;
  TOnManagerEvent OnDestroy;

 protected:
  void Loaded() override;

 private:
  template <class Cookie>
  void StoreCookie(const std::string& cookieText, const std::string& host);

  std::unique_ptr<TIdCookies> cookieCollection_;
};
