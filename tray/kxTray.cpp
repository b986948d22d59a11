#include "tray/kxTray.h"

#include <cstring>

TShellNotifyIcon kxShellNotifyIcon = &Shell_NotifyIconA;

UINT TaskbarCreatedMessage() {
  static const UINT message = RegisterWindowMessageA("TaskbarCreated");
  return message;
}

void TkxTrayIcon::Assign(const TIcon* source) {
  TIcon::Assign(source);
  tray_->IconChanged();
}

void TkxTrayResources::Put(int index, const std::string& text) {
  TStringList::Put(index, text);
  tray_->IconChanged();
}

TkxTray::TkxTray(TComponent* owner)
    : TkxMsgComponent(owner),
      iconData_{},
      iconResources_(std::make_unique<TkxTrayResources>(this)),
      icon_(std::make_unique<TkxTrayIcon>(this)) {
  iconData_.cbSize = kTrayIconDataSize;
  iconResources_->Add("MAINICON");
}

TkxTray::~TkxTray() {
  // Removed even if it was never added: the shell ignores an icon it does not know.
  HideIcon();
  icon_.reset();
  iconResources_.reset();
  // The unhooking follows in the base destructor.
}

bool TkxTray::Active() const {
  if (!IsDesigning() && iconData_.hIcon == nullptr) return false;
  return active_;
}

void TkxTray::SetActive(bool active) {
  if (active == Active()) return;
  active_ = active;
  if (active) {
    ShowIcon();
  } else {
    HideIcon();
  }
}

void TkxTray::SetIcon(const TIcon* icon) {
  icon_->Assign(icon);
  ModifyIcon();
}

void TkxTray::SetIconResources(const TStringList& resources) {
  iconResources_->Assign(resources);
  ModifyIcon();
}

void TkxTray::SetIconIndex(int index) {
  if (index == iconIndex_) return;
  iconIndex_ = index;
  if (icon_->Empty()) ModifyIcon();
}

void TkxTray::SetPopupMenu(TPopupMenu* menu) {
  if (menu == popupMenu_) return;
  popupMenu_ = menu;
  if (menu != nullptr) menu->FreeNotification(this);
}

void TkxTray::Notification(TComponent* component, TOperation operation) {
  TkxMsgComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == popupMenu_) popupMenu_ = nullptr;
}

std::string TkxTray::Tip() const { return std::string(iconData_.szTip, strnlen(iconData_.szTip, kTrayTipLength)); }

void TkxTray::WriteTip(const std::string& tip) {
  std::string cut = tip.substr(0, kTrayTipLength);
  std::memset(iconData_.szTip, 0, sizeof iconData_.szTip);
  std::memcpy(iconData_.szTip, cut.data(), cut.size());
}

void TkxTray::SetTip(const std::string& tip) {
  tipSet_ = true;
  WriteTip(tip);
  ModifyIcon();
}

void TkxTray::SetName(const std::string& name) {
  TkxMsgComponent::SetName(name);
  if (!tipSet_) {
    // The tip follows the name until one is assigned.
    SetTip(name);
    tipSet_ = false;
  }
}

HICON TkxTray::CurrentIconHandle() const {
  if (!icon_->Empty()) return icon_->Handle();
  if (iconResources_->Count() > 0 && iconIndex_ >= 0 && iconIndex_ < iconResources_->Count()) {
    return LoadIconA(MainInstance(), iconResources_->Strings(iconIndex_).c_str());
  }
  return nullptr;
}

void TkxTray::SetTipFlag() {
  if (iconData_.szTip[0] != '\0') {
    iconData_.uFlags |= NIF_TIP;
  } else {
    iconData_.uFlags &= ~static_cast<UINT>(NIF_TIP);
  }
}

void TkxTray::ShowIcon() {
  if (IsDesigning()) return;
  iconData_.cbSize = kTrayIconDataSize;
  // A tray whose owner chain holds no form has no callback window of its own; it shows nothing until one is
  // given through SetHandle.
  if (Handle() == nullptr && Form() != nullptr) SetHandle(Form()->Handle());
  iconData_.hWnd = Handle();
  iconData_.uID = kTrayIconId;
  iconData_.uCallbackMessage = kTrayCallbackMessage;
  // Without a window no icon is recorded either: Active then reads False, and writing it True once a window has
  // been given adds the icon.
  iconData_.hIcon = iconData_.hWnd != nullptr ? CurrentIconHandle() : nullptr;
  iconData_.uFlags = NIF_MESSAGE | NIF_ICON;
  SetTipFlag();
  if (iconData_.hIcon != nullptr && iconData_.hWnd != nullptr) kxShellNotifyIcon(NIM_ADD, &iconData_);
}

void TkxTray::HideIcon() {
  if (IsDesigning()) return;
  iconData_.uFlags = 0;
  kxShellNotifyIcon(NIM_DELETE, &iconData_);
}

void TkxTray::ModifyIcon() {
  if (IsDesigning() || !Active()) return;
  SetTipFlag();
  iconData_.hIcon = CurrentIconHandle();
  kxShellNotifyIcon(NIM_MODIFY, &iconData_);
}

void TkxTray::IconChanged() {
  if (CurrentIconHandle() != iconData_.hIcon) ModifyIcon();
}

void TkxTray::Loaded() {
  TkxMsgComponent::Loaded();
  ShowIcon();
}

void TkxTray::Dispatch(TMessage& message) {
  if (message.Msg == TaskbarCreatedMessage() && message.Msg != 0) {
    // The shell lost the icon with the rest of the task bar: add it again, exactly as at start.
    if (Active()) ShowIcon();
    return;
  }
  if (message.Msg != kTrayCallbackMessage) return;
  switch (static_cast<UINT>(message.LParam)) {
    case WM_LBUTTONDOWN:
      if (SimpelFunction) SimpelFunction(this);
      message.Result = 1;
      break;
    case WM_LBUTTONDBLCLK:
      if (DefaultFunction) DefaultFunction(this);
      message.Result = 1;
      break;
    case WM_RBUTTONDOWN: {
      if (ShowMenu) ShowMenu(this);
      POINT point = {0, 0};
      GetCursorPos(&point);
      message.Result = 1;
      PopupAt(point);
      // The menu ran a nested message loop: nothing of this tray is touched after it.
      break;
    }
    default:
      break;
  }
}

void TkxTray::PopupAt(POINT point) {
  if (IsDesigning() || popupMenu_ == nullptr || !popupMenu_->AutoPopup()) return;
  SetForegroundWindow(Handle());
  popupMenu_->SetPopupComponent(this);
  popupMenu_->Popup(point.x, point.y);
}
