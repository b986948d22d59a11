#include "app/Unit1.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "app/Unit2.h"
#include "gui/ComObj.h"
#include "testing/LoopbackFeedServer.h"
#include "testing/WinTestUtils.h"

using namespace testing_win;

namespace {

constexpr int kStartTimeoutMs = 15000;

// The program's windows and menu as another process sees them.
struct TProgramWindows {
  HWND application = nullptr;
  HWND form1 = nullptr;
};

TProgramWindows WaitForProgramWindows(DWORD pid) {
  TProgramWindows found;
  WaitUntil(
      [&] {
        auto forms = FindTopWindows(pid, "TForm", "Configuratie");
        auto apps = FindTopWindows(pid, "TApplication", nullptr);
        if (forms.empty() || apps.empty()) return false;
        found.form1 = forms[0];
        found.application = apps[0];
        return true;
      },
      kStartTimeoutMs);
  return found;
}

// Watches a window from the moment it exists: true once it has been seen visible and then hidden again. Spins
// without sleeping, because the window is on the screen only until the first timer tick.
bool SeenShownThenHidden(HWND window, DWORD pid, bool& taskbarButtonSeen) {
  bool seenVisible = false;
  DWORD start = GetTickCount();
  while (GetTickCount() - start < static_cast<DWORD>(kStartTimeoutMs)) {
    bool visible = IsWindowVisible(window) != FALSE;
    if (visible) {
      seenVisible = true;
      for (HWND top : FindTopWindows(pid, nullptr, nullptr)) {
        if (HasTaskbarButton(top)) taskbarButtonSeen = true;
      }
    } else if (seenVisible) {
      return true;
    }
  }
  return false;
}

// Opens the tray menu of the program as a right press on its icon does, and picks the entry reached by pressing
// Down the given number of times (separators are skipped).
bool ChooseFromTrayMenu(const TProgramWindows& windows, DWORD pid, int downs) {
  std::vector<WPARAM> keys(static_cast<size_t>(downs), VK_DOWN);
  keys.push_back(VK_RETURN);
  TMenuUser user(keys, pid);
  PostMessageA(windows.form1, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONDOWN);
  return user.Join();
}

// The poll cycle of these tests' builds fetches from 127.0.0.1 on the test port; an empty feed keeps it quiet (no
// page, no message box) for the whole run.
TLoopbackFeedServer& QuietFeed() {
  static TLoopbackFeedServer quietFeed(BRASKO_POLL_TEST_PORT,
                                       [](int, const std::string&) { return TLoopbackFeedServer::OkReply(""); });
  return quietFeed;
}
void StartQuietFeed() { QuietFeed(); }

// The test build of the program started as a child process (with the start's show request), its windows found.
struct TProgram {
  explicit TProgram(int showCommand = SW_SHOWNORMAL)
      : process((StartQuietFeed(), TestProgramDirectory() + "poll-test-variant\\Brasko.exe"), showCommand),
        windows(WaitForProgramWindows(process.Id())) {}
  TChildProcess process;
  TProgramWindows windows;
};

}  // namespace

// ---- The main window in this process ----

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    StartQuietFeed();
    Application->Initialize();
    Application->CreateForm(Form1);
    Application->CreateForm(Form2);
  }
};

TEST_F(MainWindow, StartsHiddenWithItsTrayIconAndMenuAndAnApplicationWindowWithoutAButton) {
  EXPECT_EQ(Application->MainForm(), Form1);
  EXPECT_FALSE(Form1->Visible());
  TkxTray* tray = Form1->kxTray1;
  EXPECT_TRUE(tray->Active());
  EXPECT_EQ(tray->IconData().hIcon, tray->Icon()->Handle()) << "the stored icon wins over the resource";
  EXPECT_STREQ(tray->IconData().szTip, "Brasko tracker by Ulmquist");
  EXPECT_TRUE(Form1->Timer2->Enabled());
  EXPECT_FALSE(IsWindowVisible(Application->Handle()));
  EXPECT_TRUE(GetWindowLongPtrA(Application->Handle(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  // The menu a right press on the icon opens.
  TMenuUser user({VK_ESCAPE});
  SendMessageA(Form1->Handle(), kTrayCallbackMessage, kTrayIconId, WM_RBUTTONDOWN);
  EXPECT_EQ(user.Items(), (std::vector<std::string>{"Show Topics", "Configuratie", "", "Exit"}));
}

TEST_F(MainWindow, SessionEndIsRefusedAndOnlyHidesIt) {
  Form1->Timer2->SetEnabled(false);
  Form1->Show();
  EXPECT_EQ(SendMessageA(Form1->Handle(), WM_QUERYENDSESSION, 0, 0), 0);
  EXPECT_FALSE(Form1->Visible());
}

// ---- The real program in a child process ----

TEST(Program, StartsBrieflyShownLivesInTheTrayWithoutATaskbarButtonAndExitEndsItWithCodeZero) {
  int iconsBefore = TrayIconCount();
  TProgram p;
  TChildProcess& program = p.process;
  const TProgramWindows& windows = p.windows;
  ASSERT_NE(windows.form1, nullptr);
  bool taskbarButton = false;
  EXPECT_TRUE(SeenShownThenHidden(windows.form1, program.Id(), taskbarButton));
  EXPECT_FALSE(taskbarButton);
  const auto topLeft = [&] { return std::make_pair(WindowRect(windows.form1).left, WindowRect(windows.form1).top); };
  EXPECT_EQ(topLeft(), std::make_pair(799L, 636L));
  ASSERT_TRUE(WaitUntil([&] { return TrayIconCount() == iconsBefore + 1; }, 5000));
  // Let the first hide settle, so the next show is not the start-up one.
  Sleep(200);

  // "Configuratie", the second entry, shows it at the same place, where it stays (the hide at start comes once);
  // closing it only hides it.
  ASSERT_TRUE(ChooseFromTrayMenu(windows, program.Id(), 2));
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(windows.form1) != FALSE; }, 5000));
  EXPECT_EQ(topLeft(), std::make_pair(799L, 636L));
  Sleep(300);
  EXPECT_TRUE(IsWindowVisible(windows.form1));
  PostMessageA(windows.form1, WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(windows.form1); }, 5000));
  EXPECT_FALSE(program.Wait(300)) << "closing the window does not end the program";

  // "Exit": Down three times reaches it, the separator skipped.
  ASSERT_TRUE(ChooseFromTrayMenu(windows, program.Id(), 3));
  ASSERT_TRUE(program.Wait(10000));
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(WaitUntil([&] { return TrayIconCount() == iconsBefore; }, 5000));
}

TEST(Program, ASecondCopyShowsTheFirstOnesTopicsAndEndsWithoutAnIconOrAPoll) {
  int iconsBefore = TrayIconCount();
  TProgram p;
  TChildProcess& first = p.process;
  ASSERT_NE(p.windows.form1, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return TrayIconCount() == iconsBefore + 1; }, kStartTimeoutMs));
  ASSERT_TRUE(WaitUntil([&] { return QuietFeed().RequestCount() > 0; }, kStartTimeoutMs));
  const int connections = QuietFeed().ConnectionCount();

  TProgram second;
  ASSERT_TRUE(second.process.Wait(15000));
  EXPECT_EQ(second.process.ExitCode(), 0u);
  EXPECT_TRUE(WaitUntil([&] { return FindVisibleTopWindow(first.Id(), "TForm", "Brasko") != nullptr; }, 5000))
      << "the first copy shows its topics";
  // Some polls later: still the first copy's one connection, and one icon.
  Sleep(2 * BRASKO_POLL_TEST_PERIOD_MS);
  EXPECT_EQ(QuietFeed().ConnectionCount(), connections);
  EXPECT_EQ(TrayIconCount(), iconsBefore + 1);
  EXPECT_FALSE(first.Wait(0));
}

TEST(Program, ExitDuringTheNotificationWindowsSlideOutEndsItAtOnce) {
  int iconsBefore = TrayIconCount();
  TProgram p;
  TChildProcess& program = p.process;
  const TProgramWindows& windows = p.windows;
  ASSERT_NE(windows.form1, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return TrayIconCount() == iconsBefore + 1; }, kStartTimeoutMs));

  // "Show Topics", then wait for the slide-in to end.
  ASSERT_TRUE(ChooseFromTrayMenu(windows, program.Id(), 1));
  HWND form2 = nullptr;
  ASSERT_TRUE(
      WaitUntil([&] { return (form2 = FindVisibleTopWindow(program.Id(), "TForm", "Brasko")) != nullptr; }, 5000));
  ASSERT_TRUE(WaitUntil([&] { return WindowRect(form2).top == 0; }, 10000));

  // Its close starts the slide-out, whose loop handles the right press queued behind it: the menu opens inside it.
  PostMessageA(form2, WM_CLOSE, 0, 0);
  // The slide's own ticks handle pending messages too, and would take keys meant for the menu; choose "Exit" once
  // the window has gone up and one more tick has passed (a step landing exactly on the hidden position has one
  // more). Its hide is still to come: the slide-out's loop waits below the menu.
  bool upWhenChosen = false;
  TMenuUser user({VK_DOWN, VK_DOWN, VK_DOWN, VK_RETURN}, program.Id(), [&] {
    if (WindowRect(form2).bottom > 0) return false;
    Sleep(500);
    return upWhenChosen = IsWindowVisible(form2) != FALSE;
  });
  PostMessageA(windows.form1, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONDOWN);
  ASSERT_TRUE(user.Join());
  EXPECT_TRUE(upWhenChosen);
  ASSERT_TRUE(program.Wait(10000));
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(WaitUntil([&] { return TrayIconCount() == iconsBefore; }, 5000));
}

// The start's show request: maximised brings the window up maximised; minimised without activation minimises the
// application instead of showing the window.
TEST(Program, FollowsTheStartsShowRequest) {
  for (int show : {SW_SHOWMAXIMIZED, SW_SHOWMINNOACTIVE}) {
    TProgram p(show);
    const TProgramWindows& windows = p.windows;
    ASSERT_NE(windows.form1, nullptr);
    bool zoomed = false, formSeen = false, iconic = false;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 2000;) {
      formSeen = formSeen || IsWindowVisible(windows.form1);
      zoomed = zoomed || (IsWindowVisible(windows.form1) && IsZoomed(windows.form1));
      iconic = iconic || IsIconic(windows.application);
    }
    if (show == SW_SHOWMAXIMIZED) {
      EXPECT_TRUE(zoomed);
    } else {
      EXPECT_TRUE(iconic);
      EXPECT_FALSE(formSeen);
    }
  }
}
