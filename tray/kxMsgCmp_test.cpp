#include "tray/kxMsgCmp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/WinTestUtils.h"

namespace {

constexpr UINT kProbeMessage = WM_APP + 17;

std::vector<std::string> journal;

// A form that writes the probe message into the journal and answers it with 42.
class TJournalForm : public TForm {
 public:
  explicit TJournalForm(TComponent* owner) : TForm(owner) {}

 protected:
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
    if (msg == kProbeMessage) {
      journal.push_back("form");
      return 42;
    }
    return TForm::WndProc(msg, wParam, lParam);
  }
};

class TJournalComponent : public TkxMsgComponent {
 public:
  TJournalComponent(TComponent* owner, std::string tag, LRESULT answer)
      : TkxMsgComponent(owner), tag_(std::move(tag)), answer_(answer) {}
  void Dispatch(TMessage& message) override {
    if (message.Msg != kProbeMessage) return;
    journal.push_back(tag_ + " saw " + std::to_string(message.Result));
    message.Result = answer_;
  }

 private:
  std::string tag_;
  LRESULT answer_;
};

}  // namespace

TEST(MessageHook, ComponentsSeeMessagesInHookOrderAThrowingOneIsReportedAndTheFormAnswersLast) {
  journal.clear();
  TJournalForm form(Application);
  auto* first = new TJournalComponent(&form, "first", 1);
  auto* second = new TJournalComponent(&form, "second", 2);
  EXPECT_EQ(first->Form(), &form);
  HWND window = form.Handle();
  second->SetHandle(window);
  first->SetHandle(window);

  LRESULT result = SendMessageA(window, kProbeMessage, 0, 0);
  // The value returned to the system is the form's, whatever the components set.
  EXPECT_EQ(result, 42);
  EXPECT_EQ(journal, (std::vector<std::string>{"second saw 0", "first saw 2", "form"}));

  // Unhooked: the others carry on.
  journal.clear();
  second->SetHandle(nullptr);
  EXPECT_EQ(SendMessageA(window, kProbeMessage, 0, 0), 42);
  EXPECT_EQ(journal, (std::vector<std::string>{"first saw 0", "form"}));

  // A component marked as being destroyed is passed over.
  journal.clear();
  first->Destroying();
  EXPECT_EQ(SendMessageA(window, kProbeMessage, 0, 0), 42);
  EXPECT_EQ(journal, (std::vector<std::string>{"form"}));

  // One that throws is reported, and the form still gets the message.
  class TThrowing : public TkxMsgComponent {
   public:
    using TkxMsgComponent::TkxMsgComponent;
    void Dispatch(TMessage& message) override {
      if (message.Msg == kProbeMessage) throw Exception("hook failed");
    }
  };
  (new TThrowing(&form))->SetHandle(window);
  journal.clear();
  testing_win::TMessageBoxCloser closer;
  EXPECT_EQ(SendMessageA(window, kProbeMessage, 0, 0), 42);
  EXPECT_EQ(closer.Seen().size(), 1u);
  EXPECT_EQ(journal, (std::vector<std::string>{"form"}));
}

TEST(MessageHook, FormIsFoundAlongTheOwnerChainAndHookingWaitsForTheEndOfLoading) {
  TJournalForm form(Application);
  TComponent middle(&form);
  TJournalComponent nested(&middle, "nested", 0);
  EXPECT_EQ(nested.Form(), &form);

  TComponent noForm(nullptr);
  TJournalComponent orphan(&noForm, "orphan", 0);
  EXPECT_EQ(orphan.Form(), nullptr);

  // While the form is loading, the handle is only stored; nothing is hooked.
  class TLoadingForm : public TForm {
   public:
    explicit TLoadingForm(TComponent* owner) : TForm(owner) { BeginLoading(); }
    void Finish() { EndLoading(); }
  };
  TLoadingForm loading(Application);
  auto* component = new TJournalComponent(&loading, "late", 0);
  HWND window = loading.Handle();
  component->SetHandle(window);
  EXPECT_EQ(component->Handle(), window);
  journal.clear();
  SendMessageA(window, kProbeMessage, 0, 0);
  EXPECT_TRUE(journal.empty());
  loading.Finish();
  SendMessageA(window, kProbeMessage, 0, 0);
  EXPECT_EQ(journal, (std::vector<std::string>{"late saw 0"}));
}
