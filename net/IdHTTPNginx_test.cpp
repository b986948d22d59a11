// The HTTP client against a real HTTP server that no one here wrote: Debian's nginx on a loopback port, started by
// each test with a configuration written into the build folder. nginx's own access log tells which connection
// carried which request and what Cookie header came with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/IdHTTP.h"
#include "rtl/SysUtils.h"
#include "testing/LoopbackNginx.h"
#include "testing/ScriptedPeer.h"
#include "testing/TestSupport.h"
#if defined(_WIN32)
#include "testing/WinTestUtils.h"
#endif

namespace {

constexpr int kTestReadTimeoutMs = 5000;

// One access-log line: "<connection> <request on it> <status> "<request line>" "<Cookie header>"".
struct LogLine {
  std::string connection;
  int requestOnConnection = 0;
  int status = 0;
  std::string request;
  std::string cookie;
};

std::vector<LogLine> ParseAccessLog(const std::string& text) {
  std::vector<LogLine> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    LogLine entry;
    std::istringstream fields(line);
    fields >> entry.connection >> entry.requestOnConnection >> entry.status;
    const size_t firstQuote = line.find('"');
    const size_t secondQuote = line.find('"', firstQuote + 1);
    const size_t thirdQuote = line.find('"', secondQuote + 1);
    if (firstQuote == std::string::npos || thirdQuote == std::string::npos) continue;
    entry.request = line.substr(firstQuote + 1, secondQuote - firstQuote - 1);
    entry.cookie = line.substr(thirdQuote + 1, line.rfind('"') - thirdQuote - 1);
    lines.push_back(entry);
  }
  return lines;
}

// A feed-like document with every byte value in it.
std::string Feed() {
  std::string text = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?>\r\n<flashfeed><nieuwsposting><id>7</id><titel>";
  for (int i = 128; i < 256; ++i) text += static_cast<char>(i);
  return text + "</titel><tijd>12:00</tijd></nieuwsposting></flashfeed>\r\n";
}

class NginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TLoopbackNginx::Installed()) GTEST_SKIP() << "nginx is not installed here (Debian package nginx-light)";
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    server_ = std::make_unique<TLoopbackNginx>(ExecutableDirectory() + "nginx-" + name);
    server_->WriteDocument("flashfeed.dsp", Feed());
    http_.SetReadTimeout(kTestReadTimeoutMs);
  }
  void Start(int keepAliveSeconds = 75) {
    ASSERT_TRUE(server_->Start("site=brasko; path=/", keepAliveSeconds)) << server_->Error();
  }
  std::string Url(const std::string& path = "/flashfeed.dsp") const {
    return scheme_ + "://127.0.0.1:" + std::to_string(server_->Port()) + path;
  }
  // nginx logs a request after its reply has gone out, so the log may lag behind the client for a moment.
  std::vector<LogLine> Log(size_t expectedLines) const {
    std::vector<LogLine> log = ParseAccessLog(server_->AccessLog());
    for (int i = 0; i < 500 && log.size() < expectedLines; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      log = ParseAccessLog(server_->AccessLog());
    }
    return log;
  }

  std::unique_ptr<TLoopbackNginx> server_;
  TIdHTTP http_{nullptr};
  std::string scheme_ = "http";
};

TEST_F(NginxTest, TwoFetchesShareOneConnectionAndTheSecondCarriesTheCookie) {
  Start();
  EXPECT_EQ(http_.Get(Url()), Feed());
  EXPECT_EQ(http_.Get(Url()), Feed());
  const std::vector<LogLine> log = Log(2);
  ASSERT_EQ(log.size(), 2u) << server_->AccessLog();
  EXPECT_EQ(log[0].connection, log[1].connection);
  EXPECT_EQ(log[0].requestOnConnection, 1);
  EXPECT_EQ(log[1].requestOnConnection, 2);
  EXPECT_EQ(log[0].request, "GET /flashfeed.dsp HTTP/1.1");
  EXPECT_EQ(log[0].cookie, "-");
  EXPECT_EQ(log[1].cookie, "site=brasko");
}

TEST_F(NginxTest, HTTP10AsksForKeepAliveAndGetsIt) {
  Start();
  http_.SetProtocolVersion(pv1_0);
  http_.Get(Url());
  http_.Get(Url());
  const std::vector<LogLine> log = Log(2);
  ASSERT_EQ(log.size(), 2u) << server_->AccessLog();
  EXPECT_EQ(log[1].request, "GET /flashfeed.dsp HTTP/1.0");
  EXPECT_EQ(log[0].connection, log[1].connection);
}

TEST_F(NginxTest, AConnectionTheServerClosedWhileIdleIsReplaced) {
  Start(1);  // nginx closes an idle connection after one second
  http_.Get(Url());
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(http_.Get(Url()), Feed());
  const std::vector<LogLine> log = Log(2);
  ASSERT_EQ(log.size(), 2u) << server_->AccessLog();
  EXPECT_NE(log[0].connection, log[1].connection);
  EXPECT_EQ(log[1].requestOnConnection, 1);
  EXPECT_EQ(log[1].cookie, "site=brasko");
}

TEST_F(NginxTest, AMissingPageEndsTheFetchWithItsStatusAndKeepsTheConnection) {
  Start();
  try {
    http_.Get(Url("/nieuws/none"));
    FAIL() << "no exception";
  } catch (const EIdHTTPProtocolException& e) {
    EXPECT_EQ(e.ErrorCode(), 404);
    EXPECT_EQ(e.Message(), "HTTP/1.1 404 Not Found");
    EXPECT_NE(e.ErrorBody().find("<title>404 Not Found</title>"), std::string::npos);
  }
  EXPECT_EQ(http_.Get(Url()), Feed());
  const std::vector<LogLine> log = Log(2);
  ASSERT_EQ(log.size(), 2u) << server_->AccessLog();
  EXPECT_EQ(log[0].status, 404);
  EXPECT_EQ(log[0].connection, log[1].connection);
}

TEST_F(NginxTest, ALargeBodyArrivesByteForByte) {
  std::string large(5u << 20, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 7919u) >> 3);
  server_->WriteDocument("large.bin", large);
  Start();
  EXPECT_TRUE(http_.Get(Url("/large.bin")) == large);
  EXPECT_TRUE(http_.Get(Url("/large.bin")) == large);
  const std::vector<LogLine> log = Log(2);
  ASSERT_EQ(log.size(), 2u) << server_->AccessLog();
  EXPECT_EQ(log[0].connection, log[1].connection);
}

// ---- the same over TLS, with a certificate authority made for the test and trusted by this test program only ----

class NginxTLSTest : public NginxTest {
 protected:
  void SetUp() override {
    NginxTest::SetUp();
    if (IsSkipped()) return;
    certificates_ = ExecutableDirectory() + "certificates/";
    const std::string make = std::string(BRASKO_MAKE_TEST_CERTIFICATES) + " '" + certificates_ + "'";
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
#if !defined(_WIN32)  // (nginx runs only beside the native build)
    setenv("SSL_CERT_FILE", (certificates_ + "ca.pem").c_str(), 1);
#endif
    scheme_ = "https";
  }
  void StartWith(const std::string& certificate, const std::string& cookie = "site=brasko; path=/; secure") {
    server_->SetTLS(certificates_ + certificate + ".pem", certificates_ + certificate + ".key");
    ASSERT_TRUE(server_->Start(cookie)) << server_->Error();
  }
  std::string certificates_;
};

TEST_F(NginxTLSTest, TwoFetchesShareOneTLSConnectionAndTheSecondCarriesTheSecureCookie) {
  StartWith("good");
  EXPECT_EQ(http_.Get(Url()), Feed());
  EXPECT_EQ(http_.Get(Url()), Feed());
  const std::vector<LogLine> log = Log(2);
  ASSERT_EQ(log.size(), 2u) << server_->AccessLog();
  EXPECT_EQ(log[0].connection, log[1].connection);
  EXPECT_EQ(log[1].requestOnConnection, 2);
  EXPECT_EQ(log[1].cookie, "site=brasko");
  EXPECT_EQ(http_.Port(), server_->Port());
}

TEST_F(NginxTLSTest, ChunkedAndLargeBodiesArriveWholeOverTLS) {
  std::string page = "<html>";
  for (int i = 0; i < 3000; ++i) page += "regel " + std::to_string(i) + "\r\n";
  server_->WriteDocument("chunked/page.html", page + "</html>");
  std::string large(3u << 20, '\0');
  for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>((i * 7919u) >> 3);
  server_->WriteDocument("large.bin", large);
  StartWith("good");
  std::vector<std::string> statuses;
  http_.OnStatus = [&](TObject*, TIdStatus, const std::string& text) { statuses.push_back(text); };
  EXPECT_EQ(http_.Get(Url("/chunked/page.html")), page + "</html>");
  EXPECT_NE(std::find(statuses.begin(), statuses.end(), "Chunk Started"), statuses.end()) << "sent in chunks";
  EXPECT_TRUE(http_.Get(Url("/large.bin")) == large);
}

TEST_F(NginxTLSTest, RefusedCertificatesFailWithAReasonThatNamesTheHost) {
  const std::pair<const char*, std::string> cases[] = {
      {"untrusted", "The certificate of 127.0.0.1 is not trusted."},
      {"expired", "The certificate of 127.0.0.1 has expired or is not valid yet."},
      {"othername", "The certificate of 127.0.0.1 is made out for another name."},
  };
  for (const auto& [certificate, message] : cases) {
    SCOPED_TRACE(certificate);
    server_->Stop();
    StartWith(certificate);
    EXPECT_EQ(MessageOf<EIdTLSError>([&] { http_.Get(Url()); }), message);
    EXPECT_FALSE(http_.Connected());
  }
  EXPECT_EQ(ParseAccessLog(server_->AccessLog()).size(), 0u) << "no request went out";
}

TEST(TLSHandshake, APeerThatIsNoTLSServerFailsTheHandshakeWithoutHanging) {
  TIdHTTP http_(nullptr);
  http_.SetReadTimeout(kTestReadTimeoutMs);
  http_.SetConnectTimeout(1000);
  const std::vector<ScriptedPeer::Step> peers[] = {
      {ScriptedPeer::Send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"), ScriptedPeer::Close()},
      {ScriptedPeer::ExpectBytes(10), ScriptedPeer::Close()},
      {ScriptedPeer::ExpectBytes(10), ScriptedPeer::Sleep(3000)},  // silent: the time-out ends it
  };
  for (const auto& script : peers) {
    ScriptedPeer peer(script);
    EXPECT_EQ(MessageOf<EIdTLSError>([&] { http_.Get("https://127.0.0.1:" + std::to_string(peer.Port()) + "/"); }),
              "No secure connection to 127.0.0.1 could be made.");
  }
}

#if defined(_WIN32)
// ---- the system's own TLS under Wine, against the nginx that ctest started, its authority trusted in the prefix ----

class WineTLSTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* folder = std::getenv("BRASKO_TLS_NGINX");
    if (folder == nullptr) GTEST_SKIP() << "runs under ctest, which starts the TLS server";
    folder_ = folder;
    ASSERT_TRUE(testing_win::TrustTestAuthority(testing_win::WinePath(folder_ + "/certificates/ca.pem")));
    std::istringstream ports(ReadFile(testing_win::WinePath(folder_ + "/ports")));
    for (int port; ports >> port;) ports_.push_back(port);
    ASSERT_EQ(ports_.size(), 4u);
    http_.SetReadTimeout(kTestReadTimeoutMs);
  }
  void WriteDocument(const std::string& path, const std::string& bytes) const {
    std::ofstream(testing_win::WinePath(folder_ + "/www/" + path), std::ios::binary) << bytes;
  }
  std::string Url(int server, const std::string& path = "/flashfeed.dsp") const {
    return "https://localhost:" + std::to_string(ports_[static_cast<size_t>(server)]) + path;
  }
  std::vector<LogLine> Log() const { return ParseAccessLog(ReadFile(testing_win::WinePath(folder_ + "/access.log"))); }

  std::string folder_;
  std::vector<int> ports_;  // good, untrusted, expired, othername
  TIdHTTP http_{nullptr};
};

TEST_F(WineTLSTest, TwoFetchesShareOneTLSConnectionWithTheSecureCookieAndChunksArriveWhole) {
  WriteDocument("flashfeed.dsp", Feed());
  std::string page = "<html>";
  for (int i = 0; i < 3000; ++i) page += "regel " + std::to_string(i) + "\r\n";
  WriteDocument("chunked/page.html", page);
  const size_t before = Log().size();
  EXPECT_EQ(http_.Get(Url(0)), Feed());
  EXPECT_EQ(http_.Get(Url(0)), Feed());
  EXPECT_EQ(http_.Get(Url(0, "/chunked/page.html")), page);
  std::vector<LogLine> log = Log();
  for (int i = 0; i < 500 && log.size() < before + 3; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    log = Log();
  }
  ASSERT_EQ(log.size(), before + 3);
  EXPECT_EQ(log[before].connection, log[before + 1].connection);
  EXPECT_EQ(log[before + 1].requestOnConnection, log[before].requestOnConnection + 1);
  EXPECT_EQ(log[before + 1].cookie, "site=brasko");
}

TEST_F(WineTLSTest, RefusedCertificatesFailWithAReasonThatNamesTheHost) {
  const std::pair<int, std::string> cases[] = {
      {1, "The certificate of localhost is not trusted."},
      {2, "The certificate of localhost has expired or is not valid yet."},
      {3, "The certificate of localhost is made out for another name."},
  };
  for (const auto& [server, message] : cases) {
    EXPECT_EQ(MessageOf<EIdTLSError>([&] { http_.Get(Url(server)); }), message);
    EXPECT_FALSE(http_.Connected());
  }
}
#endif

}  // namespace
