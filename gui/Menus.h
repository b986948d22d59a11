// Popup menus and their items. A menu is built from its items each time it opens; the chosen item's click handler
// runs after the menu has closed.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "rtl/Classes.h"

class TPopupMenu;

// One entry of a menu. The caption "-" makes a separator line. An item is a component (owned by its form) and a
// child of the item it was added to; destroying it takes it out of its parent, and destroying a parent destroys
// the items still in it.
class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* owner);
  ~TMenuItem() override;

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption) { caption_ = caption; }
  bool IsLine() const { return caption_ == "-"; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled) { enabled_ = enabled; }
  bool Visible() const { return visible_; }
  void SetVisible(bool visible) { visible_ = visible; }

  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int index) const { return items_.at(static_cast<size_t>(index)); }
  TMenuItem* Parent() const { return parent_; }
  // Appends item as the last child (taking it out of any other parent first).
  void Add(TMenuItem* item);
  void Remove(TMenuItem* item);

  // Runs OnClick.
  virtual void Click();
  TNotifyEvent OnClick;

  // The identifier this item carries in a built menu; unique in the process.
  UINT Command() const { return command_; }
  // Finds the item with the given identifier among this item and its descendants.
  TMenuItem* FindItem(UINT command);

 private:
  std::string caption_;
  bool enabled_ = true;
  bool visible_ = true;
  TMenuItem* parent_ = nullptr;
  std::vector<TMenuItem*> items_;
  UINT command_;
};

class TPopupMenu : public TComponent {
 public:
  explicit TPopupMenu(TComponent* owner);
  ~TPopupMenu() override;

  // The root item; the menu's entries are its children.
  TMenuItem* Items() const { return items_; }

  bool AutoPopup() const { return autoPopup_; }
  void SetAutoPopup(bool autoPopup) { autoPopup_ = autoPopup; }
  // The component that last opened the menu; cleared when that component is destroyed.
  TComponent* PopupComponent() const { return popupComponent_; }
  void SetPopupComponent(TComponent* component);

  // Shows the menu at a screen point and returns when it has closed; the chosen item's click handler runs then.
  // An exception leaving that handler is reported by the default handler. Runs a nested message loop: this menu,
  // its items and whatever the caller holds may be gone when it returns.
  virtual void Popup(int x, int y);

  // Called before the menu opens.
  TNotifyEvent OnPopup;

  // The window that owns the open menu and receives its messages; 0 until the menu first opens.
  HWND WindowHandle() const;

 protected:
  void Notification(TComponent* component, TOperation operation) override;

 private:
  TMenuItem* items_;  // owned: destroyed with the menu
  bool autoPopup_ = true;
  TComponent* popupComponent_ = nullptr;
  std::shared_ptr<bool> alive_;
  std::unique_ptr<class TUtilWindow> window_;
};
