// The poll cycle end to end, under Wine: the test build of Brasko.exe (it polls 127.0.0.1 on the test port with a
// short period) copied as Brasko.exe into a folder of its own, against a loopback server that answers as each test
// says. What a user would see is read from the real windows: the page file, the notification window's position, the
// message box's caption and text.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/FeedProcessor.h"
#include "app/NetworkWait.h"
#include "tray/kxTray.h"
#include "testing/LoopbackFeedServer.h"
#include "testing/TestServer.h"
#include "testing/TestSupport.h"
#include "testing/WinTestUtils.h"

using namespace testing_win;

namespace {

constexpr int kPort = BRASKO_POLL_TEST_PORT;
constexpr int kPeriodMs = BRASKO_POLL_TEST_PERIOD_MS;
constexpr int kReadTimeoutMs = BRASKO_POLL_TEST_READ_TIMEOUT_MS;
constexpr int kNetworkWaitMs = BRASKO_POLL_TEST_NETWORK_WAIT_MS;
constexpr int kStartTimeoutMs = 20000;
// Long enough for three more polls, had the cycle gone on.
constexpr int kQuietMs = 3 * kPeriodMs + 1000;

// A fresh folder holding a copy of the test build named Brasko.exe (so the title, and the message box's caption,
// is "Brasko"), where the program writes its page.
class ProgramFolder {
 public:
  explicit ProgramFolder(const std::string& variant = "poll-test-variant")
      : copied_(CopyFileA((TestProgramDirectory() + variant + "\\Brasko.exe").c_str(), Program().c_str(), FALSE) !=
                0) {}
  bool Copied() const { return copied_; }
  std::string Program() const { return temp_.File("Brasko.exe"); }
  std::string Page() const { return temp_.File("htmlAll.html"); }
  std::string File(const std::string& name) const { return temp_.File(name); }

  // The page the program must have written for a feed: what the page builder writes for it on a first poll.
  std::string ExpectedPage(const std::string& feed) const {
    TFeedProcessor(temp_.File("expected.html"), nullptr).ProcessFeed(feed);
    return ReadFile(temp_.File("expected.html"));
  }

 private:
  TTempFolder temp_;
  bool copied_;
};

// Makes programs named Brasko.exe in this Wine prefix take these libraries from the first folder that has them, the
// program's own first, as Windows does; Wine takes its own copies first otherwise. Undone at scope exit.
struct TNativeLibrariesFirst {
  explicit TNativeLibrariesFirst(const std::vector<std::string>& libraries) {
    for (const std::string& library : libraries) {
      RegSetKeyValueA(HKEY_CURRENT_USER, (std::string(kKey) + "\\DllOverrides").c_str(), library.c_str(), REG_SZ,
                      "native,builtin", sizeof "native,builtin");
    }
  }
  ~TNativeLibrariesFirst() { RegDeleteTreeA(HKEY_CURRENT_USER, kKey); }
  static constexpr const char* kKey = "Software\\Wine\\AppDefaults\\Brasko.exe";
};

HWND FindMessageBox(DWORD pid) { return FindVisibleTopWindow(pid, "#32770", nullptr); }

class PollCycle : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.Copied()) << folder_.Program(); }

  ProgramFolder folder_;
};

TEST_F(PollCycle, FirstPollAtStartSavesThePageSlidesTheWindowInAndKeepsConnectionAndCookie) {
  const std::string feed = Feed({41, 45, 43});
  TLoopbackFeedServer server(kPort, [&](int, const std::string&) {
    return TLoopbackFeedServer::OkReply(feed, "Set-Cookie: site=brasko; path=/\r\n");
  });
  ASSERT_TRUE(server.Listening()) << server.Error();
  TChildProcess program(folder_.Program());
  ASSERT_TRUE(program.Started());

  ASSERT_TRUE(WaitUntil([&] { return server.RequestCount() >= 1; }, kStartTimeoutMs));
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(folder_.Page()) == folder_.ExpectedPage(feed); }, 5000))
      << ReadFile(folder_.Page());

  // The notification window ("Brasko", not the message box) slides down to the top edge of the screen.
  HWND window = nullptr;
  ASSERT_TRUE(
      WaitUntil([&] { return (window = FindVisibleTopWindow(program.Id(), "TForm", "Brasko")) != nullptr; }, 5000));
  EXPECT_TRUE(WaitUntil([&] { return WindowRect(window).top == 0; }, 10000)) << "top " << WindowRect(window).top;

  // The next poll comes a period later, on the same connection, with the site's cookie and without Content-Type.
  ASSERT_TRUE(WaitUntil([&] { return server.RequestCount() >= 2; }, 3 * kPeriodMs + 5000));
  const std::vector<std::string> requests = server.Requests();
  EXPECT_EQ(requests[0].find("Cookie"), std::string::npos);
  EXPECT_NE(requests[1].find("\r\nCookie: site=brasko\r\n"), std::string::npos) << requests[1];
  EXPECT_EQ(server.ConnectionCount(), 1);
  EXPECT_EQ(FindMessageBox(program.Id()), nullptr);
}

// The power notices, posted as the system sends them to every top-level window: the sleep closes the kept
// connection, the wake polls again on a new one. What each sequence of events decides is the schedule's table.
TEST_F(PollCycle, SleepClosesTheKeptConnectionAndTheWakePollsOnANewOne) {
  TLoopbackFeedServer server(kPort, [](int, const std::string&) { return TLoopbackFeedServer::OkReply(Feed({41})); });
  ASSERT_TRUE(server.Listening()) << server.Error();
  TChildProcess program(folder_.Program());
  ASSERT_TRUE(WaitUntil([&] { return server.RequestCount() >= 1; }, kStartTimeoutMs));
  const std::vector<HWND> mainWindows = FindTopWindows(program.Id(), "TForm", "Configuratie");
  ASSERT_EQ(mainWindows.size(), 1u);
  PostMessageA(mainWindows[0], WM_POWERBROADCAST, PBT_APMSUSPEND, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));  // a poll that was under way ends
  const int requests = server.RequestCount();
  const int connections = server.ConnectionCount();
  PostMessageA(mainWindows[0], WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC, 0);
  PostMessageA(mainWindows[0], WM_POWERBROADCAST, PBT_APMRESUMESUSPEND, 0);
  ASSERT_TRUE(WaitUntil([&] { return server.RequestCount() > requests; }, kStartTimeoutMs));
  EXPECT_EQ(server.ConnectionCount(), connections + 1);
}

// The build that fetches its feed over TLS, from the test server's TLS server, whose certificate authority this test
// makes trusted in the Wine prefix first. Beside the program lie files named as the system libraries it uses that
// the system does not protect by name, each one that fails its load; the program takes its own from the system
// folder (the common controls through its manifest's assembly), so it polls as if they were not there. shcore is not
// among them: Wine's own libraries import it, and Wine resolves their imports in the program's folder first too.
TEST(PollCycleOverTLS, SavesThePageByteForByteAndPollsOnWithFilesOfSystemLibraryNamesBesideIt) {
  TTestServer server;
  if (!server.Found()) GTEST_SKIP() << "runs under ctest, which starts the server";
  ASSERT_TRUE(server.TrustAuthority());
  const std::string feed = Feed({51, 55, 53});
  server.WriteDocument("flashfeed.dsp", feed);
  ProgramFolder folder("poll-test-tls");
  ASSERT_TRUE(folder.Copied());
  const std::vector<std::string> libraries = {"wsock32", "secur32", "crypt32", "comctl32"};
  for (const std::string& library : libraries) {
    const std::string planted = folder.File(library + ".dll");
    ASSERT_TRUE(CopyFileA(WinePath(BRASKO_PLANTED_LIBRARY).c_str(), planted.c_str(), FALSE)) << planted;
  }
  TNativeLibrariesFirst asOnWindows(libraries);
  TChildProcess program(folder.Program());
  ASSERT_TRUE(WaitUntil([&] { return ReadFile(folder.Page()) == folder.ExpectedPage(feed); }, kStartTimeoutMs))
      << "exit code " << program.ExitCode() << ", page " << ReadFile(folder.Page());
  EXPECT_EQ(server.Log("GET /flashfeed.dsp", 2).size(), 2u);
  EXPECT_EQ(FindMessageBox(program.Id()), nullptr);
}

// The program on a machine whose only network is its loopback, in a Wine session that testing/no-network-session
// runs in a network namespace of its own: Windows there reports no way to the internet until the test switches on
// an interface with a default route. The loopback site is reachable all along.
using PollCycleNoNetwork = PollCycle;

TEST_F(PollCycleNoNetwork, TheFirstPollWaitsForTheNetworkAndComesAsSoonAsItDoes) {
  const char* networkSwitch = std::getenv("BRASKO_NETWORK_SWITCH");
  if (networkSwitch == nullptr) GTEST_SKIP() << "runs in testing/no-network-session";
  // The program asks the system's network list through the component object library, and so does the test.
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  TLoopbackFeedServer server(kPort, [](int, const std::string&) { return TLoopbackFeedServer::OkReply(Feed({41})); });
  ASSERT_TRUE(server.Listening()) << server.Error();
  const auto started = std::chrono::steady_clock::now();
  TChildProcess program(folder_.Program());
  std::this_thread::sleep_for(std::chrono::milliseconds(3000));
  EXPECT_EQ(server.RequestCount(), 0);
  std::ofstream(WinePath(networkSwitch)) << "up";
  ASSERT_TRUE(WaitUntil([&] { return InternetConnectivity() == TConnectivity::cnInternet; }, 10000));
  ASSERT_TRUE(WaitUntil([&] { return server.RequestCount() >= 1; }, kNetworkWaitMs));
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kNetworkWaitMs - 1000))
      << "the poll came at the wait's bound, not with the network";
}

// A failed poll shows exactly one message box, with the failure's text and the program's title, and polling stops
// for the rest of the run.
struct FailureCase {
  const char* name;
  bool serverUp;  // false: nothing listens, the connection is refused
  std::optional<std::string> reply;  // none: the server takes the request and never answers
  std::string text;
};

void PrintTo(const FailureCase& failure, std::ostream* out) { *out << failure.name; }

class PollFailure : public PollCycle, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(PollFailure, ShowsOneMessageBoxAndStopsPolling) {
  const FailureCase& failure = GetParam();
  std::unique_ptr<TLoopbackFeedServer> server;
  if (failure.serverUp) {
    server = std::make_unique<TLoopbackFeedServer>(kPort, [&](int, const std::string&) { return failure.reply; });
    ASSERT_TRUE(server->Listening()) << server->Error();
  }
  TChildProcess program(folder_.Program());
  if (server) {
    ASSERT_TRUE(WaitUntil([&] { return server->RequestCount() > 0; }, kStartTimeoutMs));
  }
  const auto asked = std::chrono::steady_clock::now();
  HWND box = nullptr;
  ASSERT_TRUE(WaitUntil([&] { return (box = FindMessageBox(program.Id())) != nullptr; }, kStartTimeoutMs));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::milliseconds(kReadTimeoutMs + 10000))
      << "a stalled site fails the poll within the read time-out";
  EXPECT_EQ(WindowText(box), "Brasko");
  EXPECT_EQ(ReadMessageBox(box).text, failure.text);
  PressOk(box);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 5000));

  // From now on nothing reaches the server, and no second box appears.
  if (!server) {
    server = std::make_unique<TLoopbackFeedServer>(
        kPort, [](int, const std::string&) { return TLoopbackFeedServer::OkReply(Feed({99})); });
    ASSERT_TRUE(server->Listening()) << server->Error();
  }
  const int requests = server->RequestCount();
  const int connections = server->ConnectionCount();
  std::this_thread::sleep_for(std::chrono::milliseconds(kQuietMs));
  EXPECT_EQ(server->RequestCount(), requests);
  EXPECT_EQ(server->ConnectionCount(), connections);
  EXPECT_EQ(FindMessageBox(program.Id()), nullptr);
  EXPECT_FALSE(program.Wait(0)) << "the program keeps running";
  EXPECT_FALSE(FileExists(folder_.Page()));

  // Its menu answers at once: "Exit" ends it.
  std::vector<HWND> mainWindows = FindTopWindows(program.Id(), "TForm", "Configuratie");
  ASSERT_EQ(mainWindows.size(), 1u);
  TMenuUser user({VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN}, program.Id());
  PostMessageA(mainWindows[0], kTrayCallbackMessage, kTrayIconId, WM_RBUTTONDOWN);
  EXPECT_TRUE(user.Join());
  ASSERT_TRUE(program.Wait(10000));
  EXPECT_EQ(program.ExitCode(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, PollFailure,
    ::testing::Values(FailureCase{"RefusedConnection", false, "", "Socket Error # 10061\r\nConnection refused."},
                      FailureCase{"ErrorStatus", true,
                                  "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 6\r\n\r\nbroken",
                                  "HTTP/1.1 500 Internal Server Error."},
                      FailureCase{"MalformedId", true,
                                  TLoopbackFeedServer::OkReply(Feed({NewsItem(41), {"4x2", "Bericht", "12:00"}})),
                                  "'4x2' is not a valid integer value."},
                      FailureCase{"StalledReply", true, std::nullopt, "Read Timeout."},
                      // Refused by its announced length, before a byte of it is read.
                      FailureCase{"OversizedBody", true, "HTTP/1.1 200 OK\r\nContent-Length: 2097153\r\n\r\n<",
                                  "Reply body too large."}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

}  // namespace
