#include "net/IdHTTPHeaderInfo.h"

#include <gtest/gtest.h>

#include <vector>

#include "net/IdException.h"
#include "net/IdGlobalProtocols.h"
#include "testing/TestSupport.h"

namespace {

TEST(RequestHeaders, EveryFieldInItsFixedOrder) {
  TIdRequestHeaderInfo request;
  request.SetConnection("Keep-Alive");
  request.SetContentVersion("1");
  request.SetContentEncoding("gzip");
  request.SetContentLanguage("nl");
  request.SetContentLength(12);
  request.SetPragma("no-cache");
  request.CustomHeaders().Add("X-One: 1");
  request.CustomHeaders().Add("X-Two: 2");
  request.SetProxyConnection("keep-alive");
  request.SetHost("h");
  request.SetAcceptCharSet("iso-8859-1");
  request.SetAcceptEncoding("identity");
  request.SetAcceptLanguage("nl, en");
  request.SetFrom("me@h");
  request.SetReferer("http://h/");
  request.SetContentRangeStart(100);
  request.SetContentRangeEnd(199);
  request.SetUsername("joe");
  request.SetPassword("s3cret");
  request.SetBasicAuthentication(true);
  request.SetHeaders();
  EXPECT_EQ(request.RawHeaders().Text(),
            "Connection: Keep-Alive\r\nContent-Version: 1\r\nContent-Encoding: gzip\r\n"
            "Content-Language: nl\r\nContent-Type: text/html\r\nContent-Length: 12\r\nPragma: no-cache\r\n"
            "X-One: 1\r\nX-Two: 2\r\nProxy-Connection: keep-alive\r\nHost: h\r\nAccept: text/html, */*\r\n"
            "Accept-Charset: iso-8859-1\r\nAccept-Encoding: identity\r\nAccept-Language: nl, en\r\n"
            "From: me@h\r\nReferer: http://h/\r\nUser-Agent: Mozilla/3.0 (compatible; Brasko tracker)\r\n"
            "Range: bytes=100-199\r\nAuthorization: Basic am9lOnMzY3JldA==\r\n");
}

TEST(RequestHeaders, CustomLinesNamingAStandardHeaderAreReplacedInPlace) {
  TIdRequestHeaderInfo request;
  request.SetContentType("");
  request.CustomHeaders().Add("host: custom.example");
  request.CustomHeaders().Add("X-Mine: yes");
  request.SetHost("www.brasko.nl");
  request.SetHeaders();
  EXPECT_EQ(request.RawHeaders().Text(),
            "Host: www.brasko.nl\r\nX-Mine: yes\r\nAccept: text/html, */*\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Brasko tracker)\r\n");
}

TEST(RequestHeaders, RangeWithoutEndAndBasicObjectKeptForLaterRequests) {
  TIdRequestHeaderInfo request;
  request.SetContentRangeStart(500);
  request.SetBasicAuthentication(true);
  request.SetUsername("ann");
  request.SetHeaders();
  EXPECT_EQ(request.RawHeaders().Values("Range"), "bytes=500-");
  EXPECT_EQ(request.RawHeaders().Values("Authorization"), "Basic YW5uOg==");
  ASSERT_NE(request.Authentication(), nullptr);
  // The object made for the first request carries its credentials from then on.
  request.SetUsername("bob");
  request.SetHeaders();
  EXPECT_EQ(request.RawHeaders().Values("Authorization"), "Basic YW5uOg==");
  request.SetAuthentication(nullptr);
  request.SetBasicAuthentication(false);
  request.SetHeaders();
  EXPECT_EQ(request.RawHeaders().IndexOfName("Authorization"), -1);
}

TEST(ResponseHeaders, ContentLengthRangeAuthenticateListsAndDates) {
  TIdResponseHeaderInfo response;
  TIdHeaderList& raw = response.RawHeaders();
  raw.AddText(
      "Content-Length:   42  \r\nContent-Range: bytes 0-499/1234\r\nWWW-Authenticate: Basic realm=\"a\"\r\n"
      "Server: test\r\nwww-authenticate: Digest x\r\nLocation: /next\r\nProxy-Connection: close\r\n"
      "Content-Type: text/xml\r\nConnection: keep-alive\r\nDate: Sun, 06 Nov 1994 08:49:37 GMT\r\n"
      "Expires: garbage\r\nLast-Modified: Sunday, 06-Nov-94 08:49:37 GMT\r\n");
  response.WWWAuthenticate().Add("stale");
  response.ProcessHeaders();
  EXPECT_TRUE(response.HasContentLength());
  EXPECT_EQ(response.ContentLength(), 42);
  EXPECT_EQ(response.ContentRangeStart(), 0u);
  EXPECT_EQ(response.ContentRangeEnd(), 499u);
  EXPECT_EQ(response.WWWAuthenticate().Text(), "Basic realm=\"a\"\r\nDigest x\r\n");
  EXPECT_EQ(response.ProxyAuthenticate().Count(), 0);
  EXPECT_EQ(response.Server(), "test");
  EXPECT_EQ(response.Location(), "/next");
  EXPECT_EQ(response.ProxyConnection(), "close");
  EXPECT_EQ(response.ContentType(), "text/xml");
  EXPECT_EQ(response.Connection(), "keep-alive");
  // Dates are read into local time.
  EXPECT_EQ(DateTimeToMilliseconds(response.Date()),
            DateTimeToMilliseconds(GMTToLocalDateTime("06 Nov 1994 08:49:37")));
  EXPECT_EQ(DateTimeToMilliseconds(response.LastModified()), DateTimeToMilliseconds(response.Date()));
  EXPECT_EQ(response.Expires(), 0);
}

TEST(ResponseHeaders, ContentLengthThatIsNoNumberReadsAsZeroButCountsAsPresentAndABadRangeRaises) {
  for (const char* value : {"abc", "$10", "4 2", "99999999999"}) {
    TIdResponseHeaderInfo response;
    response.RawHeaders().Add(std::string("Content-Length: ") + value);
    response.ProcessHeaders();
    EXPECT_TRUE(response.HasContentLength()) << value;
    EXPECT_EQ(response.ContentLength(), 0) << value;
  }
  TIdResponseHeaderInfo none;
  none.ProcessHeaders();
  EXPECT_FALSE(none.HasContentLength());
  EXPECT_EQ(none.ContentType(), "");  // a reply without Content-Type has none
  // A Content-Range part that is no number is no such leniency.
  none.RawHeaders().Add("Content-Range: bytes */1234");
  EXPECT_THROW(none.ProcessHeaders(), EConvertError);
}

TEST(HeaderRecords, ClearSetsTheDefaultsAndKeepsCustomLinesPragmaAndCacheControl) {
  TIdRequestHeaderInfo request;
  request.SetContentLength(5);
  request.SetAccept("a");
  request.SetBasicAuthentication(true);
  request.SetPragma("p");
  request.SetCacheControl("c");
  request.CustomHeaders().Add("X: 1");
  request.RawHeaders().Add("Y: 2");
  request.Clear();
  EXPECT_EQ(request.ContentLength(), 0);
  EXPECT_EQ(request.Accept(), "text/html, */*");
  EXPECT_FALSE(request.BasicAuthentication());
  EXPECT_EQ(request.RawHeaders().Count(), 0);
  EXPECT_EQ(request.Pragma(), "p");
  EXPECT_EQ(request.CacheControl(), "c");
  EXPECT_EQ(request.CustomHeaders().Count(), 1);

  TIdResponseHeaderInfo response;
  response.SetLocation("l");
  response.WWWAuthenticate().Add("w");
  response.Clear();
  EXPECT_EQ(response.Location(), "");
  EXPECT_EQ(response.WWWAuthenticate().Count(), 0);
  EXPECT_EQ(response.RawHeaders().FoldLength(), 1024);  // what a request's long header folds at, too
  EXPECT_EQ(response.CustomHeaders().FoldLength(), 78);
}

TEST(ProxyParams, ChangingServerOrPortDropsTheCredentialsObject) {
  TIdProxyConnectionInfo proxy;
  proxy.SetProxyServer("proxy.local");
  proxy.SetProxyPort(3128);
  proxy.SetProxyUsername("p");
  proxy.SetProxyPassword("q");
  proxy.SetBasicAuthentication(true);
  TIdHeaderList headers;
  proxy.SetHeaders(headers);
  EXPECT_EQ(headers.Values("Proxy-Authorization"), "Basic cDpx");
  proxy.SetProxyServer("PROXY.local");  // the same server
  proxy.SetProxyPort(3128);
  EXPECT_NE(proxy.Authentication(), nullptr);
  proxy.SetProxyPort(8080);
  EXPECT_EQ(proxy.Authentication(), nullptr);
  proxy.SetHeaders(headers);
  proxy.SetProxyServer("other");
  EXPECT_EQ(proxy.Authentication(), nullptr);
}

TEST(Base64, ATwoByteLastGroupAndTheLastTwoLetters) {
  // A one-byte last group and none left over are the credentials' cases above.
  EXPECT_EQ(EncodeBase64("fo"), "Zm8=");
  EXPECT_EQ(EncodeBase64("\xff\xfe\xfd"), "//79");
}

}  // namespace
