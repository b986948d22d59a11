// Cookies as a server sets them, and the collection that holds them with its by-domain index.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "rtl/DateUtils.h"
#include "rtl/SyncObjs.h"
#include "rtl/SysUtils.h"

// Which attribute set a cookie was last read with; parsing may change it.
enum class TIdCookieVersion : uint8_t { cvNetscape = 0, cvRFC2109 = 1, cvRFC2965 = 2 };

// The attributes of a cookie text after its first item: flags upper-cased whole, name=value items with the name
// upper-cased. Look-ups ignore case and the first item of a name wins.
class TIdCookieAttributes {
 public:
  void Add(const std::string& item);
  bool HasFlag(const std::string& upperName) const;
  bool HasValue(const std::string& upperName) const;
  // Empty when no item has that name.
  std::string Value(const std::string& upperName) const;

 private:
  struct Item {
    std::string name;  // upper-cased
    bool hasValue;
    std::string value;
  };
  std::vector<Item> items_;
};

// A cookie with the original attribute set: name, value, path, domain, expiry text and the secure flag.
class TIdNetscapeCookie : public TObject {
 public:
  TIdNetscapeCookie() = default;
  TIdNetscapeCookie(const TIdNetscapeCookie&) = delete;
  TIdNetscapeCookie& operator=(const TIdNetscapeCookie&) = delete;

  // The text the cookie was last parsed from. Setting a different text parses it: the first ";"-separated item
  // is name=value, the others are attributes.
  const std::string& CookieText() const { return cookieText_; }
  void SetCookieText(const std::string& text);

  const std::string& Domain() const { return domain_; }
  void SetDomain(const std::string& value) { domain_ = value; }
  // The expiry date as the server wrote it; empty for a cookie that lives as long as the store.
  const std::string& Expires() const { return expires_; }
  virtual void SetExpires(const std::string& value) { expires_ = value; }
  const std::string& CookieName() const { return cookieName_; }
  void SetCookieName(const std::string& value) { cookieName_ = value; }
  const std::string& Path() const { return path_; }
  void SetPath(const std::string& value) { path_ = value; }
  bool Secure() const { return secure_; }
  void SetSecure(bool value) { secure_ = value; }
  const std::string& Value() const { return value_; }
  void SetValue(const std::string& value) { value_ = value; }
  TIdCookieVersion InternalVersion() const { return internalVersion_; }
  void SetInternalVersion(TIdCookieVersion value) { internalVersion_ = value; }

  // The cookie text rebuilt from the fields, items joined by "; ": name=value, then path, expires, domain (each
  // when not empty) and the flag "secure".
  virtual std::string ServerCookie() const;
  // The form a request sends: name "=" value.
  std::string ClientCookie() const { return cookieName_ + "=" + value_; }

  // Whether a server at host may set this cookie: an exact host, or for a domain with a leading dot the host's
  // parent domain (itself of at least two labels). A dotted-address host accepts only itself.
  bool IsValidCookie(const std::string& host) const;
  // True when the cookie has an expiry text whose date is at or before now; an unreadable date counts as long
  // past.
  bool IsExpired(TDateTime now) const;

  // Takes over another cookie's fields by parsing the text rebuilt from it, and its version kind.
  void Assign(const TIdNetscapeCookie& source);

 protected:
  explicit TIdNetscapeCookie(TIdCookieVersion version) : internalVersion_(version) {}
  // Reads the fields out of the attributes; each class adds its own after its parent's.
  virtual void LoadProperties(const TIdCookieAttributes& attributes);

 private:
  std::string cookieText_;
  std::string domain_;
  std::string expires_;
  std::string cookieName_;
  std::string path_;
  bool secure_ = false;
  std::string value_;
  TIdCookieVersion internalVersion_ = TIdCookieVersion::cvNetscape;
};

// A "Set-cookie" cookie: adds max-age, version and comment.
class TIdCookieRFC2109 : public TIdNetscapeCookie {
 public:
  TIdCookieRFC2109() : TIdNetscapeCookie(TIdCookieVersion::cvRFC2109) {}

  // Seconds to live; -1 for none.
  int64_t MaxAge() const { return maxAge_; }
  void SetMaxAge(int64_t value) { maxAge_ = value; }
  const std::string& Version() const { return version_; }
  void SetVersion(const std::string& value) { version_ = value; }
  const std::string& Comment() const { return comment_; }
  void SetComment(const std::string& value) { comment_ = value; }

  // Stores the text; a readable date also sets max-age to the whole seconds from now until it.
  void SetExpires(const std::string& value) override;
  // Adds max-age (when there is no expiry text), comment and version to the plain rebuild.
  std::string ServerCookie() const override;

 protected:
  explicit TIdCookieRFC2109(TIdCookieVersion version) : TIdNetscapeCookie(version) {}
  void LoadProperties(const TIdCookieAttributes& attributes) override;

 private:
  int64_t maxAge_ = -1;
  std::string version_;
  std::string comment_;
};

// A "Set-cookie2" cookie: adds comment URL, discard and the port list.
class TIdCookieRFC2965 : public TIdCookieRFC2109 {
 public:
  // The port list of a cookie that names no "Port".
  static constexpr int kDefaultPort = 80;

  TIdCookieRFC2965() : TIdCookieRFC2109(TIdCookieVersion::cvRFC2965) {}

  const std::string& CommentURL() const { return commentURL_; }
  void SetCommentURL(const std::string& value) { commentURL_ = value; }
  bool Discard() const { return discard_; }
  void SetDiscard(bool value) { discard_ = value; }
  int PortCount() const { return static_cast<int>(portList_.size()); }
  // Raises EIdException "Index out of range." for an index outside the list.
  int PortList(int index) const;
  // Replaces the port at index, or appends at index PortCount(); any other index raises EIdException
  // "Index out of range.".
  void SetPortList(int index, int port);

 protected:
  void LoadProperties(const TIdCookieAttributes& attributes) override;

 private:
  std::string commentURL_;
  bool discard_ = false;
  std::vector<int> portList_;
};

// The cookies of one domain by name (names compared without regard to case). Holds references only: the
// collection owns the cookies.
class TIdCookieList {
 public:
  int Count() const { return static_cast<int>(entries_.size()); }
  const std::string& Strings(int index) const { return entries_.at(static_cast<size_t>(index)).first; }
  TIdNetscapeCookie* Cookies(int index) const { return entries_.at(static_cast<size_t>(index)).second; }
  int IndexOf(const std::string& name) const;
  int IndexOfCookie(const TIdNetscapeCookie* cookie) const;
  void Add(const std::string& name, TIdNetscapeCookie* cookie) { entries_.emplace_back(name, cookie); }
  void Delete(int index) { entries_.erase(entries_.begin() + index); }

 private:
  std::vector<std::pair<std::string, TIdNetscapeCookie*>> entries_;
};

// The cookies of a store: an owning collection in creation order, and a by-domain index of the stored ones
// guarded by a many-readers/one-writer lock. A cookie is unique by (domain, name); the path is not part of the
// key.
class TIdCookies : public TObject {
 public:
  // Bounds that keep a store fed by a hostile server from growing without limit: the cookies of one domain and of
  // all domains together. A new cookie beyond a bound pushes out the oldest one of its domain, or of the store.
  static constexpr int kMaxCookiesPerDomain = 50;
  static constexpr int kMaxCookies = 3000;

  TIdCookies() = default;
  TIdCookies(const TIdCookies&) = delete;
  TIdCookies& operator=(const TIdCookies&) = delete;

  // The collection: every cookie the store owns, stored or just being made. Changes to it take the write lock;
  // a reader on another thread than the writers holds the read lock while it looks.
  int Count() const { return static_cast<int>(items_.size()); }
  TIdNetscapeCookie* Items(int index) const { return items_.at(static_cast<size_t>(index)).get(); }
  // Creates a cookie of the given class inside the collection.
  template <class Cookie>
  Cookie* Add() {
    TWriteLock write(lock_);
    auto cookie = std::make_unique<Cookie>();
    Cookie* result = cookie.get();
    items_.push_back(std::move(cookie));
    return result;
  }
  // Takes a cookie out of the collection (not out of the index) and frees it.
  void Remove(TIdNetscapeCookie* cookie);

  // Puts a cookie of the collection into the index. A cookie with the domain and name of a stored one is copied
  // into it and freed.
  void AddCookie(TIdNetscapeCookie* cookie);
  // Takes a stored cookie out of the index and the collection and frees it; false when it is not stored.
  bool RemoveCookie(TIdNetscapeCookie* cookie);
  // The same for a stored cookie that is still expired at now; a cookie that another writer replaced or freed
  // since the caller saw it is left alone.
  bool RemoveIfExpired(TIdNetscapeCookie* cookie, TDateTime now);

  // The by-domain index, in the order domains first appeared. A domain stays after its last cookie has gone.
  int DomainCount() const { return static_cast<int>(byDomain_.size()); }
  const std::string& Domains(int index) const { return byDomain_.at(static_cast<size_t>(index)).first; }
  const TIdCookieList& DomainCookies(int index) const { return *byDomain_.at(static_cast<size_t>(index)).second; }
  int IndexOfDomain(const std::string& domain) const;
  // The cookies in the index.
  int StoredCount() const { return storedCount_; }

  // Guards the index: readers walk it, writers change it.
  TMultiReadExclusiveWriteSynchronizer& Lock() { return lock_; }

 private:
  // Index changes; the caller holds the write lock.
  void Unindex(int domainIndex, int nameIndex);
  void PruneEmptyDomains();
  void EvictOldestStored(const TIdNetscapeCookie* keep);
  // Finds a stored cookie by reference (never dereferencing it); false when it is not in the index.
  bool FindStored(const TIdNetscapeCookie* cookie, int& domainIndex, int& nameIndex) const;

  std::vector<std::unique_ptr<TIdNetscapeCookie>> items_;
  std::vector<std::pair<std::string, std::unique_ptr<TIdCookieList>>> byDomain_;
  int storedCount_ = 0;
  TMultiReadExclusiveWriteSynchronizer lock_;
};
