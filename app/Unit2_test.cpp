// The notification window under Wine: real windows, real timers, the real browser control and real message boxes.
// Window positions are watched through a message hook on the window's own position changes, so the tests see every
// step the slides make, as the window manager saw it.

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

using testing_win::PumpFor;
using testing_win::PumpUntil;
using testing_win::TMessageBoxCloser;

namespace {

constexpr int kSlideTimeoutMs = 15000;
constexpr int kTestTimeoutMs = 60000;
constexpr const char* kRefusal = "Cannot change Visible in OnShow or OnHide";

// One change of the window's position or visibility, as the window itself was told about it.
struct TMove {
  int left;
  int top;
  bool shown;   // the change put the window on the screen
  bool hidden;  // the change took it off
};

// Records every WM_WINDOWPOSCHANGED of one window on this thread.
class TMoveRecorder {
 public:
  explicit TMoveRecorder(HWND window) {
    window_ = window;
    moves_.clear();
    hook_ = SetWindowsHookExA(WH_CALLWNDPROCRET, &TMoveRecorder::Hook, nullptr, GetCurrentThreadId());
    EXPECT_NE(hook_, nullptr);
  }
  ~TMoveRecorder() { UnhookWindowsHookEx(hook_); }
  TMoveRecorder(const TMoveRecorder&) = delete;
  TMoveRecorder& operator=(const TMoveRecorder&) = delete;

  std::vector<TMove> Moves() const { return moves_; }
  void Clear() { moves_.clear(); }
  // The successive tops, a repeat of the same top left out.
  std::vector<int> Tops() const {
    std::vector<int> tops;
    for (const TMove& move : moves_) {
      if (tops.empty() || tops.back() != move.top) tops.push_back(move.top);
    }
    return tops;
  }

 private:
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && message->hwnd == window_ && message->message == WM_WINDOWPOSCHANGED) {
      auto* position = reinterpret_cast<WINDOWPOS*>(message->lParam);
      RECT rect;
      GetWindowRect(window_, &rect);
      moves_.push_back(
          {rect.left, rect.top, (position->flags & SWP_SHOWWINDOW) != 0, (position->flags & SWP_HIDEWINDOW) != 0});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }

  static inline HWND window_ = nullptr;
  static inline std::vector<TMove> moves_;
  HHOOK hook_ = nullptr;
};

// What the browser was asked to load.
struct TNavigation {
  std::wstring url;
  VARTYPE flagsType;
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
          navigations_.push_back({std::wstring(url, SysStringLen(url)), V_VT(flags), V_I4(flags)});
          if (refusal_ != 0) {
            if (!refusalText_.empty()) testing_win::SetThreadErrorDescription(refusalText_.c_str());
            return refusal_;
          }
          return TWebBrowser::DirectNavigateCall(control, url, flags, target, postData, headers);
        });
    recorder_ = std::make_unique<TMoveRecorder>(Form2->Handle());
  }

  void TearDown() override {
    recorder_.reset();
    delete Form2;
    Form2 = nullptr;
    delete mainForm_;
    mainForm_ = nullptr;
  }

  // Shows the window and waits for the slide-in to end.
  void ShowAndSettle() {
    Form2->Show();
    ASSERT_TRUE(PumpUntil([] { return !Form2->Timer1->Enabled(); }, kSlideTimeoutMs));
    ASSERT_EQ(Form2->Top(), 0);
  }

  // Presses the window's close button: the system command that button sends.
  static void PressCloseButton() { PostMessageA(Form2->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); }

  // Presses the close button and runs the action from a timer tick that comes while the window slides out, then
  // waits for the slide-out to end. sliding tells whether it was still running when the tick came.
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
    PressCloseButton();
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

  void ExpectSlideIn(const std::vector<int>& tops) {
    int height = Form2->Height();
    ASSERT_GE(tops.size(), 3u);
    EXPECT_EQ(tops.front(), -height) << "starts with the bottom edge just above the screen";
    EXPECT_EQ(tops.back(), 0) << "ends exactly at the top edge";
    // Every step is 5 pixels down; the last one may overshoot and is then clipped back to 0.
    size_t last = tops.size() - 1;
    if (tops[last - 1] > 0) {
      EXPECT_LT(tops[last - 1], 5);
      --last;
    }
    for (size_t i = 1; i <= last; ++i) EXPECT_EQ(tops[i] - tops[i - 1], 5) << "step " << i;
  }

  void ExpectSlideOut(std::vector<int> tops, int from) {
    int height = Form2->Height();
    if (!tops.empty() && tops.front() != from) tops.insert(tops.begin(), from);
    ASSERT_GE(tops.size(), 3u);
    EXPECT_EQ(tops.front(), from);
    EXPECT_EQ(tops.back(), -height) << "ends exactly at the fully hidden position";
    // 10 pixels up per step until a step goes past -Height; that one is set back to -Height.
    size_t past = tops.size() - 2;
    EXPECT_LT(tops[past], -height);
    EXPECT_GE(tops[past] + 10, -height) << "it stops at the first step past the hidden position";
    for (size_t i = 1; i <= past; ++i) EXPECT_EQ(tops[i] - tops[i - 1], -10) << "step " << i;
  }

  TWatchdog watchdog_{kTestTimeoutMs};
  TForm* mainForm_ = nullptr;
  std::unique_ptr<TMoveRecorder> recorder_;
  std::vector<TNavigation> navigations_;
  HRESULT refusal_ = S_OK;
  std::wstring refusalText_;
};

TEST_F(Unit2Test, FormIsAStayOnTopToolWindowWhoseBrowserFillsTheClientArea) {
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

  HWND control = Form2->WebBrowser1->ControlWindow();
  ASSERT_NE(control, nullptr);
  EXPECT_TRUE(IsChild(window, control));
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  RECT controlRect = testing_win::WindowRect(control);
  EXPECT_TRUE(EqualRect(&controlRect, &client));
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
    EXPECT_TRUE(testing_win::RaiseNewWindow3(Form2->WebBrowser1->EventSink(), c.url)) << "cancelled";
    EXPECT_EQ(opened, c.opened ? std::vector<std::wstring>{c.url} : std::vector<std::wstring>{})
        << std::string(c.url.begin(), c.url.end());
  }
  TForm2::OpenInDefaultBrowser = shell;
}

TEST_F(Unit2Test, ShowSlidesDownInFiveStepsToExactlyTheTopCentredOnTheScreen) {
  WritePage({3, 2, 1});
  TMessageBoxCloser boxes;
  Form2->Show();
  EXPECT_TRUE(Form2->Visible());
  EXPECT_TRUE(OnScreen());
  EXPECT_TRUE(Form2->Timer1->Enabled()) << "the slide-in runs after Show returns";
  ASSERT_TRUE(PumpUntil([] { return !Form2->Timer1->Enabled(); }, kSlideTimeoutMs));

  ExpectSlideIn(recorder_->Tops());
  // The first move sets the top alone; from the second on, the window is centred.
  int expectedLeft = (GetSystemMetrics(SM_CXSCREEN) - Form2->Width()) / 2;
  std::vector<TMove> moves = recorder_->Moves();
  ASSERT_GE(moves.size(), 2u);
  for (size_t i = 1; i < moves.size(); ++i) EXPECT_EQ(moves[i].left, expectedLeft) << "move " << i;
  EXPECT_EQ(Form2->Left(), expectedLeft);
  EXPECT_EQ(testing_win::WindowRect(Form2->Handle()).top, 0);
  EXPECT_EQ(GetForegroundWindow(), Form2->Handle()) << "shown and activated";

  // It was placed above the screen before it went on the screen.
  auto shownAt = std::find_if(moves.begin(), moves.end(), [](const TMove& m) { return m.shown; });
  ASSERT_NE(shownAt, moves.end());
  EXPECT_EQ(shownAt->top, -Form2->Height());
  EXPECT_EQ(boxes.Count(), 0);

  // The page file was loaded, without history or cache, into the real control.
  ASSERT_EQ(navigations_.size(), 1u);
  EXPECT_EQ(navigations_[0].url, AnsiToWide(ExecutableDirectory() + "htmlAll.html"));
  EXPECT_EQ(navigations_[0].flagsType, VT_I4);
  EXPECT_EQ(navigations_[0].flags, 14);
  EXPECT_NE(Form2->WebBrowser1->LocationURL().find(L"htmlAll.html"), std::wstring::npos);
}

TEST_F(Unit2Test, ShowWhileVisibleOnlyBringsTheWindowToTheFront) {
  WritePage({1});
  ShowAndSettle();
  ASSERT_EQ(navigations_.size(), 1u);

  // Another stay-on-top window covering it.
  HWND cover = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, "STATIC", "cover", WS_POPUP | WS_VISIBLE, 0, 0, 300,
                               200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(cover, nullptr);
  PumpFor(50);
  auto above = [](HWND upper, HWND lower) {
    for (HWND w = GetWindow(lower, GW_HWNDPREV); w != nullptr; w = GetWindow(w, GW_HWNDPREV)) {
      if (w == upper) return true;
    }
    return false;
  };
  ASSERT_TRUE(above(cover, Form2->Handle()));
  recorder_->Clear();

  Form2->Show();
  PumpFor(100);
  EXPECT_TRUE(above(Form2->Handle(), cover)) << "brought to the front";
  EXPECT_EQ(navigations_.size(), 1u) << "no reload";
  EXPECT_FALSE(Form2->Timer1->Enabled()) << "no slide";
  for (const TMove& move : recorder_->Moves()) EXPECT_EQ(move.top, 0);
  DestroyWindow(cover);
}

// The close button, once the window has settled and while it still slides in: it slides up from where it is, in
// steps of ten, stays on the screen until the last step, and leaves no timer running; the program goes on.
class Unit2CloseTest : public Unit2Test, public testing::WithParamInterface<bool> {};

TEST_P(Unit2CloseTest, CloseButtonSlidesUpFromWhereTheWindowIsThenHides) {
  const bool settled = GetParam();
  WritePage({1});
  Form2->Show();
  ASSERT_TRUE(PumpUntil([&] { return settled ? !Form2->Timer1->Enabled() : Form2->Top() > -Form2->Height() + 20; },
                        kSlideTimeoutMs));
  ASSERT_EQ(Form2->Timer1->Enabled(), !settled);
  const int from = Form2->Top();
  recorder_->Clear();

  PressCloseButton();
  ASSERT_TRUE(PumpUntil([] { return !Form2->Visible(); }, kSlideTimeoutMs));
  // Hide returns only after the slide-out: by now it has ended and the window is off the screen.
  EXPECT_FALSE(Form2->Timer1->Enabled());
  EXPECT_FALSE(Form2->Timer2->Enabled());
  EXPECT_FALSE(OnScreen());
  ExpectSlideOut(recorder_->Tops(), from);
  std::vector<TMove> moves = recorder_->Moves();
  ASSERT_FALSE(moves.empty());
  for (size_t i = 0; i + 1 < moves.size(); ++i) EXPECT_FALSE(moves[i].hidden) << "move " << i;
  EXPECT_TRUE(moves.back().hidden);

  // It stays where the slide-out left it, the program goes on, and the window can be shown again.
  recorder_->Clear();
  PumpFor(150);
  EXPECT_TRUE(recorder_->Moves().empty());
  EXPECT_EQ(Form2->Top(), -Form2->Height());
  EXPECT_FALSE(Application->Terminated());
  ShowAndSettle();
  ExpectSlideIn(recorder_->Tops());
}

INSTANTIATE_TEST_SUITE_P(SettledAndSlidingIn, Unit2CloseTest, testing::Bool());

TEST_F(Unit2Test, SlideOutStepLandingExactlyOnTheHiddenPositionDoesNotStopIt) {
  WritePage({1});
  ShowAndSettle();
  int height = Form2->Height();
  // The handlers on their own, on the real window: a step to exactly -Height goes on, the next one stops.
  Form2->Timer2->SetOnTimer(nullptr);
  Form2->Timer2->SetEnabled(true);
  Form2->SetTop(-height + 10);
  Form2->Timer2Timer(Form2);
  EXPECT_EQ(Form2->Top(), -height);
  EXPECT_TRUE(Form2->Timer2->Enabled());
  Form2->Timer2Timer(Form2);
  EXPECT_EQ(Form2->Top(), -height);
  EXPECT_FALSE(Form2->Timer2->Enabled());
  EXPECT_EQ(testing_win::WindowRect(Form2->Handle()).top, -height);

  // The slide-in's last step: from -1 a 5-pixel step lands on 4 and is clipped to 0; from -6 it is not yet done.
  Form2->Timer1->SetOnTimer(nullptr);
  Form2->Timer1->SetEnabled(true);
  Form2->SetTop(-6);
  Form2->Timer1Timer(Form2);
  EXPECT_EQ(Form2->Top(), -1);
  EXPECT_TRUE(Form2->Timer1->Enabled());
  Form2->Timer1Timer(Form2);
  EXPECT_EQ(Form2->Top(), 0);
  EXPECT_FALSE(Form2->Timer1->Enabled());
}

TEST_F(Unit2Test, NewItemWhileShownSlidesAllTheWayUpThenDownWithTheNewPage) {
  TForm2Notifier notifier;
  TFeedProcessor processor(TForm2::PageFileName(), &notifier);
  processor.ProcessFeed(Feed({5, 4}));
  ASSERT_TRUE(PumpUntil([] { return !Form2->Timer1->Enabled(); }, kSlideTimeoutMs));
  ASSERT_EQ(navigations_.size(), 1u);
  recorder_->Clear();

  processor.ProcessFeed(Feed({6, 5, 4}));
  EXPECT_EQ(processor.LastShownId(), 6);
  EXPECT_NE(ReadFile(TForm2::PageFileName()).find("Nieuwsbericht nummer 6"), std::string::npos);
  ASSERT_TRUE(PumpUntil([] { return !Form2->Timer1->Enabled(); }, kSlideTimeoutMs));
  ASSERT_EQ(navigations_.size(), 2u) << "the page is loaded again";

  // Up to the hidden position, off the screen, then down again from above the screen.
  std::vector<TMove> moves = recorder_->Moves();
  auto hiddenAt = std::find_if(moves.begin(), moves.end(), [](const TMove& m) { return m.hidden; });
  auto shownAt = std::find_if(moves.begin(), moves.end(), [](const TMove& m) { return m.shown; });
  ASSERT_NE(hiddenAt, moves.end());
  ASSERT_NE(shownAt, moves.end());
  EXPECT_LT(hiddenAt, shownAt);
  std::vector<int> up, down;
  for (auto it = moves.begin(); it != moves.end(); ++it) {
    std::vector<int>& part = it <= hiddenAt ? up : down;
    if (part.empty() || part.back() != it->top) part.push_back(it->top);
  }
  ExpectSlideOut(up, 0);
  // The show places it at -Height, where the slide-out left it; the slide-in goes on from there.
  if (down.empty() || down.front() != -Form2->Height()) down.insert(down.begin(), -Form2->Height());
  ExpectSlideIn(down);

  // An item already announced changes nothing.
  recorder_->Clear();
  processor.ProcessFeed(Feed({6, 5}));
  PumpFor(50);
  EXPECT_TRUE(recorder_->Moves().empty());
  EXPECT_EQ(navigations_.size(), 2u);
}

TEST_F(Unit2Test, ShowTopicsDuringTheSlideOutIsRefusedAndTheSlideOutCompletes) {
  WritePage({1});
  ShowAndSettle();

  // The tray's "Show Topics" command, from a timer tick that comes while the window slides out; what escapes it goes
  // to the default handler, as it does from the menu.
  bool slidingWhenChosen = false;
  TMessageBoxCloser boxes;
  ASSERT_NO_FATAL_FAILURE(CloseWithATickDuringTheSlideOut([] { Form2->Show(); }, slidingWhenChosen));
  PumpUntil([&] { return boxes.Count() > 0; }, 2000);

  EXPECT_TRUE(slidingWhenChosen) << "the command came during the slide-out";
  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Seen()[0].text, std::string(kRefusal) + ".");
  EXPECT_EQ(boxes.Seen()[0].caption, Application->Title());
  EXPECT_TRUE(boxes.Seen()[0].stopIcon);
  // The slide-out ran to its end and the window is hidden.
  EXPECT_FALSE(OnScreen());
  EXPECT_EQ(Form2->Top(), -Form2->Height());
  EXPECT_EQ(recorder_->Tops().back(), -Form2->Height());

  // Nothing is left half-done: the next "Show Topics" shows the window at once, with a fresh slide-in.
  recorder_->Clear();
  Form2->Show();
  EXPECT_TRUE(OnScreen());
  ASSERT_TRUE(PumpUntil([] { return !Form2->Timer1->Enabled(); }, kSlideTimeoutMs));
  ExpectSlideIn(recorder_->Tops());
  EXPECT_EQ(navigations_.size(), 2u);
}

TEST_F(Unit2Test, NewItemDuringACloseButtonSlideOutFailsThePollAndTheSlideOutCompletes) {
  TForm2Notifier notifier;
  TFeedProcessor processor(TForm2::PageFileName(), &notifier);
  processor.ProcessFeed(Feed({7}));
  ASSERT_TRUE(PumpUntil([] { return !Form2->Timer1->Enabled(); }, kSlideTimeoutMs));

  // The poll, from a timer tick that comes while the window slides out.
  std::string failure;
  bool slidingDuringPoll = false;
  TMessageBoxCloser boxes;
  ASSERT_NO_FATAL_FAILURE(CloseWithATickDuringTheSlideOut(
      [&] {
        try {
          processor.ProcessFeed(Feed({8, 7}));
        } catch (const EInvalidOperation& error) {
          failure = error.Message();
        }
      },
      slidingDuringPoll));
  PumpFor(100);

  EXPECT_TRUE(slidingDuringPoll);
  EXPECT_EQ(failure, kRefusal);
  // The page was saved and the id raised before the window refused.
  EXPECT_EQ(processor.LastShownId(), 8);
  EXPECT_NE(ReadFile(TForm2::PageFileName()).find("Nieuwsbericht nummer 8"), std::string::npos);
  EXPECT_FALSE(OnScreen());
  EXPECT_EQ(Form2->Top(), -Form2->Height());
  EXPECT_EQ(navigations_.size(), 1u);
  EXPECT_EQ(boxes.Count(), 0) << "the poll's caller reports it, not the window";
}

TEST_F(Unit2Test, RefusedNavigationShowsTheMessageWhileTheSlideInRuns) {
  WritePage({1});
  refusal_ = E_FAIL;
  refusalText_ = L"The page cannot be opened.\r\n";
  std::vector<int> topsWhileOpen;
  TMessageBoxCloser boxes([&](HWND) {
    // Read from the watcher thread while the box is open: the window goes on moving.
    for (int i = 0; i < 4; ++i) {
      topsWhileOpen.push_back(testing_win::WindowRect(Form2->Handle()).top);
      Sleep(60);
    }
  });
  Form2->Show();
  ASSERT_TRUE(PumpUntil([] { return !Form2->Timer1->Enabled(); }, kSlideTimeoutMs));

  ASSERT_EQ(boxes.Count(), 1);
  EXPECT_EQ(boxes.Seen()[0].text, "The page cannot be opened.");
  EXPECT_EQ(boxes.Seen()[0].caption, Application->Title());
  ASSERT_EQ(topsWhileOpen.size(), 4u);
  EXPECT_LT(topsWhileOpen.front(), topsWhileOpen.back()) << "the slide-in ran while the box was open";
  // The window is still shown and ends at the top.
  EXPECT_TRUE(Form2->Visible());
  EXPECT_TRUE(OnScreen());
  EXPECT_EQ(Form2->Top(), 0);
  ExpectSlideIn(recorder_->Tops());
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
  EXPECT_EQ(Form2->Left(), expected);
  EXPECT_EQ(testing_win::WindowRect(Form2->Handle()).left, expected);
  if (difference % 2 != 0) {
    EXPECT_EQ(expected * 2, difference + 1) << "rounded toward zero, not down";
  }
  ExpectSlideIn(recorder_->Tops());
}

// On a screen of more than 96 dpi the window and its page grow with it. Runs in a session of its own whose screen is
// set to 144 dpi; on a 96-dpi screen it is skipped.
TEST_F(Unit2Test, HighDpiScreenScalesTheWindowAndZoomsThePage) {
  const int dpi = ScreenDpi();
  if (dpi == kDesignDpi) {
    if (std::getenv("BRASKO_EXPECT_DPI") != nullptr) FAIL() << "the screen has " << dpi << " dpi";
    GTEST_SKIP() << "needs a screen of more than 96 dpi";
  }
  if (const char* expected = std::getenv("BRASKO_EXPECT_DPI")) EXPECT_EQ(dpi, std::atoi(expected));
  RECT client;
  GetClientRect(Form2->Handle(), &client);
  EXPECT_EQ(client.right, MulDiv(513, dpi, kDesignDpi));
  EXPECT_EQ(client.bottom, MulDiv(230, dpi, kDesignDpi));
  EXPECT_EQ(Form2->WebBrowser1->Zoom(), MulDiv(100, dpi, kDesignDpi));
  WritePage({1});
  ShowAndSettle();
  EXPECT_EQ(Form2->Left(), (GetSystemMetrics(SM_CXSCREEN) - Form2->Width()) / 2);
  HWND control = Form2->WebBrowser1->ControlWindow();
  RECT controlRect = testing_win::WindowRect(control);
  EXPECT_EQ(controlRect.right - controlRect.left, client.right) << "the page fills the scaled window";
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
