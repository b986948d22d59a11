// The main window: the empty "Configuratie" window that hides right after start, owns the tray icon with its menu,
// and answers the menu's three commands. It never closes: a close request hides it.
#pragma once

#include <memory>
#include <string>

#include "app/FeedProcessor.h"
#include "app/PollSchedule.h"
#include "app/Unit2.h"
#include "gui/ExtCtrls.h"
#include "gui/Forms.h"
#include "gui/Menus.h"
#include "net/IdHTTP.h"
#include "tray/kxTray.h"

// The main window's stored icon in icon-file format (32 x 32 pixels, 16 colours, 766 bytes).
extern const unsigned char kForm1Icon[766];

class TForm1 : public TForm {
 public:
  explicit TForm1(TComponent* owner);

  // Components, in creation order.
  TTimer* Timer1 = nullptr;    // the poll timer
  TIdHTTP* IdHTTP1 = nullptr;  // fetches the feed; keeps its connection and cookies from one poll to the next
  TkxTray* kxTray1 = nullptr;
  TPopupMenu* PopupMenu1 = nullptr;
  TMenuItem* ShowTopics1 = nullptr;
  TMenuItem* Configuratie1 = nullptr;
  TMenuItem* N1 = nullptr;
  TMenuItem* Exit1 = nullptr;
  TTimer* Timer2 = nullptr;

  // Hides the application window and takes its task-bar button away for good.
  void FormCreate(TObject* Sender);
  // A close request hides the window and is refused.
  void FormCloseQuery(TObject* Sender, bool& CanClose);
  // The one tick of Timer2: hides this window, then switches Timer2 off.
  void Timer2Timer(TObject* Sender);
  // "Show Topics": shows the notification window.
  void ShowTopics1Click(TObject* Sender);
  // "Configuratie": shows this window and brings it to the front.
  void Configuratie1Click(TObject* Sender);
  // "Exit": ends the program at once with exit code 0.
  void Exit1Click(TObject* Sender);
  // A tick of the poll timer: polls when the schedule says so (fetches the feed and processes it, then arms the timer
  // for the next poll). A failure leaves the timer off for the rest of the run; its message reaches the default
  // handler's message box. While the schedule waits for the network, the tick only looks whether it is there.
  void Timer1Timer(TObject* Sender);
  // Turns one fetched feed into the page file and announces a newer item in the notification window.
  void ProcessFeed(std::string text);

  // The address the poll fetches: the site's scheme ("http" or "https") with "://", its host and "/flashfeed.dsp".
  static std::string FeedUrl();

  // One copy of the program runs per user session and site. True when another copy already runs: it has then been
  // asked to show its notification window, as "Show Topics" does, and this copy should end without a window, an
  // icon or a poll. The first copy holds its mark until it ends.
  static bool HandOverToRunningCopy();

 protected:
  void Notification(TComponent* component, TOperation operation) override;
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override;

 private:
  // The system's sleep and wake notices, for the schedule.
  void PowerBroadcast(WPARAM event);
  // What the schedule decided, done with the poll timer and the HTTP client.
  void CarryOut(const TPollDecision& decision);
  // One poll, the timer's interval for afterwards set first.
  void Poll(unsigned intervalMs);

  TForm2Notifier notificationWindow_;
  // When to poll: the first poll, and the first after a wake, wait for the network when Windows reports none.
  TPollSchedule schedule_;
  // Holds the last shown id for the whole run.
  std::unique_ptr<TFeedProcessor> feedProcessor_;
};

extern TForm1* Form1;
