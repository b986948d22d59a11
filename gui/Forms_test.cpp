#include "gui/Forms.h"

#include <gtest/gtest.h>

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
      {"Socket Error # 10061", "Socket Error # 10061."},
      {"Connection Closed Gracefully.", "Connection Closed Gracefully."},
      {"HTTP/1.1 404 Not Found", "HTTP/1.1 404 Not Found."},
      {"done (twice)", "done (twice)"},
      {"stop!", "stop!"},
      {"minus-", "minus-"},
      {"ends in slash/", "ends in slash/."},
      {"'x' is not a valid integer value", "'x' is not a valid integer value."},
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
    ASSERT_EQ(closer.Count(), 1);
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
  EXPECT_EQ(closer.Count(), 0);
}

TEST(DefaultHandler, StandardExceptionsAreShownToo) {
  TMessageBoxCloser closer;
  try {
    throw std::runtime_error("out of memory!");
  } catch (...) {
    Application->HandleException(nullptr);
  }
  ASSERT_EQ(closer.Count(), 1);
  EXPECT_EQ(closer.Seen()[0].text, "out of memory!");
}
