#include "gui/Controls.h"

#include "rtl/SysUtils.h"

namespace {

constexpr const char* kUtilWindowClass = "TPUtilWindow";

void RegisterUtilWindowClass() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSA wc = {};
  wc.lpfnWndProc = DefWindowProcA;
  wc.hInstance = MainInstance();
  wc.lpszClassName = kUtilWindowClass;
  RegisterClassA(&wc);
  registered = true;
}

}  // namespace

HINSTANCE MainInstance() { return GetModuleHandleA(nullptr); }

COLORREF ColorToRGB(TColor color) {
  if (color & kSystemColorFlag) return GetSysColor(color & 0xFF);
  return static_cast<COLORREF>(color);
}

TUtilWindow::TUtilWindow(THandler handler, bool messageOnly) : handler_(std::move(handler)) {
  RegisterUtilWindowClass();
  handle_ = CreateWindowExA(messageOnly ? 0 : WS_EX_TOOLWINDOW, kUtilWindowClass, "", WS_POPUP, 0, 0, 0, 0,
                            messageOnly ? HWND_MESSAGE : nullptr, nullptr, MainInstance(), nullptr);
  if (handle_ == nullptr) throw EOutOfResources(kSWindowCreate);
  SetWindowLongPtrA(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&TUtilWindow::WindowProc));
}

TUtilWindow::~TUtilWindow() {
  // Detach first: destroying the window sends it messages, and this object is half gone.
  SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
  SetWindowLongPtrA(handle_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DefWindowProcA));
  DestroyWindow(handle_);
}

namespace {
void (*callbackExceptionHandler)(TObject*) noexcept = nullptr;
}  // namespace

int ScreenDpi() {
  // The monitor's own value where the system has one (Windows 8.1 on); before that the one value of the system.
  using TGetDpiForMonitor = HRESULT(WINAPI*)(HMONITOR monitor, int kind, UINT* x, UINT* y);
  // Before Windows 8.1 there is no such library, and a bare name would take one from the program's folder.
  static const auto getDpiForMonitor = SystemFunction<TGetDpiForMonitor>("shcore.dll", "GetDpiForMonitor");
  UINT x = 0, y = 0;
  if (getDpiForMonitor != nullptr &&
      SUCCEEDED(getDpiForMonitor(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), 0, &x, &y)) && x > 0) {
    return static_cast<int>(x);
  }
  struct TScreenDC {
    HDC dc = GetDC(nullptr);
    ~TScreenDC() { ReleaseDC(nullptr, dc); }
  } screen;
  int dpi = GetDeviceCaps(screen.dc, LOGPIXELSX);
  return dpi > 0 ? dpi : kDesignDpi;
}

void SetCallbackExceptionHandler(void (*handler)(TObject* sender) noexcept) { callbackExceptionHandler = handler; }

void HandleCallbackException(TObject* sender) noexcept {
  if (callbackExceptionHandler != nullptr) callbackExceptionHandler(sender);
}

LRESULT CALLBACK TUtilWindow::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<TUtilWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr || !self->handler_) return DefWindowProcA(window, msg, wParam, lParam);
  try {
    return self->handler_(window, msg, wParam, lParam);
  } catch (...) {
    HandleCallbackException(nullptr);
    return 0;
  }
}
