// The HTTP client against a real HTTP server that no one here wrote: the nginx that ctest starts for the tests, with
// plain and TLS servers on loopback ports, natively and under Wine alike. nginx's own access log tells which
// connection carried which request and what Cookie header came with it; each test keeps its documents in a folder
// named after it, and so reads only its own lines of the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "net/IdHTTP.h"
#include "testing/ScriptedPeer.h"
#include "testing/TestServer.h"
#include "testing/TestSupport.h"

namespace {

constexpr int kTestReadTimeoutMs = 5000;

// A feed-like document with every byte value from 128 up in it.
std::string Feed() {
  std::string text = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<flashfeed><nieuwsposting><id>7</id><titel>";
  for (int i = 128; i < 256; ++i) text += static_cast<char>(i);
  return text + "</titel><tijd>12:00</tijd></nieuwsposting></flashfeed>\r\n";
}

class NginxTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    if (!server_.Found()) GTEST_SKIP() << "runs under ctest, which starts the server";
    ASSERT_TRUE(server_.TrustAuthority());
    tag_ = std::string("/") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
    for (char& c : tag_) c = c == '.' ? '-' : c;
    server_.WriteDocument(tag_ + "flashfeed.dsp", Feed());
    http_.SetReadTimeout(kTestReadTimeoutMs);
  }
  // An address on one of the servers, below this test's folder.
  std::string Url(const std::string& server, const std::string& document = "flashfeed.dsp") const {
    const bool tls = server != "plain";
    return (tls ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(server_.Port(server)) + tag_ +
           document;
  }
  std::vector<TAccessLogLine> Log(size_t count) const { return server_.Log(tag_, count); }

  TTestServer server_;
  std::string tag_;
  TIdHTTP http_{nullptr};
};

INSTANTIATE_TEST_SUITE_P(PlainAndTLS, NginxTest, ::testing::Values("plain", "good"));

TEST_P(NginxTest, OneKeptConnectionCarriesTheFetchesAnErrorStatusHTTP10AndTheCookie) {
  EXPECT_EQ(http_.Get(Url(GetParam())), Feed());
  EXPECT_THROW(http_.Get(Url(GetParam(), "none")), EIdHTTPProtocolException);
  http_.SetProtocolVersion(pv1_0);  // asks for keep-alive, and gets it
  EXPECT_EQ(http_.Get(Url(GetParam())), Feed());
  EXPECT_EQ(http_.Get(Url(GetParam())), Feed());
  const std::vector<TAccessLogLine> log = Log(4);
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[3].connection, log[0].connection);
  EXPECT_EQ(log[3].requestOnConnection, 4);
  EXPECT_EQ(log[1].status, 404);
  EXPECT_EQ(log[0].cookie, "-");
  EXPECT_EQ(log[3].cookie, "site=brasko");  // over TLS too, where the cookie is marked secure
}

TEST_P(NginxTest, ChunkedAndLargeBodiesArriveWhole) {
  std::string page = "<html>";
  for (int i = 0; i < 3000; ++i) page += "regel " + std::to_string(i) + "\r\n";
  server_.WriteDocument(tag_ + "chunked/page.html", page);
  std::string large(3u << 20, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 7919u) >> 3);
  server_.WriteDocument(tag_ + "large.bin", large);
  std::vector<std::string> statuses;
  http_.OnStatus = [&](TObject*, TIdStatus, const std::string& text) { statuses.push_back(text); };
  EXPECT_EQ(http_.Get(Url(GetParam(), "chunked/page.html")), page);
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Chunk Started"), statuses.end()) << "sent in chunks";
  EXPECT_TRUE(http_.Get(Url(GetParam(), "large.bin")) == large);
}

// Tests of one server each, named by the test itself.
using NginxServerTest = NginxTest;

TEST_F(NginxServerTest, RefusedCertificatesFailWithAReasonThatNamesTheHost) {
  const std::pair<const char*, std::string> cases[] = {
      {"untrusted", "The certificate of localhost is not trusted."},
      {"expired", "The certificate of localhost has expired or is not valid yet."},
      {"othername", "The certificate of localhost is made out for another name."},
  };
  for (const auto& [server, message] : cases) {
    EXPECT_EQ(MessageOf<EIdTLSError>([&] { http_.Get(Url(server)); }), message);
    EXPECT_FALSE(http_.Connected());
  }
  EXPECT_EQ(Log(0).size(), 0u) << "no request went out";
}

TEST(TLSHandshake, APeerThatIsNoTLSServerFailsTheHandshakeWithoutHanging) {
  TIdHTTP http_(nullptr);
  http_.SetReadTimeout(kTestReadTimeoutMs);
  http_.SetConnectTimeout(1000);
  const std::string hello("\x16\x03", 2);  // the start of the client's first handshake record
  const std::vector<ScriptedPeer::Step> peers[] = {
      {ScriptedPeer::Send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"), ScriptedPeer::Close()},
      {ScriptedPeer::ReadUntil(hello), ScriptedPeer::Close()},
      {ScriptedPeer::ReadUntil(hello), ScriptedPeer::Sleep(3000)},  // silent: the time-out ends it
  };
  for (const auto& script : peers) {
    ScriptedPeer peer(script);
    EXPECT_EQ(MessageOf<EIdTLSError>([&] { http_.Get("https://127.0.0.1:" + std::to_string(peer.Port()) + "/"); }),
              "No secure connection to 127.0.0.1 could be made.");
  }
}

}  // namespace
