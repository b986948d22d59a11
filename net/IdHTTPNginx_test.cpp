// The HTTP client against a real HTTP server that no one here wrote: Debian's nginx on a loopback port, started by
// each test with a configuration written into the build folder. nginx's own access log tells which connection
// carried which request and what Cookie header came with it.
#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "net/IdHTTP.h"
#include "rtl/SysUtils.h"
#include "testing/LoopbackNginx.h"

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
    return "http://127.0.0.1:" + std::to_string(server_->Port()) + path;
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

}  // namespace
