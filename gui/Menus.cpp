#include "gui/Menus.h"

#include <algorithm>

#include "gui/Controls.h"

namespace {

// Menu identifiers travel in 16 bits; 0 means "nothing chosen".
UINT NextCommand() {
  static UINT last = 0;
  last = last % 0xFFFF + 1;
  return last;
}

// Owns a menu handle and destroys it (with its submenus).
class TMenuHandle {
 public:
  explicit TMenuHandle(HMENU menu) : menu_(menu) {}
  ~TMenuHandle() {
    if (menu_) DestroyMenu(menu_);
  }
  TMenuHandle(const TMenuHandle&) = delete;
  TMenuHandle& operator=(const TMenuHandle&) = delete;
  HMENU Get() const { return menu_; }

 private:
  HMENU menu_;
};

void AppendItems(HMENU menu, const TMenuItem& parent) {
  for (int i = 0; i < parent.Count(); ++i) {
    const TMenuItem& item = *parent.Items(i);
    if (!item.Visible()) continue;
    if (item.IsLine()) {
      AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
      continue;
    }
    UINT flags = MF_STRING | (item.Enabled() ? MF_ENABLED : MF_GRAYED);
    if (item.Count() > 0) {
      HMENU sub = CreatePopupMenu();
      AppendItems(sub, item);
      AppendMenuA(menu, flags | MF_POPUP, reinterpret_cast<UINT_PTR>(sub), item.Caption().c_str());
    } else {
      AppendMenuA(menu, flags, item.Command(), item.Caption().c_str());
    }
  }
}

}  // namespace

TMenuItem::TMenuItem(TComponent* owner) : TComponent(owner), command_(NextCommand()) {}

TMenuItem::~TMenuItem() {
  if (parent_ != nullptr) parent_->Remove(this);
  // Children still here die with their parent; each takes itself out of items_ on the way.
  while (!items_.empty()) delete items_.back();
}

void TMenuItem::Add(TMenuItem* item) {
  if (item == nullptr || item == this) return;
  if (item->parent_ != nullptr) item->parent_->Remove(item);
  items_.push_back(item);
  item->parent_ = this;
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  items_.erase(it);
  item->parent_ = nullptr;
}

void TMenuItem::Click() {
  TNotifyEvent handler = OnClick;
  if (handler) handler(this);
}

TMenuItem* TMenuItem::FindItem(UINT command) {
  if (command_ == command) return this;
  for (TMenuItem* item : items_) {
    if (TMenuItem* found = item->FindItem(command)) return found;
  }
  return nullptr;
}

TPopupMenu::TPopupMenu(TComponent* owner)
    : TComponent(owner), items_(new TMenuItem(nullptr)), alive_(std::make_shared<bool>(true)) {}

TPopupMenu::~TPopupMenu() {
  *alive_ = false;
  delete items_;
}

void TPopupMenu::SetPopupComponent(TComponent* component) {
  if (component == popupComponent_) return;
  if (popupComponent_ != nullptr) RemoveFreeNotification(popupComponent_);
  popupComponent_ = component;
  if (component != nullptr) FreeNotification(component);
}

void TPopupMenu::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == TOperation::opRemove && component == popupComponent_) popupComponent_ = nullptr;
}

HWND TPopupMenu::WindowHandle() const { return window_ ? window_->Handle() : nullptr; }

void TPopupMenu::Popup(int x, int y) {
  if (OnPopup) OnPopup(this);
  if (!window_) {
    // The menu's owner must be a real top-level window for the menu to close when the user clicks elsewhere.
    window_ = std::make_unique<TUtilWindow>(&DefWindowProcA, false);
  }
  TMenuHandle menu(CreatePopupMenu());
  if (menu.Get() == nullptr) return;
  AppendItems(menu.Get(), *items_);
  std::weak_ptr<bool> alive = alive_;
  // The system closes a menu on a click elsewhere only while its owner is the foreground window; and a message
  // posted to the owner once the menu is done lets the next menu of the same owner open and close normally.
  HWND owner = window_->Handle();
  SetForegroundWindow(owner);
  UINT command = static_cast<UINT>(
      TrackPopupMenu(menu.Get(), TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, x, y, 0, owner, nullptr));
  PostMessageA(owner, WM_NULL, 0, 0);
  // The menu's modal loop dispatched messages (timer ticks among them): this menu or its items may be gone now.
  auto stillAlive = alive.lock();
  if (!stillAlive || !*stillAlive || command == 0) return;
  TMenuItem* chosen = items_->FindItem(command);
  if (chosen == nullptr || !chosen->Enabled()) return;
  try {
    chosen->Click();
  } catch (...) {
    // A menu command's failure is shown to the user; the caller (a window procedure) must not see it.
    HandleCallbackException(chosen);
  }
}
