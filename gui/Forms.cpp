#include "gui/Forms.h"

#include <algorithm>
#include <cstdlib>
#include <exception>

namespace {

constexpr const char* kApplicationWindowClass = "TApplication";
constexpr const char* kFormWindowClass = "TForm";
constexpr const char* kMainIconName = "MAINICON";

std::vector<std::function<void()>>& StartupSteps() {
  static std::vector<std::function<void()>> steps;
  return steps;
}

std::vector<std::function<void()>>& ShutdownSteps() {
  static std::vector<std::function<void()>> steps;
  return steps;
}

bool& Initialized() {
  static bool initialized = false;
  return initialized;
}

HICON ProgramIcon() {
  HICON icon = LoadIconA(MainInstance(), kMainIconName);
  return icon != nullptr ? icon : LoadIconA(nullptr, IDI_APPLICATION);
}

void RegisterWindowClass(const char* name, WNDPROC procedure) {
  WNDCLASSA existing = {};
  if (GetClassInfoA(MainInstance(), name, &existing)) return;
  WNDCLASSA wc = {};
  wc.style = CS_DBLCLKS;
  wc.lpfnWndProc = procedure;
  wc.hInstance = MainInstance();
  wc.hIcon = ProgramIcon();
  wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  wc.lpszClassName = name;
  RegisterClassA(&wc);
}

// WM_DPICHANGED, which the headers of older systems lack.
constexpr UINT kDpiChangedMessage = 0x02E0;

// The application object lives from the program's start to its very end. It is never freed: windows and timers can
// still call into it while other objects are being destroyed at exit. Its shutdown runs at exit (or at Halt).
struct TApplicationHolder {
  TApplicationHolder() {
    Application = new TApplication();
    SetCallbackExceptionHandler([](TObject* sender) noexcept { Application->HandleException(sender); });
  }
  ~TApplicationHolder() { Application->Shutdown(); }
};

}  // namespace

TApplication* Application = nullptr;
static TApplicationHolder applicationHolder;

std::string ApplicationTitleFromPath(const std::string& path) {
  std::string name = ExtractFileName(path);
  size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  if (name.size() > 1) {
    CharLowerBuffA(name.data() + 1, static_cast<DWORD>(name.size() - 1));
  }
  return name;
}

std::string ExceptionBoxText(const std::string& message) {
  std::string text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return text;
}

void AddStartupStep(std::function<void()> step) {
  if (Initialized()) {
    step();
    return;
  }
  StartupSteps().push_back(std::move(step));
}

void AddShutdownStep(std::function<void()> step) { ShutdownSteps().push_back(std::move(step)); }

void Halt(int exitCode) {
  Application->Shutdown();
  std::exit(exitCode);
}

// ---- TApplication ----

TApplication::TApplication() : TComponent(nullptr), title_(ApplicationTitleFromPath(ExecutablePath())) {}

TApplication::~TApplication() { Shutdown(); }

HWND TApplication::Handle() {
  if (handle_ == nullptr && !shutDown_) {
    RegisterWindowClass(kApplicationWindowClass, &TApplication::WindowProc);
    // A zero-sized window in the middle of the screen: it exists for its task-bar button and as every form's owner,
    // and shows nothing of its own.
    handle_ = CreateWindowExA(0, kApplicationWindowClass, title_.c_str(),
                              WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                              GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0, 0, nullptr,
                              nullptr, MainInstance(), nullptr);
  }
  return handle_;
}

void TApplication::SetTitle(const std::string& title) {
  title_ = title;
  if (handle_) SetWindowTextA(handle_, title_.c_str());
}

void TApplication::Initialize() {
  if (initialized_) return;
  initialized_ = true;
  Initialized() = true;
  // Taken out first: a step may register another one, which then runs at once.
  std::vector<std::function<void()>> steps = std::move(StartupSteps());
  StartupSteps().clear();
  for (auto& step : steps) step();
}

void TApplication::FormCreated(TForm* form) {
  form->AfterConstruction();
  if (mainForm_ == nullptr) {
    form->Handle();
    mainForm_ = form;
  }
}

void TApplication::Run() {
  if (mainForm_ == nullptr) return;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  GetStartupInfoA(&startup);
  int showCommand = (startup.dwFlags & STARTF_USESHOWWINDOW) ? startup.wShowWindow : SW_SHOWNORMAL;
  try {
    if (showCommand == SW_SHOWMINNOACTIVE) {
      mainForm_->windowState_ = TWindowState::wsMinimized;
    } else if (showCommand == SW_SHOWMAXIMIZED) {
      mainForm_->SetWindowState(TWindowState::wsMaximized);
    }
    if (showMainForm_) {
      if (mainForm_->WindowState() == TWindowState::wsMinimized) {
        Minimize();
      } else {
        mainForm_->SetVisible(true);
      }
    }
  } catch (...) {
    HandleException(this);
  }
  while (!terminated_) {
    try {
      HandleMessage();
    } catch (...) {
      HandleException(this);
    }
  }
}

bool TApplication::ProcessMessage() {
  MSG msg;
  if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return true;
  }
  TranslateMessage(&msg);
  DispatchMessageA(&msg);
  return true;
}

void TApplication::ProcessMessages() {
  // WM_QUIT only marks the application terminated; later messages are still handled, so a nested loop waiting
  // for a timer keeps turning.
  while (ProcessMessage()) {
  }
}

void TApplication::HandleMessage() {
  if (!ProcessMessage()) WaitMessage();
}

void TApplication::Terminate() { PostQuitMessage(0); }

void TApplication::Minimize() {
  HWND window = Handle();
  if (window && !IsIconic(window)) ShowWindow(window, SW_SHOWMINNOACTIVE);
}

void TApplication::HandleException(TObject* /*sender*/) noexcept {
  try {
    if (HWND capture = GetCapture()) SendMessageA(capture, WM_CANCELMODE, 0, 0);
    std::exception_ptr current = std::current_exception();
    if (!current) return;
    try {
      std::rethrow_exception(current);
    } catch (const EAbort&) {
      // The silent exception: nothing to show.
    } catch (const Exception& e) {
      ShowException(e.Message());
    } catch (const std::exception& e) {
      ShowException(e.what());
    } catch (...) {
      ShowException("Unknown exception");
    }
  } catch (...) {
    // Nothing may leave the handler: it runs where the system owns the frames below.
  }
}

void TApplication::ShowException(const std::string& message) {
  MessageBox(ExceptionBoxText(message), title_, MB_OK | MB_ICONSTOP);
}

namespace {
struct TDisabledWindows {
  HWND keep;
  std::vector<HWND> windows;
};

BOOL CALLBACK DisableTaskWindow(HWND window, LPARAM data) {
  auto* list = reinterpret_cast<TDisabledWindows*>(data);
  if (window != list->keep && IsWindowVisible(window) && IsWindowEnabled(window)) {
    list->windows.push_back(window);
    EnableWindow(window, FALSE);
  }
  return TRUE;
}
}  // namespace

int TApplication::MessageBox(const std::string& text, const std::string& caption, UINT flags) {
  HWND owner = Handle();
  TDisabledWindows disabled{owner, {}};
  EnumThreadWindows(GetCurrentThreadId(), &DisableTaskWindow, reinterpret_cast<LPARAM>(&disabled));
  int result = ::MessageBoxA(owner, text.c_str(), caption.c_str(), flags);
  // The box ran a nested message loop: a window disabled above may be gone by now.
  for (HWND window : disabled.windows) {
    if (IsWindow(window)) EnableWindow(window, TRUE);
  }
  return result;
}

void TApplication::UpdateVisible() {
  if (handle_ == nullptr) return;
  bool anyVisible = std::any_of(forms_.begin(), forms_.end(), [](TForm* form) { return form->Visible(); });
  if ((IsWindowVisible(handle_) != FALSE) == anyVisible) return;
  SetWindowPos(
      handle_, nullptr, 0, 0, 0, 0,
      SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | (anyVisible ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

void TApplication::AddForm(TForm* form) { forms_.push_back(form); }

void TApplication::RemoveForm(TForm* form) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
  if (mainForm_ == form) mainForm_ = nullptr;
}

void TApplication::Shutdown() {
  if (shutDown_) return;
  shutDown_ = true;
  if (handle_) ShowOwnedPopups(handle_, FALSE);
  Destroying();
  DestroyComponents();
  std::vector<std::function<void()>> steps = std::move(ShutdownSteps());
  ShutdownSteps().clear();
  for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
    try {
      (*it)();
    } catch (...) {
      // The program is ending; a failing clean-up step must not stop the others.
    }
  }
  if (handle_) {
    DestroyWindow(handle_);
    handle_ = nullptr;
  }
}

LRESULT CALLBACK TApplication::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (Application == nullptr || Application->handle_ != window) return DefWindowProcA(window, msg, wParam, lParam);
  try {
    return Application->WndProc(msg, wParam, lParam);
  } catch (...) {
    Application->HandleException(Application);
    return 0;
  }
}

LRESULT TApplication::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      // Closing the application window means closing the main form.
      if (mainForm_ != nullptr) mainForm_->Close();
      return 0;
    default:
      return DefWindowProcA(handle_, msg, wParam, lParam);
  }
}

// ---- TForm ----

TForm::TForm(TComponent* owner) : TComponent(owner) { Application->AddForm(this); }

TForm::~TForm() {
  Destroying();
  // Components go first, while the window still exists: the tray removes its icon and unhooks from it.
  DestroyComponents();
  if (handle_ != nullptr) {
    HWND window = handle_;
    handle_ = nullptr;
    // Detached before it goes: the destruction messages must not reach a half-destroyed form.
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    DestroyWindow(window);
  }
  bool wasVisible = visible_;
  Application->RemoveForm(this);
  if (wasVisible && !Application->IsDestroying()) Application->UpdateVisible();
}

HWND TForm::Handle() {
  if (handle_ == nullptr) CreateHandle();
  return handle_;
}

void TForm::CreateHandle() {
  RegisterWindowClass(kFormWindowClass, &TForm::WindowProc);
  HWND owner = Application->Handle();
  HWND window = CreateWindowExA(WindowExStyle(), kFormWindowClass, caption_.c_str(), WindowStyle(), left_, top_, width_,
                                height_, owner, nullptr, MainInstance(), this);
  if (window == nullptr) throw EOutOfResources(kSWindowCreate);
  handle_ = window;
  UpdateBoundsFromWindow();
}

DWORD TForm::WindowStyle() const {
  DWORD style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  switch (borderStyle_) {
    case TBorderStyle::bsNone:
      return style | WS_POPUP;
    case TBorderStyle::bsSingle:
      return style | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    case TBorderStyle::bsSizeable:
      return style | WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX;
    case TBorderStyle::bsDialog:
      return style | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    case TBorderStyle::bsToolWindow:
      return style | WS_CAPTION | WS_SYSMENU;
    case TBorderStyle::bsSizeToolWin:
      return style | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
  }
  return style;
}

DWORD TForm::WindowExStyle() const {
  DWORD exStyle = 0;
  if (borderStyle_ == TBorderStyle::bsToolWindow || borderStyle_ == TBorderStyle::bsSizeToolWin) {
    exStyle |= WS_EX_TOOLWINDOW;
  }
  if (borderStyle_ == TBorderStyle::bsDialog) exStyle |= WS_EX_DLGMODALFRAME;
  if (formStyle_ == TFormStyle::fsStayOnTop) exStyle |= WS_EX_TOPMOST;
  return exStyle;
}

SIZE TForm::FrameSize() const {
  if (handle_ != nullptr && !IsIconic(handle_)) {
    RECT window, client;
    GetWindowRect(handle_, &window);
    GetClientRect(handle_, &client);
    return SIZE{(window.right - window.left) - client.right, (window.bottom - window.top) - client.bottom};
  }
  RECT frame = {0, 0, 0, 0};
  AdjustWindowRectEx(&frame, WindowStyle(), FALSE, WindowExStyle());
  return SIZE{frame.right - frame.left, frame.bottom - frame.top};
}

int TForm::ClientWidth() const {
  if (pendingClientWidth_ >= 0) return pendingClientWidth_;
  return width_ - FrameSize().cx;
}

int TForm::ClientHeight() const {
  if (pendingClientHeight_ >= 0) return pendingClientHeight_;
  return height_ - FrameSize().cy;
}

void TForm::SetClientWidth(int width) {
  if (IsLoading()) {
    // The border style may still change while the description is read; the outer size is worked out at the end.
    pendingClientWidth_ = width;
    return;
  }
  SetWidth(width + FrameSize().cx);
}

void TForm::SetClientHeight(int height) {
  if (IsLoading()) {
    pendingClientHeight_ = height;
    return;
  }
  SetHeight(height + FrameSize().cy);
}

void TForm::Loaded() {
  // The description's pixels are those of a 96-dpi screen. On a denser one every place and size grows with it, so
  // the window keeps its designed size to the eye and the system need not stretch it (which would blur it).
  if (ScreenDpi() != kDesignDpi) {
    SetBounds(ScaleToScreen(left_), ScaleToScreen(top_), ScaleToScreen(width_), ScaleToScreen(height_));
    if (pendingClientWidth_ >= 0) pendingClientWidth_ = ScaleToScreen(pendingClientWidth_);
    if (pendingClientHeight_ >= 0) pendingClientHeight_ = ScaleToScreen(pendingClientHeight_);
  }
  TComponent::Loaded();
  int width = pendingClientWidth_;
  int height = pendingClientHeight_;
  pendingClientWidth_ = -1;
  pendingClientHeight_ = -1;
  if (width >= 0) SetClientWidth(width);
  if (height >= 0) SetClientHeight(height);
}

void TForm::SetBounds(int left, int top, int width, int height) {
  if (handle_ != nullptr) {
    SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    // WM_WINDOWPOSCHANGED has stored what the system made of it.
    return;
  }
  bool resized = width != width_ || height != height_;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (resized && OnResize) OnResize(this);
}

void TForm::UpdateBoundsFromWindow() {
  if (handle_ == nullptr || IsIconic(handle_)) return;
  RECT rect;
  GetWindowRect(handle_, &rect);
  bool resized = (rect.right - rect.left) != width_ || (rect.bottom - rect.top) != height_;
  left_ = rect.left;
  top_ = rect.top;
  width_ = rect.right - rect.left;
  height_ = rect.bottom - rect.top;
  if (resized && OnResize) OnResize(this);
}

void TForm::SetCaption(const std::string& caption) {
  caption_ = caption;
  if (handle_ != nullptr) SetWindowTextA(handle_, caption_.c_str());
}

void TForm::SetBorderStyle(TBorderStyle style) {
  if (style == borderStyle_) return;
  borderStyle_ = style;
  ApplyStyle();
}

void TForm::SetFormStyle(TFormStyle style) {
  if (style == formStyle_) return;
  formStyle_ = style;
  ApplyStyle();
}

void TForm::ApplyStyle() {
  if (handle_ == nullptr) return;
  LONG_PTR visibleBit = GetWindowLongPtrA(handle_, GWL_STYLE) & WS_VISIBLE;
  SetWindowLongPtrA(handle_, GWL_STYLE, static_cast<LONG_PTR>(WindowStyle()) | visibleBit);
  SetWindowLongPtrA(handle_, GWL_EXSTYLE, static_cast<LONG_PTR>(WindowExStyle() & ~static_cast<DWORD>(WS_EX_TOPMOST)));
  SetWindowPos(handle_, formStyle_ == TFormStyle::fsStayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

void TForm::SetWindowState(TWindowState state) {
  if (state == windowState_) return;
  windowState_ = state;
  if (handle_ != nullptr && visible_) {
    ShowWindow(handle_, state == TWindowState::wsMaximized   ? SW_SHOWMAXIMIZED
                        : state == TWindowState::wsMinimized ? SW_SHOWMINIMIZED
                                                             : SW_SHOWNORMAL);
  }
}

void TForm::SetColor(TColor color) {
  color_ = color;
  if (handle_ != nullptr) InvalidateRect(handle_, nullptr, TRUE);
}

void TForm::SetVisible(bool visible) {
  if (visible == visible_) return;
  if (inShowHandler_) throw EInvalidOperation(kSVisibleChanged);
  visible_ = visible;
  ShowingChanged();
}

void TForm::ShowingChanged() {
  HWND window = Handle();
  inShowHandler_ = true;
  try {
    if (visible_) {
      DoShow();
    } else {
      DoHide();
    }
  } catch (...) {
    Application->HandleException(this);
  }
  inShowHandler_ = false;
  // The handler may have run a nested message loop. Only the end of the program destroys a form, and that never
  // returns here, so the window is still ours.
  if (visible_) {
    ShowWindow(window, windowState_ == TWindowState::wsMaximized   ? SW_SHOWMAXIMIZED
                       : windowState_ == TWindowState::wsMinimized ? SW_SHOWMINIMIZED
                                                                   : SW_SHOWNORMAL);
  } else {
    ShowWindow(window, SW_HIDE);
  }
  Application->UpdateVisible();
}

void TForm::DoShow() {
  TNotifyEvent handler = OnShow;
  if (handler) handler(this);
}

void TForm::DoHide() {
  TNotifyEvent handler = OnHide;
  if (handler) handler(this);
}

void TForm::Show() {
  SetVisible(true);
  BringToFront();
}

void TForm::Hide() { SetVisible(false); }

void TForm::BringToFront() {
  if (handle_ != nullptr && visible_) SetWindowPos(handle_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

bool TForm::CloseQuery() {
  bool canClose = true;
  TCloseQueryEvent handler = OnCloseQuery;
  if (handler) handler(this, canClose);
  return canClose;
}

void TForm::Close() {
  if (!CloseQuery()) return;
  if (Application->MainForm() == this) {
    Application->Terminate();
  } else {
    Hide();
  }
}

void TForm::AfterConstruction() {
  TNotifyEvent handler = OnCreate;
  if (!handler) return;
  try {
    handler(this);
  } catch (...) {
    Application->HandleException(this);
  }
}

LRESULT CALLBACK TForm::WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
    auto* form = static_cast<TForm*>(create->lpCreateParams);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
    form->handle_ = window;
  }
  auto* self = reinterpret_cast<TForm*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(window, msg, wParam, lParam);
  try {
    return self->WndProc(msg, wParam, lParam);
  } catch (...) {
    Application->HandleException(self);
    return 0;
  }
}

LRESULT TForm::DefaultHandler(UINT msg, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(handle_, msg, wParam, lParam);
}

LRESULT TForm::WndProc(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CLOSE:
      Close();
      return 0;
    case kDpiChangedMessage: {
      // Moved to a monitor of another density (or its setting changed): take the place the system suggests for it.
      const auto* suggested = reinterpret_cast<const RECT*>(lParam);
      SetWindowPos(handle_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_QUERYENDSESSION:
      // A log-off or shut-down asks every window; the form answers as it answers a close.
      return CloseQuery() ? TRUE : FALSE;
    case WM_WINDOWPOSCHANGED: {
      LRESULT result = DefaultHandler(msg, wParam, lParam);
      UpdateBoundsFromWindow();
      return result;
    }
    case WM_NCDESTROY: {
      // Destroyed from outside (its owner went first): forget the window; Handle() makes a new one if asked.
      LRESULT result = DefaultHandler(msg, wParam, lParam);
      SetWindowLongPtrA(handle_, GWLP_USERDATA, 0);
      handle_ = nullptr;
      return result;
    }
    case WM_ERASEBKGND: {
      RECT rect;
      GetClientRect(handle_, &rect);
      HBRUSH brush = CreateSolidBrush(ColorToRGB(color_));
      FillRect(reinterpret_cast<HDC>(wParam), &rect, brush);
      DeleteObject(brush);
      return 1;
    }
    default:
      return DefaultHandler(msg, wParam, lParam);
  }
}
