// The application object and forms: the hidden application window that owns every form and carries the task-bar
// button, start-up steps, form creation, the message loop and its nested runs, the default exception handler with
// its message box, the end-at-once shutdown, and top-level windows built from their form descriptions.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/Controls.h"
#include "gui/Graphics.h"
#include "rtl/Classes.h"
#include "rtl/SysUtils.h"

class TForm;

// A close query: the handler may clear canClose to refuse the close.
using TCloseQueryEvent = std::function<void(TObject* sender, bool& canClose)>;

enum class TBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum class TFormStyle { fsNormal, fsStayOnTop };
enum class TWindowState { wsNormal, wsMinimized, wsMaximized };

// The application title for an executable path: the file name without its directory, cut at its first "." and with
// every character after the first lowercased in the system code page ("C:\x\BRASKO.EXE" gives "Brasko").
std::string ApplicationTitleFromPath(const std::string& path);

// The text the default exception handler shows for a message: a "." is appended when the message is not empty and
// its last byte sorts after "." (code above 46), so "failed" gets one and "failed.", "(x)" and "stop!" do not.
std::string ExceptionBoxText(const std::string& message);

// Registers a step that Initialize runs, in registration order. Units register theirs while the program starts,
// before main runs; a step registered after Initialize runs at once.
void AddStartupStep(std::function<void()> step);
// Registers a step that the shutdown runs after every form and component is gone, last registered first.
void AddShutdownStep(std::function<void()> step);

class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;

  // The hidden application window, created on first use. It owns every form window.
  HWND Handle();
  bool HandleAllocated() const { return handle_ != nullptr; }

  // Derived from the executable's name; the program never changes it.
  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title);

  // Runs the registered start-up steps (once).
  void Initialize();

  // Creates a form owned by the application and stores it in reference before its create handler runs. The first
  // form created this way becomes the main form; its window is created at once.
  template <class T>
  void CreateForm(T*& reference) {
    T* form = new T(this);
    reference = form;
    FormCreated(form);
  }

  TForm* MainForm() const { return mainForm_; }
  bool ShowMainForm() const { return showMainForm_; }
  void SetShowMainForm(bool show) { showMainForm_ = show; }

  // Shows the main form as the program was asked to start (normal, maximised, or the application minimised
  // without activation), then runs the message loop until Terminate. An exception that reaches the loop is
  // reported by HandleException and the loop goes on.
  void Run();
  // Handles every pending message, then returns. A nested message loop: any handler may run inside it, including
  // the caller's own; re-read whatever you rely on afterwards.
  void ProcessMessages();
  // Waits for one message and handles it.
  void HandleMessage();
  // Ends the message loop of Run.
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Minimises the application window without activating it.
  void Minimize();

  // The default exception handler, for use inside a catch block: cancels the mouse capture, shows nothing for
  // EAbort, and otherwise shows the exception's message in a message box. Never throws.
  void HandleException(TObject* sender) noexcept;
  // The error box: ExceptionBoxText(message), captioned with the title, OK and the stop icon, owned by the
  // application window. Runs a nested message loop until OK is pressed.
  void ShowException(const std::string& message);
  // A message box owned by the application window while the program's other windows are disabled. Runs a nested
  // message loop.
  int MessageBox(const std::string& text, const std::string& caption, UINT flags);

  // Shows the application window while any form is visible and hides it otherwise.
  void UpdateVisible();

  // Every live form, in creation order.
  int FormCount() const { return static_cast<int>(forms_.size()); }
  TForm* Forms(int index) const { return forms_.at(static_cast<size_t>(index)); }

  // The shutdown: owned pop-ups hidden, every form and component destroyed, the shutdown steps run, the
  // application window destroyed. Runs once; later calls do nothing.
  void Shutdown();

 private:
  friend class TForm;
  static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
  void FormCreated(TForm* form);
  bool ProcessMessage();
  void AddForm(TForm* form);
  void RemoveForm(TForm* form);

  HWND handle_ = nullptr;
  std::string title_;
  TForm* mainForm_ = nullptr;
  bool showMainForm_ = true;
  bool initialized_ = false;
  bool terminated_ = false;
  bool shutDown_ = false;
  std::vector<TForm*> forms_;
};

// The one application object of the program.
extern TApplication* Application;

// Ends the program at once with the given exit code, from wherever it is called, even from inside a nested message
// loop: runs the application's shutdown and exits without returning into the frames below, which may belong to
// objects that no longer exist.
[[noreturn]] void Halt(int exitCode);

// A top-level window owned by the application window. Its window is created on demand (Handle). A form built from a
// form description sets its values between BeginLoading and EndLoading in its constructor; the client size is
// applied once loading ends, with the final border style.
class TForm : public TComponent {
 public:
  explicit TForm(TComponent* owner);
  ~TForm() override;

  HWND Handle();
  bool HandleAllocated() const { return handle_ != nullptr; }

  // Outer position and size, in screen pixels.
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int left) { SetBounds(left, top_, width_, height_); }
  void SetTop(int top) { SetBounds(left_, top, width_, height_); }
  void SetWidth(int width) { SetBounds(left_, top_, width, height_); }
  void SetHeight(int height) { SetBounds(left_, top_, width_, height); }
  void SetBounds(int left, int top, int width, int height);
  int ClientWidth() const;
  int ClientHeight() const;
  void SetClientWidth(int width);
  void SetClientHeight(int height);

  const std::string& Caption() const { return caption_; }
  void SetCaption(const std::string& caption);
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle style);
  TFormStyle FormStyle() const { return formStyle_; }
  void SetFormStyle(TFormStyle style);
  TWindowState WindowState() const { return windowState_; }
  void SetWindowState(TWindowState state);
  TColor Color() const { return color_; }
  void SetColor(TColor color);
  TFont& Font() { return font_; }

  // Visibility. Changing it runs OnShow before the window is put on the screen (and activated) or OnHide before it
  // is taken off. A change requested while OnShow or OnHide runs is refused with EInvalidOperation
  // "Cannot change Visible in OnShow or OnHide" and changes nothing; asking for the value the form already has
  // is never refused. An exception leaving OnShow or OnHide is reported by the default handler and the change
  // still completes.
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  // Visible, then brought to the front.
  void Show();
  void Hide();
  void BringToFront();
  // The close request: asks CloseQuery; when the form agrees, the main form ends the application and any other
  // form is hidden.
  void Close();
  // Runs OnCloseQuery; true when the form may close.
  bool CloseQuery();

  // Runs the create handler. CreateForm calls it once the constructor has finished.
  void AfterConstruction();

  TNotifyEvent OnCreate;
  TNotifyEvent OnShow;
  TNotifyEvent OnHide;
  // After the outer or client size changed.
  TNotifyEvent OnResize;
  TCloseQueryEvent OnCloseQuery;

 protected:
  void Loaded() override;
  virtual void DoShow();
  virtual void DoHide();
  // The form's own window procedure. Anything hooked on the window (see the tray) sees a message before it.
  virtual LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam);
  LRESULT DefaultHandler(UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  friend class TApplication;
  static LRESULT CALLBACK WindowProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
  void CreateHandle();
  DWORD WindowStyle() const;
  DWORD WindowExStyle() const;
  // Outer size minus client size for the current style.
  SIZE FrameSize() const;
  void UpdateBoundsFromWindow();
  void ApplyStyle();
  void ShowingChanged();

  HWND handle_ = nullptr;
  int left_ = 0;
  int top_ = 0;
  int width_ = 320;
  int height_ = 240;
  int pendingClientWidth_ = -1;
  int pendingClientHeight_ = -1;
  std::string caption_;
  TBorderStyle borderStyle_ = TBorderStyle::bsSizeable;
  TFormStyle formStyle_ = TFormStyle::fsNormal;
  TWindowState windowState_ = TWindowState::wsNormal;
  TColor color_ = clBtnFace;
  TFont font_;
  bool visible_ = false;
  bool inShowHandler_ = false;
};
