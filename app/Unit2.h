// The notification window: a small stay-on-top tool window at the top of the screen that shows the page file in the
// browser control. Showing it slides it down from above the screen's top edge; hiding it slides it back up first.
#pragma once

#include <functional>
#include <string>

#include "app/FeedProcessor.h"
#include "gui/ExtCtrls.h"
#include "gui/Forms.h"
#include "gui/WebBrowser.h"

// The page file the window shows: "htmlAll.html" beside the executable, or in the user's own folder where the
// user may not write beside it.
inline constexpr const char* kPageFileName = "htmlAll.html";
// The page names its background by its bare name, so it lies beside the page.
inline constexpr const char* kPageBackgroundName = "background.jpg";

// The folder the page goes in for a program in programFolder: that folder when this process may make files in it
// (the per-user install, the portable folder, an elevated administrator); otherwise ownFolder, made when missing,
// with a copy of the program's background when it has none or another one. Folders end with a separator.
std::string ChoosePageFolder(const std::string& programFolder, const std::string& ownFolder);

class TForm2 : public TForm {
 public:
  explicit TForm2(TComponent* owner);

  // Owned by the form; cleared when destroyed.
  TWebBrowser* WebBrowser1 = nullptr;
  TTimer* Timer1 = nullptr;  // slide-in
  TTimer* Timer2 = nullptr;  // slide-out

  // Before the hidden window is put on the screen: places it just above the screen, centred on the primary display,
  // starts the slide-in and loads the page file into the browser.
  void FormShow(TObject* Sender);
  // Before the visible window is taken off the screen: slides it out and returns only when that has ended.
  void FormHide(TObject* Sender);
  // One slide-in step of 5 pixels; the last one is clipped to the top edge.
  void Timer1Timer(TObject* Sender);
  // One slide-out step of 10 pixels; stops once past the fully hidden position and settles exactly there.
  void Timer2Timer(TObject* Sender);

  // The full path of the page file, chosen by ChoosePageFolder once per run with the user's own folder
  // "%LOCALAPPDATA%\Brasko tracker".
  static std::string PageFileName();

  // Opens a link of the page in the user's default browser, through the shell; only web addresses come here. A test
  // may put a function here that watches the call.
  using TOpenInDefaultBrowser = std::function<void(const std::wstring& url)>;
  static TOpenInDefaultBrowser OpenInDefaultBrowser;

 protected:
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;
};

// Whether a page may hand this address to the user's browser: an absolute "http:" or "https:" address (the scheme
// in any case, "//" after the colon) holding no blank, control character or double quote, none of which a web
// address has and which could split the browser's command line. Anything else (a file, a share, a program, a script,
// mail, a relative address, none) is no address for the shell.
bool IsWebAddress(const std::wstring& url);

// The single notification window, created at start-up.
extern TForm2* Form2;

// The notification window as the feed processor sees it: whatever Form2 is at the time of the call. Hide and Show
// raise whatever the window raises, the visibility refusal included, to the caller.
class TForm2Notifier : public TNotificationTarget {
 public:
  void Hide() override;
  void Show() override;
};
