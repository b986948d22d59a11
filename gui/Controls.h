// Window-framework basics shared by forms, timers and menus: the framework's errors and their texts, the message
// record handed to components, colours, and a small owning holder for a hidden window that turns its messages into
// a callback.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "rtl/SysUtils.h"

// Texts the framework raises. Kept together so a reader finds every message of the window layer in one place.
inline constexpr const char* kSVisibleChanged = "Cannot change Visible in OnShow or OnHide";
inline constexpr const char* kSNoTimers = "Not enough timers available";
inline constexpr const char* kSInvalidIcon = "Icon image is not valid";
inline constexpr const char* kSWindowCreate = "Error creating window";

// An operation that is not allowed in the object's present state.
class EInvalidOperation : public Exception {
 public:
  using Exception::Exception;
};

// The system refused a resource (a timer, a window).
class EOutOfResources : public Exception {
 public:
  using Exception::Exception;
};

// An icon image that cannot be read.
class EInvalidGraphic : public Exception {
 public:
  using Exception::Exception;
};

// A window message as a component's handler sees it. The handler may set Result.
struct TMessage {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

// A colour: an RGB value, or a system colour index with the top bit set.
using TColor = int32_t;
inline constexpr TColor kSystemColorFlag = static_cast<TColor>(0x80000000u);
inline constexpr TColor clBtnFace = kSystemColorFlag | COLOR_BTNFACE;
inline constexpr TColor clWindow = kSystemColorFlag | COLOR_WINDOW;

// The RGB value of a colour, system colours looked up.
COLORREF ColorToRGB(TColor color);

// Reports the exception being handled (call it inside a catch block) that escaped a callback whose frame belongs to
// the system: a window procedure, a timer tick, a menu command. The application object installs its default handler
// here when it is made, so this layer needs nothing above it; before that such an exception is dropped. Never throws.
void HandleCallbackException(TObject* sender) noexcept;
void SetCallbackExceptionHandler(void (*handler)(TObject* sender) noexcept);

// A hidden window that hands every message to a callback: message-only by default, or a hidden top-level tool
// window where the system needs one (a popup menu's owner). Owns the window; the callback runs on the thread that
// created it. No exception may leave the callback: the holder catches any that does and reports it with
// HandleCallbackException, because the frame below belongs to the system.
class TUtilWindow {
 public:
  using THandler = std::function<LRESULT(HWND window, UINT msg, WPARAM wParam, LPARAM lParam)>;

  explicit TUtilWindow(THandler handler, bool messageOnly = true);
  ~TUtilWindow();
  TUtilWindow(const TUtilWindow&) = delete;
  TUtilWindow& operator=(const TUtilWindow&) = delete;

  HWND Handle() const { return handle_; }

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

  HWND handle_ = nullptr;
  THandler handler_;
};

// Forms are designed in pixels of a screen of this many dots per inch.
inline constexpr int kDesignDpi = 96;
// The dots per inch of the primary monitor, where the program's windows appear.
int ScreenDpi();
// A length in designed pixels, in pixels of the primary monitor.
inline int ScaleToScreen(int designPixels) { return MulDiv(designPixels, ScreenDpi(), kDesignDpi); }

// The module instance of the running executable.
HINSTANCE MainInstance();
