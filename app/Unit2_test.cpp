// The notification window under Wine: real windows, real timers, the real browser control and real message boxes.
// One table owns the slides' steps; the other tests assert where the window ends and whether it is on the screen.

#include "app/Unit2.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <vector>

#include "gui/ComObj.h"
#include "testing/TestSupport.h"
#include "testing/WinTestUtils.h"

using namespace testing_win;

namespace {

constexpr int kSlideTimeoutMs = 15000;

// What the browser was asked to load.
struct TNavigation {
  std::wstring url;
  LONG flags;
};

class Unit2Test : public testing::Test {
 protected:
  void SetUp() override {
    Application->Initialize();
    ASSERT_TRUE(ComObjInitialized());
    // A main form first, as in the program: closing any other form only hides it.
    Application->CreateForm(mainForm_);
    Application->CreateForm(Form2);
    ASSERT_NE(Application->MainForm(), Form2);
    Form2->WebBrowser1->SetNavigateCall(
        [this](IWebBrowser2* control, BSTR url, VARIANT* flags, VARIANT* target, VARIANT* postData, VARIANT* headers) {
          navigations_.push_back({std::wstring(url, SysStringLen(url)), V_I4(flags)});
          if (refusal_ != S_OK) return refusal_;
          return TWebBrowser::DirectNavigateCall(control, url, flags, target, postData, headers);
        });
  }

  void TearDown() override {
    delete Form2;
    Form2 = nullptr;
    delete mainForm_;
    mainForm_ = nullptr;
  }

  // Shows the window and waits for the slide-in to end at the top edge.
  void ShowAndSettle() {
    Form2->Show();
    ASSERT_TRUE(PumpUntil([] { return !Form2->Timer1->Enabled(); }, kSlideTimeoutMs));
    ASSERT_EQ(WindowRect(Form2->Handle()).top, 0);
  }

  // Presses the close button (the system command it sends) and runs the action from a timer tick that comes while
  // the window slides out, then waits for the slide-out to end. sliding tells whether it was still running then.
  void CloseWithATickDuringTheSlideOut(const std::function<void()>& action, bool& sliding) {
    auto* tick = new TTimer(mainForm_);
    tick->SetEnabled(false);
    tick->SetInterval(40);
    tick->SetOnTimer([&, tick](TObject*) {
      tick->SetEnabled(false);
      sliding = Form2->Timer2->Enabled();
      action();
    });
    tick->SetEnabled(true);
    PostMessageA(Form2->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    const bool ended = PumpUntil([] { return !Form2->Visible() && !Form2->Timer2->Enabled(); }, kSlideTimeoutMs);
    tick->SetEnabled(false);  // a tick that has not come must not come once action and sliding are gone
    ASSERT_TRUE(ended);
  }

  static bool OnScreen() { return IsWindowVisible(Form2->Handle()) != FALSE; }

  // The page as the feed processor writes it, so the window shows what the program shows.
  static void WritePage(std::initializer_list<int> ids) {
    TFeedProcessor writer(TForm2::PageFileName(), nullptr);
    writer.ProcessFeed(Feed(ids));
  }

  TForm* mainForm_ = nullptr;
  std::vector<TNavigation> navigations_;
  HRESULT refusal_ = S_OK;
};

TEST_F(Unit2Test, FormIsAStayOnTopToolWindowWithTheBrowserInside) {
  HWND window = Form2->Handle();
  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 513);
  EXPECT_EQ(client.bottom, 230);
  LONG_PTR style = GetWindowLongPtrA(window, GWL_STYLE);
  LONG_PTR exStyle = GetWindowLongPtrA(window, GWL_EXSTYLE);
  EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
  EXPECT_TRUE(exStyle & WS_EX_TOPMOST);
  EXPECT_TRUE(style & WS_SYSMENU) << "the close button";
  EXPECT_FALSE(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_TRUE(IsChild(window, Form2->WebBrowser1->ControlWindow()));
}

// Every request for a new window is cancelled, so the control opens none itself; only a web address goes on to the
// user's browser, whatever a page (or a script in it, unasked) names.
TEST_F(Unit2Test, ANewWindowOpensInTheDefaultBrowserOnlyForAWebAddress) {
  struct Case {
    std::wstring url;
    bool opened;
  };
  const Case cases[] = {
      {L"http://127.0.0.1/nieuws/4821", true},
      {L"HTTPS://www.example.nl/nieuws/7", true},
      {L"file:///C:/Windows/System32/calc.exe", false},
      {L"C:\\Windows\\System32\\calc.exe", false},
      {L"\\\\host\\share\\setup.exe", false},
      {L"javascript:alert(1)", false},
      {L"mailto:redactie@example.nl", false},
      {L"nieuws/4821", false},
      {L"http:nieuws/4821", false},
      {L"", false},
      // A blank or a quote could split or bend the browser's command line.
      {L"https://www.example.nl/ --new-window file:///C:/", false},
      {L"https://www.example.nl/\"--new-window\"", false},
  };
  std::vector<std::wstring> opened;
  auto shell = TForm2::OpenInDefaultBrowser;
  TForm2::OpenInDefaultBrowser = [&](const std::wstring& url) { opened.push_back(url); };
  for (const Case& c : cases) {
    opened.clear();
    bool cancel = false;
    Form2->WebBrowser1->OnNewWindow(Form2->WebBrowser1, c.url, cancel);
    EXPECT_TRUE(cancel);
    EXPECT_EQ(opened, c.opened ? std::vector<std::wstring>{c.url} : std::vector<std::wstring>{})
        << std::string(c.url.begin(), c.url.end());
  }
  TForm2::OpenInDefaultBrowser = shell;
}

TEST_F(Unit2Test, ShowPutsTheWindowCentredJustAboveTheScreenAndItSlidesDownToTheTopWithThePage) {
  WritePage({3, 2, 1});
  TMessageBoxCloser boxes;
  Form2->Show();
  const int centred = (GetSystemMetrics(SM_CXSCREEN) - Form2->Width()) / 2;
  EXPECT_TRUE(OnScreen());
  EXPECT_EQ(WindowRect(Form2->Handle()).top, -Form2->Height()) << "its bottom edge just above the screen";
  EXPECT_EQ(WindowRect(Form2->Handle()).left, centred);
  EXPECT_TRUE(Form2->Timer1->Enabled()) << "the slide-in runs after Show returns";
  ASSERT_TRUE(PumpUntil([] { return !Form2->Timer1->Enabled(); }, kSlideTimeoutMs));
  EXPECT_EQ(WindowRect(Form2->Handle()).top, 0);
  EXPECT_EQ(WindowRect(Form2->Handle()).left, centred);
  EXPECT_TRUE(boxes.Seen().empty());

  // The page file was loaded, without history or cache, into the real control.
  ASSERT_EQ(navigations_.size(), 1u);
  EXPECT_EQ(navigations_[0].url, AnsiToWide(ExecutableDirectory() + "htmlAll.html"));
  EXPECT_EQ(navigations_[0].flags, 14);
  EXPECT_NE(Form2->WebBrowser1->LocationURL().find(L"htmlAll.html"), std::wstring::npos);
}

// One tick of each slide on the real window: the slide-in goes 5 pixels down and a step past the top edge is set
// back to it; the slide-out goes 10 pixels up and only a step past the fully hidden position stops there.
TEST_F(Unit2Test, EachSlideTickMovesOneStepAndTheLastOneSettlesExactly) {
  const int height = Form2->Height();
  struct Row {
    bool in;  // the slide-in's tick, else the slide-out's
    int from;
    int to;
    bool goesOn;
  };
  const Row rows[] = {
      {true, -6, -1, true},
      {true, -5, 0, false},
      {true, -1, 0, false},
      {false, 0, -10, true},
      {false, -height + 10, -height, true},
      {false, -height + 3, -height, false},
  };
  // The handlers on their own: the timers stay enabled without a handler, so no real tick comes in between.
  Form2->Timer1->SetOnTimer(nullptr);
  Form2->Timer2->SetOnTimer(nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << (row.in ? "in" : "out") << " from " << row.from);
    TTimer* timer = row.in ? Form2->Timer1 : Form2->Timer2;
    timer->SetEnabled(true);
    Form2->SetTop(row.from);
    if (row.in) {
      Form2->Timer1Timer(Form2);
    } else {
      Form2->Timer2Timer(Form2);
    }
    EXPECT_EQ(WindowRect(Form2->Handle()).top, row.to);
    EXPECT_EQ(timer->Enabled(), row.goesOn);
  }
}

// The close button, even while the window still slides in: the window slides out on the screen, is hidden once that
// has ended, and stays where it was left with no timer running; it can be shown again.
TEST_F(Unit2Test, CloseButtonSlidesTheWindowUpOnTheScreenThenHidesIt) {
  WritePage({1});
  Form2->Show();
  ASSERT_TRUE(PumpUntil([] { return Form2->Top() > -Form2->Height() / 2; }, kSlideTimeoutMs));
  ASSERT_TRUE(Form2->Timer1->Enabled());

  bool sliding = false;
  bool onScreenWhileSliding = false;
  ASSERT_NO_FATAL_FAILURE(CloseWithATickDuringTheSlideOut([&] { onScreenWhileSliding = OnScreen(); }, sliding));
  EXPECT_TRUE(sliding);
  EXPECT_TRUE(onScreenWhileSliding);
  EXPECT_FALSE(OnScreen());
  EXPECT_FALSE(Form2->Timer1->Enabled());
  PumpFor(150);
  EXPECT_EQ(WindowRect(Form2->Handle()).top, -Form2->Height());
  ShowAndSettle();
}

// New items reach the window through the feed processor's notifier: one while the window is shown slides it out and
// in again with the new page; one from a timer tick during the close button's slide-out is refused, which fails the
// poll (its caller reports it, not the window), and the slide-out runs to its end.
TEST_F(Unit2Test, NewItemsWhileShownAndDuringTheSlideOut) {
  TForm2Notifier notifier;
  TFeedProcessor processor(TForm2::PageFileName(), &notifier);
  processor.ProcessFeed(Feed({5, 4}));
  ASSERT_TRUE(PumpUntil([] { return !Form2->Timer1->Enabled(); }, kSlideTimeoutMs));
  processor.ProcessFeed(Feed({6, 5, 4}));
  ASSERT_TRUE(PumpUntil([] { return !Form2->Timer1->Enabled(); }, kSlideTimeoutMs));
  EXPECT_EQ(navigations_.size(), 2u) << "the page is loaded again";
  EXPECT_EQ(WindowRect(Form2->Handle()).top, 0);

  bool refused = false;
  bool sliding = false;
  TMessageBoxCloser boxes;
  ASSERT_NO_FATAL_FAILURE(CloseWithATickDuringTheSlideOut(
      [&] {
        try {
          processor.ProcessFeed(Feed({7, 6}));
        } catch (const EInvalidOperation&) {
          refused = true;
        }
      },
      sliding));
  PumpFor(100);
  EXPECT_TRUE(sliding);
  EXPECT_TRUE(refused);
  EXPECT_FALSE(OnScreen());
  EXPECT_EQ(WindowRect(Form2->Handle()).top, -Form2->Height());
  EXPECT_EQ(navigations_.size(), 2u);
  EXPECT_TRUE(boxes.Seen().empty());
}

TEST_F(Unit2Test, RefusedNavigationShowsABoxWhileTheSlideInRunsOn) {
  WritePage({1});
  refusal_ = E_FAIL;
  std::vector<int> topsWhileOpen;
  TMessageBoxCloser boxes([&](HWND) {
    // Read from the watcher thread while the box is open: the window goes on moving.
    for (int i = 0; i < 4; ++i) {
      topsWhileOpen.push_back(WindowRect(Form2->Handle()).top);
      Sleep(60);
    }
  });
  ShowAndSettle();
  EXPECT_EQ(boxes.Seen().size(), 1u);
  ASSERT_EQ(topsWhileOpen.size(), 4u);
  EXPECT_LT(topsWhileOpen.front(), topsWhileOpen.back()) << "the slide-in ran while the box was open";
  EXPECT_TRUE(OnScreen());
}

// The window is wider than this screen, so its Left is negative, worked out with truncation toward zero. Runs in a
// session of its own with a narrow virtual screen; on a wider screen it is skipped.
TEST_F(Unit2Test, NarrowScreenGivesANegativeLeftTruncatedTowardZero) {
  int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  if (screenWidth >= Form2->Width()) {
    if (std::getenv("BRASKO_EXPECT_NARROW_SCREEN") != nullptr) FAIL() << "the screen is " << screenWidth << " wide";
    GTEST_SKIP() << "needs a screen narrower than the window";
  }
  WritePage({1});
  ShowAndSettle();
  int difference = screenWidth - Form2->Width();
  int expected = difference / 2;
  EXPECT_LT(expected, 0);
  EXPECT_EQ(WindowRect(Form2->Handle()).left, expected);
  if (difference % 2 != 0) {
    EXPECT_EQ(expected * 2, difference + 1) << "rounded toward zero, not down";
  }
}

// On a screen of more than 96 dpi the window and its page grow with it. Runs in a session of its own whose screen is
// set to 144 dpi; on a 96-dpi screen it is skipped.
TEST_F(Unit2Test, HighDpiScreenScalesTheWindowAndZoomsThePage) {
  const int dpi = ScreenDpi();
  if (dpi == kDesignDpi) {
    if (std::getenv("BRASKO_EXPECT_DPI") != nullptr) FAIL() << "the screen has " << dpi << " dpi";
    GTEST_SKIP() << "needs a screen of more than 96 dpi";
  }
  if (const char* expected = std::getenv("BRASKO_EXPECT_DPI")) {
    EXPECT_EQ(dpi, std::atoi(expected));
  }
  RECT client;
  GetClientRect(Form2->Handle(), &client);
  EXPECT_EQ(client.right, MulDiv(513, dpi, kDesignDpi));
  EXPECT_EQ(client.bottom, MulDiv(230, dpi, kDesignDpi));
  EXPECT_EQ(Form2->WebBrowser1->Zoom(), MulDiv(100, dpi, kDesignDpi));
}

// Where the page goes: beside the program where this user may make files there, otherwise in the user's own folder
// (made when missing) with the program's background beside it, copied when missing there or different. Deciding
// leaves nothing beside the program.
struct TPageFolderCase {
  const char* name;
  bool programFolderWritable;
  const char* ownBackgroundBefore;  // nullptr: the user's own folder is not there yet
};

void PrintTo(const TPageFolderCase& row, std::ostream* out) { *out << row.name; }

class PageFolderTest : public testing::TestWithParam<TPageFolderCase> {};

TEST_P(PageFolderTest, BesideTheProgramWhereTheUserMayWriteElseInTheUsersOwnFolderWithTheBackground) {
  const TPageFolderCase& row = GetParam();
  const std::string background = "the program's background";
  TTempFolder program, user;
  std::ofstream(program.File("background.jpg"), std::ios::binary) << background;
  const std::string own = user.File("Brasko tracker\\");
  if (row.ownBackgroundBefore != nullptr) {
    ASSERT_TRUE(CreateDirectoryA(own.c_str(), nullptr));
    std::ofstream(own + "background.jpg", std::ios::binary) << row.ownBackgroundBefore;
  }
  std::optional<testing_win::TReadOnlyFolder> readOnly;
  if (!row.programFolderWritable) {
    ASSERT_TRUE(readOnly.emplace(program.File("")).Applied());
  }

  EXPECT_EQ(ChoosePageFolder(program.File(""), own), row.programFolderWritable ? program.File("") : own);
  EXPECT_EQ(ReadFile(own + "background.jpg"), row.programFolderWritable ? "" : background);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(program.File("")), {}), 1) << "only background.jpg";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PageFolderTest,
    testing::Values(TPageFolderCase{"WritableProgramFolder", true, nullptr},
                    TPageFolderCase{"ReadOnlyProgramFolder", false, nullptr},
                    TPageFolderCase{"ReadOnlyProgramFolderAndAnotherBackground", false, "an older background"}),
    [](const testing::TestParamInfo<TPageFolderCase>& info) { return std::string(info.param.name); });

}  // namespace
