// The host of the system's web-browser control: one instance of the control, activated in place inside a parent
// window whose client area it fills, reached through IWebBrowser2 for navigation. The client site, in-place site and
// frame that the control talks back to are this unit's own small COM objects.
#pragma once

#include <windows.h>
// After windows.h, which they build on.
#include <exdisp.h>
#include <mshtmdid.h>
#include <ocidl.h>
#include <oleidl.h>

#include <functional>
#include <string>
#include <utility>

#include "gui/ComPtr.h"
#include "rtl/Classes.h"
#include "rtl/SysUtils.h"

// A BSTR that owns its storage.
class TBStr {
 public:
  TBStr() = default;
  explicit TBStr(const std::wstring& text);
  ~TBStr();
  TBStr(const TBStr&) = delete;
  TBStr& operator=(const TBStr&) = delete;

  BSTR Get() const { return str_; }
  BSTR* Put();
  std::wstring Text() const { return str_ ? std::wstring(str_, SysStringLen(str_)) : std::wstring(); }

 private:
  BSTR str_ = nullptr;
};

// A failed call into a COM object. ErrorCode is the object's result code.
class EOleError : public Exception {
 public:
  using Exception::Exception;
};
class EOleSysError : public EOleError {
 public:
  EOleSysError(std::string message, HRESULT errorCode) : EOleError(std::move(message)), errorCode_(errorCode) {}
  HRESULT ErrorCode() const { return errorCode_; }

 private:
  HRESULT errorCode_;
};

// The message for a failed COM call: the description the object supplied, else the system's text for the code,
// else "OLE error %.8x". Trailing periods and characters below code 33 are cut from the texts, because the error
// box adds its own period.
std::string OleErrorMessage(HRESULT code, IErrorInfo* errorInfo);

// Raises EOleSysError for a failure code, taking the description from the thread's error object if there is one.
void OleCheck(HRESULT code);

// A text in the system's ANSI code page as a wide string.
std::wstring AnsiToWide(const std::string& text);

// Class of the system's web-browser control and its automation interface.
inline constexpr GUID kWebBrowserClassId = {
    0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};
inline constexpr GUID kWebBrowser2InterfaceId = {
    0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

// Navigation flags of the control.
inline constexpr int kNavNoHistory = 2;
inline constexpr int kNavNoReadFromCache = 4;
inline constexpr int kNavNoWriteToCache = 8;

// The control's event interface, and the two events a host here answers.
inline constexpr GUID kWebBrowserEvents2Id = {
    0x34A715A0, 0x6587, 0x11D0, {0x92, 0x4A, 0x00, 0x20, 0xAF, 0xC7, 0xAC, 0x4D}};
inline constexpr DISPID kDispIdDocumentComplete = 259;
inline constexpr DISPID kDispIdNewWindow3 = 273;
// What the control may do with a page, as the host answers its ambient download-control property: the page's own
// images (its background) and nothing that runs or reaches further: no script, Java or ActiveX control (neither run
// nor fetched), no behaviour, no frame fetched, no client pull, and no dialog of its own.
inline constexpr LONG kInertPageDownloadControl =
    DLCTL_DLIMAGES | DLCTL_NO_SCRIPTS | DLCTL_NO_JAVA | DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_DLACTIVEXCTLS |
    DLCTL_NO_BEHAVIORS | DLCTL_NO_FRAMEDOWNLOAD | DLCTL_NO_CLIENTPULL | DLCTL_SILENT;

// The control's command for the zoom of the whole page (text and images alike), in percent.
inline constexpr int kOleCmdIdOpticalZoom = 63;

class TWebBrowserSite;
class TWebBrowserEvents;

// Making the control (at the first window set or interface asked for) first turns on, once for the whole process,
// the lockdown that the system's own browser gives pages from the local disk.
class TWebBrowser : public TComponent {
 public:
  // The single call into the control's Navigate. Every navigation goes through it; a test can put a function here
  // that watches the arguments on their way to the control.
  using TNavigateCall = std::function<HRESULT(IWebBrowser2* control, BSTR url, VARIANT* flags, VARIANT* targetFrameName,
                                              VARIANT* postData, VARIANT* headers)>;

  explicit TWebBrowser(TComponent* owner);
  ~TWebBrowser() override;

  // The window the control lives in. Setting a window creates the control (once) and activates it in place there;
  // setting none deactivates it. Raises EOleSysError when the control cannot be created or activated.
  HWND ParentWindow() const { return parent_; }
  void SetParentWindow(HWND parent);

  // Position and size inside the parent's client area. While AlignClient is on (the default) the control fills the
  // client area and follows it when the parent changes size; FitToParent re-reads it.
  int Left() const { return bounds_.left; }
  int Top() const { return bounds_.top; }
  int Width() const { return bounds_.right - bounds_.left; }
  int Height() const { return bounds_.bottom - bounds_.top; }
  void SetBounds(int left, int top, int width, int height);
  bool AlignClient() const { return alignClient_; }
  void SetAlignClient(bool alignClient);
  void FitToParent();

  int TabOrder() const { return tabOrder_; }
  void SetTabOrder(int tabOrder) { tabOrder_ = tabOrder; }

  // The control's automation interface, obtained the first time it is asked for. Raises EOleSysError when the
  // control cannot be created or does not offer it.
  IWebBrowser2* ControlInterface();
  // The control's own window, or null while it is not active in place.
  HWND ControlWindow() const;

  // Starts loading the given address or file path with the given navigation flags; target frame, post data and
  // headers are left out. Returns once the control has accepted it. A refusal raises EOleSysError.
  void Navigate(const std::wstring& URL, int Flags);
  // The address of the page the control shows or is loading.
  std::wstring LocationURL();

  // The control asks for a window of its own for a link (the page's links each name a window of their own). With a
  // handler the handler decides; setting cancel keeps the control from opening that window itself. Runs on the
  // GUI thread from the control's event; an exception leaving it goes to the default handler.
  std::function<void(TObject* sender, const std::wstring& url, bool& cancel)> OnNewWindow;

  // The zoom every page gets once it has loaded, in percent (100, the default: as the page is drawn).
  int Zoom() const { return zoom_; }
  void SetZoom(int percent) { zoom_ = percent; }

  // The object the control reports its events to (DWebBrowserEvents2), connected when the control is made.
  IDispatch* EventSink() const;
  // Whether the control took the sink (a control may offer no events).
  bool EventsConnected() const { return static_cast<bool>(eventSource_); }

  void SetNavigateCall(TNavigateCall call);
  static HRESULT DirectNavigateCall(IWebBrowser2* control, BSTR url, VARIANT* flags, VARIANT* targetFrameName,
                                    VARIANT* postData, VARIANT* headers);

 private:
  friend class TWebBrowserSite;
  friend class TWebBrowserEvents;

  void CreateControl();
  void Activate();
  void Deactivate();
  void ApplyBounds();
  void ApplyZoom();
  static LRESULT CALLBACK ParentSubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                             DWORD_PTR data);
  static constexpr UINT_PTR kParentSubclassId = 0x57420001;

  HWND parent_ = nullptr;
  RECT bounds_ = {0, 0, 0, 0};
  bool alignClient_ = true;
  int tabOrder_ = 0;
  bool active_ = false;
  int zoom_ = 100;
  TComPtr<TWebBrowserSite> site_;
  TComPtr<TWebBrowserEvents> events_;
  TComPtr<IConnectionPoint> eventSource_;
  DWORD eventCookie_ = 0;
  TComPtr<IOleObject> oleObject_;
  TComPtr<IOleInPlaceObject> inPlaceObject_;
  TComPtr<IWebBrowser2> browser_;
  TNavigateCall navigateCall_;
};
