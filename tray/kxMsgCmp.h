// A component that receives the window messages of the form that owns it. One shared window procedure is installed
// on the form's window; it hands every message to each component hooked there, in the order they were hooked, and
// then passes it on to the form's own procedure, whose result goes back to the system.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "gui/Controls.h"
#include "gui/Forms.h"
#include "rtl/Classes.h"

class TkxMsgComponent;

// One entry of the hook registry. Entries are appended and never removed; unhooking clears the component.
struct TMsgCmpEntry {
  TkxMsgComponent* Component;
  HWND Window;
  WNDPROC PreviousProc;
};

// The process-wide hook registry, in hooking order. It holds no lock: every hooked window belongs to the GUI thread.
class TMsgCmpList {
 public:
  static TMsgCmpList& Instance();
  ~TMsgCmpList();
  TMsgCmpList(const TMsgCmpList&) = delete;
  TMsgCmpList& operator=(const TMsgCmpList&) = delete;

  int Count() const { return static_cast<int>(entries_.size()); }
  TMsgCmpEntry& Items(int index) { return *entries_.at(static_cast<size_t>(index)); }
  // The index of the first entry for window at or after start, or -1.
  int Find(HWND window, int start = 0) const;
  TMsgCmpEntry& Add(TkxMsgComponent* component, HWND window, WNDPROC previous);
  bool Alive() const { return alive_; }

  // The procedure installed on every hooked window.
  static LRESULT CALLBACK SharedWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  TMsgCmpList() = default;
  std::vector<std::unique_ptr<TMsgCmpEntry>> entries_;
  bool alive_ = true;
};

class TkxMsgComponent : public TComponent {
 public:
  explicit TkxMsgComponent(TComponent* owner);
  ~TkxMsgComponent() override;

  // The form found along the owner chain at construction, or none.
  TForm* Form() const { return form_; }
  // The window hooked for this component; 0 for none.
  HWND Handle() const { return handle_; }
  // Makes the given window the hooked one: unhooks the old one, hooks the new one. While loading it is only stored,
  // and the after-loading call hooks it.
  void SetHandle(HWND window);

  virtual void HookWindow(HWND window);
  virtual void UnhookWindow(HWND window);

  // Hands a message to this component's handler for it; a component without one does nothing.
  virtual void Dispatch(TMessage& message);

 protected:
  void Loaded() override;

 private:
  TForm* form_ = nullptr;
  HWND handle_ = nullptr;
};
