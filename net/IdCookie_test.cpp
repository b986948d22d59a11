#include "net/IdCookie.h"

#include <gtest/gtest.h>

#include "net/IdException.h"
#include "net/IdGlobalProtocols.h"
#include "testing/TestSupport.h"

namespace {

constexpr const char kPast[] = "Sun, 06 Nov 1994 08:49:37 GMT";
constexpr const char kFuture[] = "Fri, 31 Dec 9999 23:00:00 GMT";

TEST(CookieParsing, NameValueAndThePlainAttributesAndTheSameTextAgainChangesNothing) {
  TIdNetscapeCookie cookie;
  const std::string text =
      std::string("sid=a=b; Path=\"/news/\"; DOMAIN=.Example.com; expires=") + kPast + "; Secure; path=/ignored";
  cookie.SetCookieText(text);
  EXPECT_EQ(cookie.CookieName(), "sid");
  EXPECT_EQ(cookie.Value(), "a=b");  // only the first "=" separates
  EXPECT_EQ(cookie.Path(), "/news/");
  EXPECT_EQ(cookie.Domain(), ".Example.com");  // kept as written
  EXPECT_EQ(cookie.Expires(), kPast);
  EXPECT_TRUE(cookie.Secure());
  EXPECT_EQ(cookie.InternalVersion(), TIdCookieVersion::cvNetscape);
  cookie.SetValue("changed");
  cookie.SetCookieText(text);
  EXPECT_EQ(cookie.Value(), "changed");
  cookie.SetCookieText(text + " ");
  EXPECT_EQ(cookie.Value(), "a=b");
}

TEST(CookieParsing, ItemsBlanksAndOddShapes) {
  TIdNetscapeCookie cookie;
  cookie.SetCookieText("  a=b  ");  // without ";" the one item is not trimmed
  EXPECT_EQ(cookie.CookieName(), "  a");
  EXPECT_EQ(cookie.Value(), "b  ");
  cookie.SetCookieText("  a=b  ;  path = /x ; secure=1;;  ");
  EXPECT_EQ(cookie.CookieName(), "a");
  EXPECT_EQ(cookie.Value(), "b");
  EXPECT_EQ(cookie.Path(), "");   // "PATH " is not "PATH"
  EXPECT_FALSE(cookie.Secure());  // "secure=1" is a name=value item, not the flag
  cookie.SetCookieText("justaname; path=/");
  EXPECT_EQ(cookie.CookieName(), "");
  EXPECT_EQ(cookie.Value(), "");
  EXPECT_EQ(cookie.Path(), "/");
  cookie.SetCookieText("");
  EXPECT_EQ(cookie.CookieName(), "");
  EXPECT_EQ(cookie.Path(), "");
}

TEST(CookieParsing, SetCookieMaxAgeBecomesAnExpiryText) {
  TIdCookieRFC2109 cookie;
  EXPECT_EQ(cookie.InternalVersion(), TIdCookieVersion::cvRFC2109);
  EXPECT_EQ(cookie.MaxAge(), -1);
  const TDateTime before = Now();
  cookie.SetCookieText("a=1; Max-Age=3600; Version=1; Comment=hi");
  EXPECT_EQ(cookie.Version(), "1");
  EXPECT_EQ(cookie.Comment(), "hi");
  // Without "expires" the cookie counts as a plain one and carries its expiry as a date text an hour ahead.
  EXPECT_EQ(cookie.InternalVersion(), TIdCookieVersion::cvNetscape);
  const TDateTime expiry = GMTToLocalDateTime(cookie.Expires());
  EXPECT_GE(DateTimeToMilliseconds(expiry), DateTimeToMilliseconds(before + 3599.0 / kSecondsPerDay));
  EXPECT_LE(DateTimeToMilliseconds(expiry), DateTimeToMilliseconds(Now() + 3600.0 / kSecondsPerDay));
  EXPECT_GE(cookie.MaxAge(), 3598);
  EXPECT_LE(cookie.MaxAge(), 3600);
  EXPECT_FALSE(cookie.IsExpired(Now()));
}

TEST(CookieParsing, SetCookieExpiresMaxAgeAndTheirAbsence) {
  TIdCookieRFC2109 cookie;
  cookie.SetCookieText(std::string("a=1; expires=") + kFuture);
  EXPECT_EQ(cookie.InternalVersion(), TIdCookieVersion::cvRFC2109);
  EXPECT_EQ(cookie.MaxAge(), -1);  // the "max-age" attribute (absent) has the last word
  EXPECT_EQ(cookie.Expires(), kFuture);
  cookie.SetCookieText("a=1; max-age=abc");
  EXPECT_EQ(cookie.MaxAge(), -1);
  EXPECT_EQ(cookie.Expires(), "");
  EXPECT_EQ(cookie.InternalVersion(), TIdCookieVersion::cvNetscape);
  cookie.SetCookieText("a=1; max-age=0");
  EXPECT_EQ(cookie.MaxAge(), 0);
  EXPECT_TRUE(cookie.IsExpired(Now()));  // expires the moment it is set
  // A lifetime beyond the calendar is capped at its last day instead of becoming an unreadable (expired) date.
  cookie.SetCookieText("a=1; max-age=9223372036854775807");
  EXPECT_NE(cookie.Expires().find("9999"), std::string::npos) << cookie.Expires();
  EXPECT_FALSE(cookie.IsExpired(Now()));
}

TEST(CookieParsing, SetCookie2PortListCommentURLDiscardAndPortIndexes) {
  TIdCookieRFC2965 cookie;
  EXPECT_EQ(cookie.InternalVersion(), TIdCookieVersion::cvRFC2965);
  cookie.SetCookieText("a=1; Port=\"80, 8080,,443\"; CommentURL=http://h/c; Discard");
  ASSERT_EQ(cookie.PortCount(), 3);
  EXPECT_EQ(cookie.PortList(0), 80);
  EXPECT_EQ(cookie.PortList(1), 8080);
  EXPECT_EQ(cookie.PortList(2), 443);
  EXPECT_EQ(cookie.CommentURL(), "http://h/c");
  EXPECT_TRUE(cookie.Discard());
  cookie.SetCookieText("a=1; Version=1");
  ASSERT_EQ(cookie.PortCount(), 1);  // no Port: the HTTP port
  EXPECT_EQ(cookie.PortList(0), 80);
  cookie.SetCookieText("a=1; Port=81");
  EXPECT_EQ(cookie.PortCount(), 0);  // unquoted: no list
  EXPECT_THROW(cookie.SetCookieText("a=1; Port=\"80,x\""), EConvertError);
  // Setting a port one past the end appends; further out, or below zero, is out of range.
  cookie.SetCookieText("a=1; Port=\"1\"");
  cookie.SetPortList(1, 2);
  cookie.SetPortList(0, 5);
  EXPECT_EQ(cookie.PortCount(), 2);
  EXPECT_EQ(cookie.PortList(0), 5);
  for (int bad : {3, -1}) {
    EXPECT_EQ(MessageOf<EIdException>([&] { cookie.SetPortList(bad, 1); }), "Index out of range.");
  }
  EXPECT_THROW(cookie.PortList(2), EIdException);
}

TEST(CookieRebuilding, ServerCookieTextsAndTheRequestForm) {
  TIdCookieRFC2109 cookie;
  cookie.SetCookieText(std::string("n=v; path=/p; domain=.d.com; secure; comment=c; version=1; expires=") + kFuture);
  EXPECT_EQ(cookie.ServerCookie(),
            std::string("n=v; path=/p; expires=") + kFuture + "; domain=.d.com; secure; comment=c; version=1");
  EXPECT_EQ(cookie.ClientCookie(), "n=v");
  // Max-age is written only while there is no expiry text.
  cookie.SetExpires("");
  cookie.SetMaxAge(60);
  EXPECT_EQ(cookie.ServerCookie(), "n=v; path=/p; domain=.d.com; secure; max-age=60; comment=c; version=1");
  // An empty value keeps its name: the rebuilt text must read back as the same cookie.
  TIdNetscapeCookie empty;
  empty.SetCookieText("gone=; path=/");
  EXPECT_EQ(empty.ServerCookie(), "gone=; path=/");
  TIdNetscapeCookie again;
  again.SetCookieText(empty.ServerCookie());
  EXPECT_EQ(again.CookieName(), "gone");
  EXPECT_EQ(again.Path(), "/");
}

TEST(CookieRebuilding, CopyingKeepsExpiryAndVersionKind) {
  TIdCookieRFC2109 stored;
  stored.SetCookieText("a=old; path=/");
  TIdCookieRFC2109 incoming;
  incoming.SetCookieText(std::string("a=new; path=/x; expires=") + kPast);
  ASSERT_EQ(incoming.InternalVersion(), TIdCookieVersion::cvRFC2109);
  stored.Assign(incoming);
  EXPECT_EQ(stored.Value(), "new");
  EXPECT_EQ(stored.Path(), "/x");
  // A server deletes a cookie by setting it again with a past date; the stored one must take that date over.
  EXPECT_EQ(stored.Expires(), kPast);
  EXPECT_TRUE(stored.IsExpired(Now()));
  EXPECT_EQ(stored.InternalVersion(), TIdCookieVersion::cvRFC2109);
}

TEST(CookieValidity, HostsDomainsAndAddresses) {
  struct Case {
    const char* domain;
    const char* host;
    bool valid;
  };
  const Case cases[] = {
      {"www.example.com", "www.example.com", true},
      {".example.com", "www.example.com", true},  // the parent domain with its leading dot
      {"example.com", "www.example.com", false},  // without the dot it must be the host itself
      {".com", "www.example.com", false},
      {".com", "example.com", false},  // a one-label parent would cover a whole top-level domain
      {"WWW.example.com", "www.example.com", false},
      {".b.example.com", "a.b.example.com", true},
      {".example.com", "a.b.example.com", false},
      {"10.0.0.1", "10.0.0.1", true},
      {".0.0.1", "10.0.0.1", false},
      {"1.2.3.4", "www.example.com", false},
      {".x.com", ".x.com", false},  // a host that starts with a dot takes nothing
      {".localhost", "localhost", false},
      {"localhost", "localhost", true},
      {"256.0.0.1", "256.0.0.1", true},  // not an address, so the host rule: equal
  };
  for (const Case& c : cases) {
    TIdNetscapeCookie cookie;
    cookie.SetDomain(c.domain);
    EXPECT_EQ(cookie.IsValidCookie(c.host), c.valid) << c.domain << " for " << c.host;
  }
}

}  // namespace
