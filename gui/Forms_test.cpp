#include "gui/Forms.h"

#include <gtest/gtest.h>
#include <objbase.h>

#include <memory>
#include <string>
#include <vector>

#include "gui/ComObj.h"
#include "gui/ExtCtrls.h"
#include "testing/WinTestUtils.h"

using namespace testing_win;

namespace {

constexpr int kBoxTimeoutMs = 5000;

// A form owned by the application that the test deletes itself.
std::unique_ptr<TForm> NewForm(const std::string& caption) {
  auto form = std::make_unique<TForm>(Application);
  form->SetCaption(caption);
  form->SetBounds(100, 100, 300, 200);
  return form;
}

// A component that records its destruction and whether its form's window was still there at that moment.
class TProbe : public TComponent {
 public:
  TProbe(TComponent* owner, std::vector<std::string>& log, HWND watched = nullptr)
      : TComponent(owner), log_(log), watched_(watched) {}
  ~TProbe() override { log_.push_back(Name() + (watched_ && IsWindow(watched_) ? " (window alive)" : "")); }
  void Notification(TComponent* component, TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == TOperation::opRemove) log_.push_back(Name() + " told of " + component->Name());
  }

 private:
  std::vector<std::string>& log_;
  HWND watched_;
};

}  // namespace

TEST(ApplicationTitle, DerivedFromTheExecutableName) {
  EXPECT_EQ(ApplicationTitleFromPath("C:\\Program Files\\Brasko\\Brasko.exe"), "Brasko");
  EXPECT_EQ(ApplicationTitleFromPath("C:\\x\\BRASKO.EXE"), "Brasko");
  EXPECT_EQ(ApplicationTitleFromPath("brasko.exe"), "brasko");
  EXPECT_EQ(ApplicationTitleFromPath("C:\\a.b\\My.Tracker.exe"), "My");
  EXPECT_EQ(ApplicationTitleFromPath("C:\\dir\\NoExtension"), "Noextension");
  EXPECT_EQ(ApplicationTitleFromPath("X"), "X");
  EXPECT_EQ(ApplicationTitleFromPath(""), "");
  // This very program.
  EXPECT_EQ(Application->Title(), "gui_tests");
}

TEST(ExceptionBox, PeriodRule) {
  struct Case {
    const char* message;
    const char* shown;
  } cases[] = {
      {"", ""},
      {"The feed could not be read", "The feed could not be read."},
      {"Ends in a period.", "Ends in a period."},
      {"done (twice)", "done (twice)"},
      {"stop!", "stop!"},
      {"minus-", "minus-"},
      {"ends in slash/", "ends in slash/."},
      {"caf\xE9", "caf\xE9."},
  };
  for (const Case& c : cases) EXPECT_EQ(ExceptionBoxText(c.message), c.shown) << c.message;
}

TEST(DefaultHandler, ShowsTheMessageInAStopBoxOwnedByTheApplicationWindowWithOtherWindowsDisabled) {
  auto form = NewForm("Disabled while the box is open");
  form->Show();
  HWND formWindow = form->Handle();
  bool formEnabledDuringBox = true;
  {
    TMessageBoxCloser closer([&](HWND) { formEnabledDuringBox = IsWindowEnabled(formWindow) != FALSE; });
    try {
      throw Exception("The feed could not be read");
    } catch (...) {
      Application->HandleException(nullptr);
    }
    try {
      throw std::runtime_error("out of memory!");  // a standard exception is shown too
    } catch (...) {
      Application->HandleException(nullptr);
    }
    ASSERT_EQ(closer.Seen().size(), 2u);
    EXPECT_EQ(closer.Seen()[1].text, "out of memory!");
    TSeenMessageBox box = closer.Seen()[0];
    EXPECT_EQ(box.text, "The feed could not be read.");
    EXPECT_EQ(box.caption, "gui_tests");
    EXPECT_EQ(box.owner, Application->Handle());
    EXPECT_TRUE(box.stopIcon);
  }
  EXPECT_FALSE(formEnabledDuringBox);
  EXPECT_TRUE(IsWindowEnabled(formWindow));
}

TEST(DefaultHandler, AbortShowsNothingAndTheMouseCaptureIsCancelledFirst) {
  auto form = NewForm("Capture");
  form->Show();
  SetCapture(form->Handle());
  ASSERT_EQ(GetCapture(), form->Handle());
  TMessageBoxCloser closer;
  try {
    throw EAbort("silent");
  } catch (...) {
    Application->HandleException(nullptr);
  }
  EXPECT_EQ(GetCapture(), nullptr);
  PumpFor(100);
  EXPECT_TRUE(closer.Seen().empty());
}

TEST(FormVisibility, ShowRunsOnShowBeforeTheWindowIsOnScreenAndHideRunsOnHideBeforeItGoes) {
  auto form = NewForm("Visibility");
  std::vector<std::string> log;
  form->OnShow = [&](TObject* sender) {
    EXPECT_EQ(sender, form.get());
    log.push_back(std::string("show, on screen: ") + (IsWindowVisible(form->Handle()) ? "yes" : "no"));
  };
  form->OnHide = [&](TObject*) {
    log.push_back(std::string("hide, on screen: ") + (IsWindowVisible(form->Handle()) ? "yes" : "no"));
  };
  form->Show();
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(IsWindowVisible(form->Handle()));
  EXPECT_EQ(GetForegroundWindow(), form->Handle()) << "shown and activated";
  auto cover = NewForm("Cover");
  cover->Show();
  form->Show();  // already visible: brought to the front only
  bool inFront = false;
  for (HWND w = GetWindow(cover->Handle(), GW_HWNDPREV); w != nullptr; w = GetWindow(w, GW_HWNDPREV)) {
    inFront = inFront || w == form->Handle();
  }
  EXPECT_TRUE(inFront);
  form->Hide();
  EXPECT_FALSE(IsWindowVisible(form->Handle()));
  form->Hide();  // already hidden: nothing
  EXPECT_EQ(log, (std::vector<std::string>{"show, on screen: no", "hide, on screen: yes"}));
}

TEST(FormVisibility, AChangeRequestedWhileTheHideHandlerRunsIsRefusedAndChangesNothing) {
  auto form = NewForm("Refusal");
  TTimer requester(nullptr);
  requester.SetEnabled(false);
  requester.SetInterval(10);
  std::string refusal;
  bool tickDone = false;
  requester.SetOnTimer([&](TObject*) {
    requester.SetEnabled(false);
    try {
      form->Show();
    } catch (const EInvalidOperation& e) {
      refusal = e.Message();
    }
    // Asking for the value the form already heads for is not a change.
    form->Hide();
    tickDone = true;
  });
  int hides = 0;
  form->OnHide = [&](TObject*) {
    ++hides;
    requester.SetEnabled(true);
    // A nested message loop, as a slide-out runs one.
    PumpUntil([&] { return tickDone; }, 3000);
  };
  form->Show();
  form->Hide();
  EXPECT_EQ(refusal, "Cannot change Visible in OnShow or OnHide");
  EXPECT_EQ(hides, 1);
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(IsWindowVisible(form->Handle()));
  // The refused request left nothing behind: showing works at once.
  form->Show();
  EXPECT_TRUE(IsWindowVisible(form->Handle()));
}

TEST(FormVisibility, ErrorsInsideTheHandlersAreReportedAndTheChangeStillCompletes) {
  auto form = NewForm("Handler errors");
  form->OnShow = [&](TObject*) { form->Hide(); };  // refused: the handler itself asks for a change
  form->OnHide = [](TObject*) { throw Exception("hide failed!"); };
  TMessageBoxCloser closer;
  form->Show();
  EXPECT_TRUE(IsWindowVisible(form->Handle()));
  form->Hide();
  EXPECT_FALSE(IsWindowVisible(form->Handle()));
  ASSERT_EQ(closer.Seen().size(), 2u) << "the refusal in the show handler, then the hide handler's error";
  EXPECT_EQ(closer.Seen()[1].text, "hide failed!");
}

TEST(FormClose, ANonMainFormHidesOnCloseUnlessItsCloseQueryRefuses) {
  auto main = std::make_unique<TForm>(Application);
  auto other = NewForm("Other");
  ASSERT_NE(Application->MainForm(), other.get());
  bool refuse = true;
  int queries = 0;
  other->OnCloseQuery = [&](TObject*, bool& canClose) {
    ++queries;
    canClose = !refuse;
  };
  other->Show();
  SendMessageA(other->Handle(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(other->Visible());
  refuse = false;
  SendMessageA(other->Handle(), WM_CLOSE, 0, 0);
  EXPECT_FALSE(other->Visible());
  EXPECT_FALSE(IsWindowVisible(other->Handle()));
  EXPECT_EQ(queries, 2);
  MSG quit;
  EXPECT_FALSE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

TEST(FormClose, TheMainFormThatAgreesEndsTheMessageLoopAndSessionEndAsksItsCloseQuery) {
  TForm* main = nullptr;
  Application->CreateForm(main);
  std::unique_ptr<TForm> owned(main);
  ASSERT_EQ(Application->MainForm(), main);
  bool agree = false;
  main->OnCloseQuery = [&](TObject*, bool& canClose) { canClose = agree; };
  EXPECT_EQ(SendMessageA(main->Handle(), WM_QUERYENDSESSION, 0, 0), FALSE);
  agree = true;
  EXPECT_EQ(SendMessageA(main->Handle(), WM_QUERYENDSESSION, 0, 0), TRUE);
  // Closing the application window closes the main form.
  SendMessageA(Application->Handle(), WM_CLOSE, 0, 0);
  MSG quit;
  EXPECT_TRUE(PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
  owned.reset();
  EXPECT_EQ(Application->MainForm(), nullptr);
}

TEST(ApplicationWindow, ShownWhileAnyFormIsVisibleAndOwnsEveryForm) {
  HWND application = Application->Handle();
  auto first = NewForm("First");
  auto second = NewForm("Second");
  EXPECT_FALSE(IsWindowVisible(application));
  first->Show();
  second->Show();
  EXPECT_TRUE(IsWindowVisible(application));
  EXPECT_FALSE(HasTaskbarButton(first->Handle())) << "owned by the application window";
  first->Hide();
  EXPECT_TRUE(IsWindowVisible(application));
  second->Hide();
  EXPECT_FALSE(IsWindowVisible(application));
  EXPECT_EQ(WindowText(application), Application->Title());
}

TEST(Components, AFormDestroysItsComponentsLastFirstWhileItsWindowStillExists) {
  std::vector<std::string> log;
  auto form = NewForm("Owner");
  HWND window = form->Handle();
  auto* a = new TProbe(form.get(), log, window);
  a->SetName("a");
  auto* b = new TProbe(form.get(), log, window);
  b->SetName("b");
  TProbe outsider(nullptr, log);
  outsider.SetName("outsider");
  outsider.FreeNotification(a);
  form.reset();
  EXPECT_FALSE(IsWindow(window));
  // Each component's own destructor runs first, then those that asked are told.
  EXPECT_EQ(log, (std::vector<std::string>{"b (window alive)", "a (window alive)", "outsider told of a"}));
}

TEST(Startup, InitializeRunsTheRegisteredStepsOnceAndTheComponentLibraryIsSingleThreaded) {
  int runs = 0;
  AddStartupStep([&] { ++runs; });
  EXPECT_EQ(runs, 0);
  Application->Initialize();
  Application->Initialize();
  EXPECT_EQ(runs, 1);
  EXPECT_TRUE(ComObjInitialized());
  // The thread is in a single-threaded apartment: asking for the multi-threaded one is refused.
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  HRESULT again = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(again, S_FALSE);
  if (SUCCEEDED(again)) CoUninitialize();
}
