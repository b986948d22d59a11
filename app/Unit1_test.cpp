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

// The poll cycle of these tests' builds fetches from 127.0.0.1 on the test port; an empty feed keeps it quiet (no
// page, no message box) for the whole run.
TLoopbackFeedServer& QuietFeed() {
  static TLoopbackFeedServer quietFeed(BRASKO_POLL_TEST_PORT,
                                       [](int, const std::string&) { return TLoopbackFeedServer::OkReply(""); });
  return quietFeed;
}

// The test build of the program started as a child process (with the start's show request), and its main and
// application windows once they are there.
struct TProgram {
  explicit TProgram(int showCommand = SW_SHOWNORMAL)
      : process((QuietFeed(), TestProgramDirectory() + "poll-test-variant\\Brasko.exe"), showCommand) {
    WaitUntil(
        [&] {
          const auto forms = FindTopWindows(process.Id(), "TForm", "Configuratie");
          const auto applications = FindTopWindows(process.Id(), "TApplication", nullptr);
          form1 = forms.empty() ? nullptr : forms[0];
          application = applications.empty() ? nullptr : applications[0];
          return form1 != nullptr && application != nullptr;
        },
        kStartTimeoutMs);
  }

  // Opens the tray menu as a right press on the icon does, and picks the entry reached by pressing Down the given
  // number of times (separators are skipped).
  bool ChooseFromTrayMenu(int downs) {
    std::vector<WPARAM> keys(static_cast<size_t>(downs), VK_DOWN);
    keys.push_back(VK_RETURN);
    TMenuUser user(keys, process.Id());
    PostMessageA(form1, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONDOWN);
    return user.Join();
  }
  TChildProcess process;
  HWND form1 = nullptr;
  HWND application = nullptr;
};

}  // namespace

// ---- The main window in this process ----

class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    QuietFeed();
    Application->Initialize();
    Application->CreateForm(Form1);
    Application->CreateForm(Form2);
  }
};

TEST_F(MainWindow, HasItsTrayIconTipAndMenuAndAHiddenApplicationWindowWithoutAButton) {
  TkxTray* tray = Form1->kxTray1;
  EXPECT_TRUE(tray->Active());
  EXPECT_EQ(tray->IconData().hIcon, tray->Icon()->Handle()) << "the stored icon wins over the resource";
  EXPECT_STREQ(tray->IconData().szTip, "Brasko tracker by Ulmquist");
  EXPECT_FALSE(IsWindowVisible(Application->Handle()));
  EXPECT_TRUE(GetWindowLongPtrA(Application->Handle(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
  // The menu a right press on the icon opens.
  ASSERT_EQ(tray->PopupMenu(), Form1->PopupMenu1);
  std::vector<std::string> entries;
  for (int i = 0; i < Form1->PopupMenu1->Items()->Count(); ++i)
    entries.push_back(Form1->PopupMenu1->Items()->Items(i)->Caption());
  EXPECT_EQ(entries, (std::vector<std::string>{"Show Topics", "Configuratie", "-", "Exit"}));
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
  ASSERT_NE(p.form1, nullptr);
  bool taskbarButton = false;
  EXPECT_TRUE(SeenShownThenHidden(p.form1, program.Id(), taskbarButton));
  EXPECT_FALSE(taskbarButton);
  const auto topLeft = [&] { return std::make_pair(WindowRect(p.form1).left, WindowRect(p.form1).top); };
  EXPECT_EQ(topLeft(), std::make_pair(799L, 636L));
  ASSERT_TRUE(WaitUntil([&] { return TrayIconCount() == iconsBefore + 1; }, 5000));
  // Let the first hide settle, so the next show is not the start-up one.
  Sleep(200);

  // "Configuratie", the second entry, shows it at the same place, where it stays (the hide at start comes once);
  // closing it only hides it.
  ASSERT_TRUE(p.ChooseFromTrayMenu(2));
  ASSERT_TRUE(WaitUntil([&] { return IsWindowVisible(p.form1) != FALSE; }, 5000));
  EXPECT_EQ(topLeft(), std::make_pair(799L, 636L));
  Sleep(300);
  EXPECT_TRUE(IsWindowVisible(p.form1));
  PostMessageA(p.form1, WM_CLOSE, 0, 0);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(p.form1); }, 5000));
  EXPECT_FALSE(program.Wait(300)) << "closing the window does not end the program";

  // "Exit": Down three times reaches it, the separator skipped.
  ASSERT_TRUE(p.ChooseFromTrayMenu(3));
  ASSERT_TRUE(program.Wait(10000));
  EXPECT_EQ(program.ExitCode(), 0u);
  EXPECT_TRUE(WaitUntil([&] { return TrayIconCount() == iconsBefore; }, 5000));
}

TEST(Program, ASecondCopyShowsTheFirstOnesTopicsAndEndsWithoutAnIconOrAPoll) {
  int iconsBefore = TrayIconCount();
  TProgram p;
  TChildProcess& first = p.process;
  ASSERT_NE(p.form1, nullptr);
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
  ASSERT_NE(p.form1, nullptr);
  ASSERT_TRUE(WaitUntil([&] { return TrayIconCount() == iconsBefore + 1; }, kStartTimeoutMs));

  // "Show Topics", then wait for the slide-in to end.
  ASSERT_TRUE(p.ChooseFromTrayMenu(1));
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
  PostMessageA(p.form1, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONDOWN);
  ASSERT_TRUE(user.Join());
  EXPECT_TRUE(upWhenChosen);
  ASSERT_TRUE(program.Wait(10000));
  EXPECT_EQ(program.ExitCode(), 0u);
}

// The start's show request: maximised brings the window up maximised; minimised without activation minimises the
// application instead of showing the window.
TEST(Program, FollowsTheStartsShowRequest) {
  for (int show : {SW_SHOWMAXIMIZED, SW_SHOWMINNOACTIVE}) {
    TProgram p(show);
    ASSERT_NE(p.form1, nullptr);
    bool zoomed = false, formSeen = false, iconic = false;
    for (DWORD start = GetTickCount(); GetTickCount() - start < 2000;) {
      formSeen = formSeen || IsWindowVisible(p.form1);
      zoomed = zoomed || (IsWindowVisible(p.form1) && IsZoomed(p.form1));
      iconic = iconic || IsIconic(p.application);
    }
    if (show == SW_SHOWMAXIMIZED) {
      EXPECT_TRUE(zoomed);
    } else {
      EXPECT_TRUE(iconic);
      EXPECT_FALSE(formSeen);
    }
  }
}
