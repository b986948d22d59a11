#include "app/Unit1.h"

#include <utility>

#include "BraskoConfig.h"
#include "app/NetworkWait.h"
#include "app/Unit2.h"

TForm1* Form1 = nullptr;

const unsigned char kForm1Icon[766] = {
#include "app/Unit1Icon.inc"
};

namespace {
constexpr int kDesignLeft = 799;
constexpr int kDesignTop = 636;
constexpr int kDesignWidth = 264;
constexpr int kDesignHeight = 182;
constexpr unsigned kOneShotIntervalMs = 1;
// How long a second copy looks for the first one's window, which may still be starting.
constexpr int kFindRunningCopyMs = 10000;
constexpr int kFindRunningCopyStepMs = 50;
// A poll's whole fetch, however the site paces its bytes, ends within this: a server (or anyone on the path of a
// plain HTTP fetch) cannot hold the program's only thread, and so its tray menu, for longer.
constexpr int kFetchTimeLimitMs = 4 * kReadTimeoutMs;
// The feed is about 20 KB; a hundred times that leaves room for a feed that grows, while the tree a body of this
// size can make, even of nothing but tags, stays far inside the program's memory.
constexpr int64_t kFeedSizeLimit = 2 << 20;
// What marks the running copy, and what a second copy asks of it: both named after the site, so that builds for
// other sites (a demo beside the real one) each run their own copy.
std::string RunningCopyName() {
  std::string name = "Brasko tracker " + std::string(kSiteHost);
  for (char& c : name) {
    if (c == '\\') c = '/';  // a backslash would name a namespace
  }
  return name;
}

UINT ShowTopicsRequestMessage() {
  static const UINT message = RegisterWindowMessageA((RunningCopyName() + " show topics").c_str());
  return message;
}

// The uninstaller posts this to end a running copy before it removes the program's files.
UINT ExitRequestMessage() {
  static const UINT message = RegisterWindowMessageA((RunningCopyName() + " exit").c_str());
  return message;
}

// Tells the schedule that the poll failed unless it was told that the poll succeeded: whatever the fetch or the
// processing throws goes on to the default handler's box, and the schedule learns of it on the way.
class TPollUnderWay {
 public:
  explicit TPollUnderWay(TPollSchedule& schedule) : schedule_(schedule) {}
  TPollUnderWay(const TPollUnderWay&) = delete;
  TPollUnderWay& operator=(const TPollUnderWay&) = delete;
  ~TPollUnderWay() {
    if (!ended_) schedule_.PollFailed();
  }
  TPollDecision Succeeded() {
    ended_ = true;
    return schedule_.PollSucceeded();
  }

 private:
  TPollSchedule& schedule_;
  bool ended_ = false;
};
}  // namespace

TForm1::TForm1(TComponent* owner) : TForm(owner), schedule_(kPollPeriodMs, kNetworkWaitMs) {
  // The form description: values and components in their order, then the after-loading calls.
  BeginLoading();
  SetBounds(kDesignLeft, kDesignTop, kDesignWidth, kDesignHeight);
  SetCaption("Configuratie");
  SetColor(clBtnFace);
  Font().SetName("MS Sans Serif");
  Font().SetHeight(-11);
  OnCreate = [this](TObject* sender) { FormCreate(sender); };
  OnCloseQuery = [this](TObject* sender, bool& canClose) { FormCloseQuery(sender, canClose); };

  Timer1 = new TTimer(this);
  Timer1->SetName("Timer1");
  // The schedule's start arms the timer for its first tick (interval 1, enabled).
  CarryOut(schedule_.Start(GetTickCount64()));
  Timer1->SetOnTimer([this](TObject* sender) { Timer1Timer(sender); });

  IdHTTP1 = new TIdHTTP(this);
  IdHTTP1->SetName("IdHTTP1");
  // A site that stalls, or a connect that cannot complete, fails the poll after this time instead of holding the
  // program (whose only thread waits in the fetch) for good.
  IdHTTP1->SetReadTimeout(kReadTimeoutMs);
  IdHTTP1->SetConnectTimeout(kReadTimeoutMs);
  IdHTTP1->SetExchangeTimeout(kFetchTimeLimitMs);
  IdHTTP1->SetMaxBodySize(kFeedSizeLimit);
  IdHTTP1->SetAllowCookies(true);
  feedProcessor_ = std::make_unique<TFeedProcessor>(TForm2::PageFileName(), &notificationWindow_);

  kxTray1 = new TkxTray(this);
  kxTray1->SetName("kxTray1");
  TIcon storedIcon;
  storedIcon.LoadFromBytes(kForm1Icon, sizeof kForm1Icon);
  kxTray1->SetIcon(&storedIcon);
  TStringList resources;
  resources.Add("MAINICON");
  kxTray1->SetIconResources(resources);
  kxTray1->SetIconIndex(0);

  PopupMenu1 = new TPopupMenu(this);
  PopupMenu1->SetName("PopupMenu1");
  kxTray1->SetPopupMenu(PopupMenu1);
  kxTray1->SetTip("Brasko tracker by Ulmquist");

  struct TItemDescription {
    TMenuItem** field;
    const char* name;
    const char* caption;
    void (TForm1::*click)(TObject*);
  };
  const TItemDescription items[] = {
      {&ShowTopics1, "ShowTopics1", "Show Topics", &TForm1::ShowTopics1Click},
      {&Configuratie1, "Configuratie1", "Configuratie", &TForm1::Configuratie1Click},
      {&N1, "N1", "-", nullptr},
      {&Exit1, "Exit1", "Exit", &TForm1::Exit1Click},
  };
  for (const TItemDescription& description : items) {
    auto* item = new TMenuItem(this);
    item->SetName(description.name);
    item->SetCaption(description.caption);
    if (description.click != nullptr) {
      auto click = description.click;
      item->OnClick = [this, click](TObject* sender) { (this->*click)(sender); };
    }
    PopupMenu1->Items()->Add(item);
    *description.field = item;
  }

  Timer2 = new TTimer(this);
  Timer2->SetName("Timer2");
  Timer2->SetInterval(kOneShotIntervalMs);
  Timer2->SetEnabled(true);
  Timer2->SetOnTimer([this](TObject* sender) { Timer2Timer(sender); });

  EndLoading();
}

void TForm1::Notification(TComponent* component, TOperation operation) {
  TForm::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  // A removal clears every pointer to the component.
  if (component == Timer1) Timer1 = nullptr;
  if (component == IdHTTP1) IdHTTP1 = nullptr;
  if (component == kxTray1) kxTray1 = nullptr;
  if (component == PopupMenu1) PopupMenu1 = nullptr;
  if (component == ShowTopics1) ShowTopics1 = nullptr;
  if (component == Configuratie1) Configuratie1 = nullptr;
  if (component == N1) N1 = nullptr;
  if (component == Exit1) Exit1 = nullptr;
  if (component == Timer2) Timer2 = nullptr;
}

LRESULT TForm1::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  // A second copy of the program posted this: it has ended, and the user meant to see the topics.
  if (msg == ShowTopicsRequestMessage() && msg != 0) {
    ShowTopics1Click(this);
    return 0;
  }
  if (msg == ExitRequestMessage() && msg != 0) Exit1Click(this);
  if (msg == WM_POWERBROADCAST) {
    PowerBroadcast(wParam);
    return TRUE;
  }
  return TForm::WndProc(msg, wParam, lParam);
}

void TForm1::PowerBroadcast(WPARAM event) {
  if (Timer1 == nullptr || IdHTTP1 == nullptr) return;
  if (event == PBT_APMSUSPEND) {
    CarryOut(schedule_.Suspend());
  } else if (event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND) {
    CarryOut(schedule_.Resume(GetTickCount64()));
  }
}

void TForm1::CarryOut(const TPollDecision& decision) {
  switch (decision.action) {
    case TPollAction::paNothing:
      break;
    case TPollAction::paPoll:
      Poll(decision.intervalMs);
      break;
    case TPollAction::paArmTimer:
      Timer1->SetInterval(decision.intervalMs);
      Timer1->SetEnabled(true);
      break;
    case TPollAction::paCloseConnection:
      Timer1->SetEnabled(false);
      IdHTTP1->Disconnect();
      break;
  }
}

bool TForm1::HandOverToRunningCopy() {
  // The mark stays open for the life of this copy (the system closes it at exit), so the check and the mark are
  // one step: no two copies started together can both miss each other.
  HANDLE mark = CreateMutexA(nullptr, FALSE, ("Local\\" + RunningCopyName()).c_str());
  if (mark == nullptr || GetLastError() != ERROR_ALREADY_EXISTS) return false;
  CloseHandle(mark);
  // Posted, not sent: the first copy may be in the middle of a fetch, and only copies for this site know the
  // message, so any other window of that class and caption ignores it.
  for (int waited = 0; waited < kFindRunningCopyMs; waited += kFindRunningCopyStepMs) {
    bool found = false;
    for (HWND window = FindWindowExA(nullptr, nullptr, "TForm", "Configuratie"); window != nullptr;
         window = FindWindowExA(nullptr, window, "TForm", "Configuratie")) {
      found = PostMessageA(window, ShowTopicsRequestMessage(), 0, 0) != FALSE || found;
    }
    if (found) break;
    Sleep(kFindRunningCopyStepMs);
  }
  return true;
}

void TForm1::FormCreate(TObject* /*Sender*/) {
  HWND application = Application->Handle();
  ShowWindow(application, SW_HIDE);
  LONG_PTR exStyle = GetWindowLongPtrA(application, GWL_EXSTYLE);
  SetWindowLongPtrA(application, GWL_EXSTYLE, exStyle | WS_EX_TOOLWINDOW);
}

void TForm1::FormCloseQuery(TObject* /*Sender*/, bool& CanClose) {
  Hide();
  CanClose = false;
}

void TForm1::Timer2Timer(TObject* /*Sender*/) {
  Hide();
  Timer2->SetEnabled(false);
}

void TForm1::ShowTopics1Click(TObject* /*Sender*/) { Form2->Show(); }

void TForm1::Configuratie1Click(TObject* /*Sender*/) { Show(); }

void TForm1::Exit1Click(TObject* /*Sender*/) { Halt(0); }

std::string TForm1::FeedUrl() { return std::string(kSiteScheme) + "://" + std::string(kSiteHost) + "/flashfeed.dsp"; }

void TForm1::Timer1Timer(TObject* /*Sender*/) {
  // Each answer makes a new object of the system's network list: asked only while the schedule waits for it.
  const TConnectivity network = schedule_.WaitsForNetwork() ? InternetConnectivity() : TConnectivity::cnUnknown;
  CarryOut(schedule_.Tick(GetTickCount64(), network));
}

void TForm1::Poll(unsigned intervalMs) {
  TPollUnderWay poll(schedule_);
  // The timer is off while a poll runs, and comes on again only after a poll that succeeded. Nothing here catches:
  // a failed poll's exception goes to the default handler, which shows it once.
  Timer1->SetInterval(intervalMs);
  Timer1->SetEnabled(false);
  std::string text = IdHTTP1->Get(FeedUrl());
  ProcessFeed(std::move(text));
  const TPollDecision next = poll.Succeeded();
  // Processing may have run a nested message loop (the notification window's slide-out), in which anything could
  // happen, the system's sleep notice included: the schedule has heard of it, and the timer may be gone.
  if (Timer1 == nullptr) return;
  CarryOut(next);
}

void TForm1::ProcessFeed(std::string text) { feedProcessor_->ProcessFeed(std::move(text)); }
