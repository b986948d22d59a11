// One icon with a tip in the notification area. The owner form's window is the icon's callback window: the icon's
// mouse messages (message 10124) arrive through the form hook and become three events and the popup menu.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <memory>
#include <string>

#include "gui/Graphics.h"
#include "gui/Menus.h"
#include "tray/kxMsgCmp.h"

// The callback message the icon's mouse actions arrive with (lParam holds the mouse message).
inline constexpr UINT kTrayCallbackMessage = 10124;
// The one icon a tray component shows.
inline constexpr UINT kTrayIconId = 1;
// Room for the tip in the icon data's first form, without its terminating NUL.
inline constexpr size_t kTrayTipLength = 63;
// The icon data's first form: 88 bytes in the 32-bit build.
inline constexpr DWORD kTrayIconDataSize = NOTIFYICONDATAA_V1_SIZE;
#if !defined(_WIN64)
static_assert(NOTIFYICONDATAA_V1_SIZE == 88, "the icon data's first form is 88 bytes on 32-bit Windows");
#endif

// The message the shell broadcasts to every top-level window when the task bar comes up again (after Explorer
// restarted): every icon it showed is gone, and a tray that is active adds its icon anew.
UINT TaskbarCreatedMessage();

// The shell call every tray component makes. A test may put a function here that watches the calls and passes
// them on to the real one.
using TShellNotifyIcon = BOOL(WINAPI*)(DWORD message, PNOTIFYICONDATAA data);
extern TShellNotifyIcon kxShellNotifyIcon;

class TkxTray;

// The tray's icon image: every Assign into it tells the tray.
class TkxTrayIcon : public TIcon {
 public:
  explicit TkxTrayIcon(TkxTray* tray) : tray_(tray) {}
  void Assign(const TIcon* source) override;

 private:
  TkxTray* tray_;
};

// Names of icon resources of the executable. Replacing an item by an indexed store tells the tray; adding,
// deleting and clearing do not.
class TkxTrayResources : public TStringList {
 public:
  explicit TkxTrayResources(TkxTray* tray) : tray_(tray) {}
  void Put(int index, const std::string& text) override;

 private:
  TkxTray* tray_;
};

class TkxTray : public TkxMsgComponent {
 public:
  explicit TkxTray(TComponent* owner);
  ~TkxTray() override;

  // Outside design mode False while no icon handle has been recorded; otherwise the stored flag. Writing the value
  // it reads does nothing; True adds the icon, False removes it.
  bool Active() const;
  void SetActive(bool active);

  TkxTrayIcon* Icon() const { return icon_.get(); }
  // Copies the given icon into Icon, then updates the shown icon.
  void SetIcon(const TIcon* icon);
  TkxTrayResources* IconResources() const { return iconResources_.get(); }
  void SetIconResources(const TStringList& resources);
  int IconIndex() const { return iconIndex_; }
  void SetIconIndex(int index);
  TPopupMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* menu);

  // At most 63 characters; the component's name until a tip is assigned.
  std::string Tip() const;
  void SetTip(const std::string& tip);
  bool TipSet() const { return tipSet_; }

  // Right button pressed on the icon, before the menu opens.
  TNotifyEvent ShowMenu;
  // Left button pressed on the icon.
  TNotifyEvent SimpelFunction;
  // Left button double-clicked on the icon.
  TNotifyEvent DefaultFunction;

  virtual void ShowIcon();
  virtual void HideIcon();
  virtual void ModifyIcon();
  // Opens PopupMenu at a screen point. Runs a nested message loop (the menu's): this tray may be gone after it.
  virtual void PopupAt(POINT point);
  // Works out the icon handle anew and updates the shown icon when it differs.
  virtual void IconChanged();

  // The icon handle the tray would show now: Icon's image, else the resource at IconIndex, else 0.
  HICON CurrentIconHandle() const;
  // The record handed to the shell.
  const NOTIFYICONDATAA& IconData() const { return iconData_; }

  void SetName(const std::string& name) override;
  void Dispatch(TMessage& message) override;

 protected:
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  void WriteTip(const std::string& tip);
  void SetTipFlag();

  bool active_ = true;
  NOTIFYICONDATAA iconData_;
  std::unique_ptr<TkxTrayResources> iconResources_;
  int iconIndex_ = 0;
  std::unique_ptr<TkxTrayIcon> icon_;
  TPopupMenu* popupMenu_ = nullptr;
  bool tipSet_ = false;
};
