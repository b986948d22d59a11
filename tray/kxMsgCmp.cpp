#include "tray/kxMsgCmp.h"

TMsgCmpList& TMsgCmpList::Instance() {
  static TMsgCmpList list;
  return list;
}

TMsgCmpList::~TMsgCmpList() {
  // The program is ending. Give each window that still carries the shared procedure its own procedure back, so a
  // message arriving after this point (a form destroyed later at exit) never looks for the registry.
  alive_ = false;
  for (const auto& entry : entries_) {
    HWND window = entry->Window;
    if (IsWindow(window) &&
        GetWindowLongPtrA(window, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&TMsgCmpList::SharedWindowProc)) {
      SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(entry->PreviousProc));
    }
  }
}

int TMsgCmpList::Find(HWND window, int start) const {
  for (int i = start < 0 ? 0 : start; i < Count(); ++i) {
    if (entries_[static_cast<size_t>(i)]->Window == window) return i;
  }
  return -1;
}

TMsgCmpEntry& TMsgCmpList::Add(TkxMsgComponent* component, HWND window, WNDPROC previous) {
  entries_.push_back(std::make_unique<TMsgCmpEntry>(TMsgCmpEntry{component, window, previous}));
  return *entries_.back();
}

LRESULT CALLBACK TMsgCmpList::SharedWindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  TMsgCmpList& list = Instance();
  LRESULT result = 0;
  int last = -1;
  // Walked by index and re-read on every step: a handler may run a nested message loop that hooks more windows
  // (the list grows) or destroys a component (its entry is cleared).
  for (int i = list.Find(window); i >= 0; i = list.Find(window, i + 1)) {
    last = i;
    TkxMsgComponent* component = list.Items(i).Component;
    if (component == nullptr || component->IsDestroying()) continue;
    TMessage message{msg, wParam, lParam, result};
    try {
      component->Dispatch(message);
    } catch (...) {
      // The system called us; nothing may travel back into it.
      Application->HandleException(component);
    }
    result = message.Result;
  }
  if (last >= 0) {
    // The previous procedure of the last entry found: all entries of one window share it.
    result = CallWindowProcA(list.Items(last).PreviousProc, window, msg, wParam, lParam);
  }
  return result;
}

namespace {
TForm* FindForm(TComponent* owner) {
  for (TComponent* c = owner; c != nullptr; c = c->Owner()) {
    if (auto* form = dynamic_cast<TForm*>(c)) return form;
  }
  return nullptr;
}
}  // namespace

TkxMsgComponent::TkxMsgComponent(TComponent* owner) : TComponent(owner), form_(FindForm(owner)) {}

TkxMsgComponent::~TkxMsgComponent() {
  if (handle_ != nullptr) UnhookWindow(handle_);
  handle_ = nullptr;
}

void TkxMsgComponent::Loaded() {
  TComponent::Loaded();
  // A window given while loading was only stored; it is hooked now that the description has been read.
  if (handle_ != nullptr) HookWindow(handle_);
}

void TkxMsgComponent::Dispatch(TMessage& /*message*/) {}

void TkxMsgComponent::SetHandle(HWND window) {
  if (window == handle_) return;
  if (IsLoading()) {
    handle_ = window;
    return;
  }
  if (handle_ != nullptr) UnhookWindow(handle_);
  handle_ = window;
  if (handle_ != nullptr) HookWindow(handle_);
}

void TkxMsgComponent::HookWindow(HWND window) {
  TMsgCmpList& list = TMsgCmpList::Instance();
  if (!list.Alive() || window == nullptr) return;
  auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(window, GWLP_WNDPROC));
  int first = list.Find(window);
  // Someone replaced the procedure since we installed ours: start a new chain on top of theirs.
  bool hooked = first >= 0 && current == &TMsgCmpList::SharedWindowProc;
  WNDPROC previous = hooked ? list.Items(first).PreviousProc : current;
  list.Add(this, window, previous);
  if (!hooked) {
    SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TMsgCmpList::SharedWindowProc));
  }
}

void TkxMsgComponent::UnhookWindow(HWND window) {
  TMsgCmpList& list = TMsgCmpList::Instance();
  if (!list.Alive()) return;
  for (int i = list.Find(window); i >= 0; i = list.Find(window, i + 1)) {
    if (list.Items(i).Component == this) {
      list.Items(i).Component = nullptr;
      return;
    }
  }
}
