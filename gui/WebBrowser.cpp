#include "gui/WebBrowser.h"

#include <commctrl.h>
#include <oleauto.h>
#include <urlmon.h>

#include <atomic>

#include "gui/Controls.h"
#include "rtl/SysUtils.h"

namespace {

// Cuts trailing periods and control characters and blanks; the error box appends its own period.
std::string TrimErrorText(std::string text) {
  while (!text.empty() && (static_cast<unsigned char>(text.back()) < 33 || text.back() == '.')) text.pop_back();
  return text;
}

std::string WideToAnsi(const wchar_t* text, int length) {
  if (length <= 0) return std::string();
  int size = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string result(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, length, result.data(), size, nullptr, nullptr);
  return result;
}

std::string SystemMessage(HRESULT code) {
  char buffer[1024];
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                     nullptr, static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
  return std::string(buffer, length);
}

// The page comes from the local disk, whose zone the system trusts more than the web's unless the process asks for
// the lockdown the system's own browser runs with. The setting belongs to the process and lives in urlmon, which
// comes from the system folder only (a urlmon.dll planted beside the program must not be loaded) and stays loaded
// for the life of the process: unloading it would drop the setting. Best effort: the control cannot run without
// urlmon at all, and the site's download-control answer keeps scripts and controls off on its own.
void LockDownLocalMachineZone() {
  static const bool locked = [] {
    auto enable = SystemFunction<decltype(&CoInternetSetFeatureEnabled)>("urlmon.dll", "CoInternetSetFeatureEnabled");
    return enable && SUCCEEDED(enable(FEATURE_LOCALMACHINE_LOCKDOWN, SET_FEATURE_ON_PROCESS, TRUE));
  }();
  (void)locked;
}

// The common controls' subclassing of a window, from the version the program's manifest names (the system's
// side-by-side store gives it) and only once a control is hosted: the library is large, and nothing the program shows
// before its first page needs it.
struct TSubclassing {
  decltype(&SetWindowSubclass) set = nullptr;
  decltype(&RemoveWindowSubclass) remove = nullptr;
  decltype(&DefSubclassProc) callDefault = nullptr;
};

const TSubclassing& Subclassing() {
  static const TSubclassing functions = [] {
    TSubclassing found;
    found.set = SystemFunction<decltype(found.set)>("comctl32.dll", "SetWindowSubclass");
    found.remove = SystemFunction<decltype(found.remove)>("comctl32.dll", "RemoveWindowSubclass");
    found.callDefault = SystemFunction<decltype(found.callDefault)>("comctl32.dll", "DefSubclassProc");
    // All three or none: a window subclassed without the way back out would keep calling into a freed host.
    if (!found.set || !found.remove || !found.callDefault) found = TSubclassing{};
    return found;
  }();
  return functions;
}

// The frame the control may ask for menus, border space and status text. A notification window has none of these,
// so it declines them politely; what matters is that it answers at all.
class TWebBrowserFrame final : public IOleInPlaceFrame {
 public:
  explicit TWebBrowserFrame(HWND window) : window_(window) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceUIWindow) ||
        IsEqualIID(iid, IID_IOleInPlaceFrame)) {
      *object = static_cast<IOleInPlaceFrame*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (!window) return E_POINTER;
    *window = window_;
    return window_ ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(WINBOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
  HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return OLE_E_INVALIDRECT; }
  HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE EnableModeless(WINBOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

 private:
  ~TWebBrowserFrame() = default;

  HWND window_;
  std::atomic<ULONG> references_{1};
};

}  // namespace

// The control's view of its container: where it sits, in which window, that it may activate there, and what a page
// may do (its ambient properties). It points back at its TWebBrowser without owning it; the browser detaches it
// before it goes, because the control may keep a reference to the site for a while after that.
class TWebBrowserSite final : public IOleClientSite, public IOleInPlaceSite, public IDispatch {
 public:
  explicit TWebBrowserSite(TWebBrowser* owner) : owner_(owner) {}
  void Detach() { owner_ = nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite)) {
      *object = static_cast<IOleClientSite*>(this);
    } else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite)) {
      *object = static_cast<IOleInPlaceSite*>(this);
    } else if (IsEqualIID(iid, IID_IDispatch)) {
      *object = static_cast<IDispatch*>(this);
    } else {
      *object = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  // IOleClientSite: the page is never saved and the site holds no other objects.
  HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override {
    if (container) *container = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnShowWindow(WINBOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleWindow and IOleInPlaceSite.
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override {
    if (!window) return E_POINTER;
    *window = owner_ ? owner_->parent_ : nullptr;
    return *window ? S_OK : E_FAIL;
  }
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(WINBOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return owner_ && owner_->parent_ ? S_OK : S_FALSE; }
  HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                             LPRECT clip, LPOLEINPLACEFRAMEINFO frameInfo) override {
    if (!frame || !document || !position || !clip || !frameInfo) return E_POINTER;
    *document = nullptr;
    if (!owner_ || !owner_->parent_) {
      *frame = nullptr;
      return E_FAIL;
    }
    HWND topLevel = GetAncestor(owner_->parent_, GA_ROOT);
    *frame = new TWebBrowserFrame(topLevel ? topLevel : owner_->parent_);
    *position = owner_->bounds_;
    *clip = owner_->bounds_;
    frameInfo->fMDIApp = FALSE;
    frameInfo->hwndFrame = topLevel;
    frameInfo->haccel = nullptr;
    frameInfo->cAccelEntries = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE OnUIDeactivate(WINBOOL) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT position) override {
    // The control asks for a size of its own; the container decides, so it gets its bounds back.
    if (owner_ && position) owner_->ApplyBounds();
    return S_OK;
  }

  // IDispatch: the ambient properties. The control asks for the download control before it loads a page; every
  // other property keeps the control's own default.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                   UINT*) override {
    if (id != DISPID_AMBIENT_DLCONTROL || !(flags & DISPATCH_PROPERTYGET)) return DISP_E_MEMBERNOTFOUND;
    if (!result) return E_POINTER;
    VariantInit(result);
    V_VT(result) = VT_I4;
    V_I4(result) = kInertPageDownloadControl;
    return S_OK;
  }

 private:
  ~TWebBrowserSite() = default;

  TWebBrowser* owner_;
  std::atomic<ULONG> references_{1};
};

TBStr::TBStr(const std::wstring& text) : str_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
  if (!str_) throw EOleSysError("Out of memory", E_OUTOFMEMORY);
}

TBStr::~TBStr() { SysFreeString(str_); }

BSTR* TBStr::Put() {
  SysFreeString(str_);
  str_ = nullptr;
  return &str_;
}

std::string OleErrorMessage(HRESULT code, IErrorInfo* errorInfo) {
  std::string message;
  if (errorInfo) {
    TBStr description;
    if (SUCCEEDED(errorInfo->GetDescription(description.Put())) && description.Get()) {
      message = TrimErrorText(WideToAnsi(description.Get(), static_cast<int>(SysStringLen(description.Get()))));
    }
  }
  if (message.empty()) message = TrimErrorText(SystemMessage(code));
  if (message.empty()) message = Format("OLE error %.8x", static_cast<unsigned>(code));
  return message;
}

void OleCheck(HRESULT code) {
  if (SUCCEEDED(code)) return;
  TComPtr<IErrorInfo> errorInfo;
  // S_FALSE leaves it empty: the object set no description.
  GetErrorInfo(0, errorInfo.Put());
  throw EOleSysError(OleErrorMessage(code, errorInfo.Get()), code);
}

std::wstring AnsiToWide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring result(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
  return result;
}

// Receives the control's events. Only the new-window request and the end of a page's loading matter here; every
// other event is taken and ignored. The control may call it after the host went, so it forgets its owner then.
class TWebBrowserEvents final : public IDispatch {
 public:
  explicit TWebBrowserEvents(TWebBrowser* owner) : owner_(owner) {}
  void Detach() { owner_ = nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (!object) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, kWebBrowserEvents2Id)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count) *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }

  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    // This frame belongs to the control: nothing may leave it.
    VARIANT_BOOL* cancelFlag = nullptr;
    bool cancelled = false;
    try {
      if (owner_ == nullptr) return S_OK;
      if (id == kDispIdDocumentComplete) owner_->ApplyZoom();
      // The arguments come last first: the address, its context, the flags, the cancel flag, the new window.
      if (id == kDispIdNewWindow3 && params != nullptr && params->cArgs == 5 && owner_->OnNewWindow) {
        VARIANT& url = params->rgvarg[0];
        VARIANT& cancel = params->rgvarg[3];
        if (V_VT(&cancel) != (VT_BOOL | VT_BYREF)) return S_OK;
        cancelFlag = V_BOOLREF(&cancel);
        // An address in another form reaches the handler as none, which it can refuse like any other.
        std::wstring address;
        if (V_VT(&url) == VT_BSTR && V_BSTR(&url)) address.assign(V_BSTR(&url), SysStringLen(V_BSTR(&url)));
        owner_->OnNewWindow(owner_, address, cancelled);
      }
    } catch (...) {
      HandleCallbackException(owner_);
    }
    // Also after a handler that failed: a cancel it set before failing still keeps the control from the window.
    if (cancelFlag && cancelled) *cancelFlag = VARIANT_TRUE;
    return S_OK;
  }

 private:
  TWebBrowser* owner_;
  std::atomic<ULONG> references_{1};
};

TWebBrowser::TWebBrowser(TComponent* owner) : TComponent(owner), navigateCall_(&TWebBrowser::DirectNavigateCall) {}

TWebBrowser::~TWebBrowser() {
  if (oleObject_) {
    Deactivate();
    oleObject_->Close(OLECLOSE_NOSAVE);
    oleObject_->SetClientSite(nullptr);
  }
  if (eventSource_) eventSource_->Unadvise(eventCookie_);
  eventSource_.Reset();
  if (events_) events_->Detach();
  events_.Reset();
  browser_.Reset();
  inPlaceObject_.Reset();
  oleObject_.Reset();
  // The control may still hold the site; it must no longer reach this object.
  if (site_) site_->Detach();
  site_.Reset();
}

void TWebBrowser::CreateControl() {
  if (oleObject_) return;
  LockDownLocalMachineZone();
  TComPtr<IOleObject> object;
  OleCheck(CoCreateInstance(kWebBrowserClassId, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                            reinterpret_cast<void**>(object.Put())));
  TComPtr<TWebBrowserSite> site(new TWebBrowserSite(this));
  HRESULT result = object->SetClientSite(static_cast<IOleClientSite*>(site.Get()));
  if (FAILED(result)) {
    site->Detach();
    OleCheck(result);
  }
  OleSetContainedObject(object.Get(), TRUE);
  oleObject_ = std::move(object);
  site_ = std::move(site);
  // Events are a help, not a need: a control that offers none still shows pages.
  events_ = TComPtr<TWebBrowserEvents>(new TWebBrowserEvents(this));
  TComPtr<IConnectionPointContainer> sources = oleObject_.As<IConnectionPointContainer>(IID_IConnectionPointContainer);
  TComPtr<IConnectionPoint> source;
  if (sources && SUCCEEDED(sources->FindConnectionPoint(kWebBrowserEvents2Id, source.Put())) &&
      SUCCEEDED(source->Advise(static_cast<IDispatch*>(events_.Get()), &eventCookie_))) {
    eventSource_ = std::move(source);
  }
}

IDispatch* TWebBrowser::EventSink() const { return events_.Get(); }

void TWebBrowser::ApplyZoom() {
  if (zoom_ == 100 || !browser_) return;
  VARIANT percent;
  VariantInit(&percent);
  V_VT(&percent) = VT_I4;
  V_I4(&percent) = zoom_;
  browser_->ExecWB(static_cast<OLECMDID>(kOleCmdIdOpticalZoom), OLECMDEXECOPT_DONTPROMPTUSER, &percent, nullptr);
}

void TWebBrowser::Activate() {
  if (active_ || !parent_) return;
  CreateControl();
  if (alignClient_) GetClientRect(parent_, &bounds_);
  OleCheck(oleObject_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(site_.Get()), 0, parent_,
                              &bounds_));
  active_ = true;
  // The control's window follows the parent's client area. A subclass, unlike a replaced window procedure, stays
  // correct whatever else hooks the same window.
  // Without the common controls the control keeps the bounds it has: it is still shown, only not resized.
  if (Subclassing().set) {
    Subclassing().set(parent_, &TWebBrowser::ParentSubclassProc, kParentSubclassId, reinterpret_cast<DWORD_PTR>(this));
  }
  TComPtr<IOleInPlaceObject> inPlace;
  if (SUCCEEDED(oleObject_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(inPlace.Put())))) {
    inPlaceObject_ = std::move(inPlace);
  }
  ApplyBounds();
}

void TWebBrowser::Deactivate() {
  if (!active_) return;
  active_ = false;
  if (Subclassing().remove) Subclassing().remove(parent_, &TWebBrowser::ParentSubclassProc, kParentSubclassId);
  if (inPlaceObject_) inPlaceObject_->InPlaceDeactivate();
  inPlaceObject_.Reset();
}

void TWebBrowser::SetParentWindow(HWND parent) {
  if (parent == parent_) return;
  Deactivate();
  parent_ = parent;
  Activate();
}

void TWebBrowser::SetBounds(int left, int top, int width, int height) {
  bounds_ = {left, top, left + width, top + height};
  ApplyBounds();
}

void TWebBrowser::SetAlignClient(bool alignClient) {
  alignClient_ = alignClient;
  FitToParent();
}

void TWebBrowser::FitToParent() {
  if (!alignClient_ || !parent_) return;
  RECT client;
  if (!GetClientRect(parent_, &client)) return;
  bounds_ = client;
  ApplyBounds();
}

LRESULT CALLBACK TWebBrowser::ParentSubclassProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                 DWORD_PTR data) {
  LRESULT result = Subclassing().callDefault(window, msg, wParam, lParam);
  // Nothing here may throw: this frame belongs to the system.
  if (msg == WM_SIZE) reinterpret_cast<TWebBrowser*>(data)->FitToParent();
  return result;
}

void TWebBrowser::ApplyBounds() {
  if (inPlaceObject_) inPlaceObject_->SetObjectRects(&bounds_, &bounds_);
}

HWND TWebBrowser::ControlWindow() const {
  HWND window = nullptr;
  if (inPlaceObject_ && SUCCEEDED(inPlaceObject_->GetWindow(&window))) return window;
  return nullptr;
}

IWebBrowser2* TWebBrowser::ControlInterface() {
  if (!browser_) {
    CreateControl();
    TComPtr<IWebBrowser2> browser;
    OleCheck(oleObject_->QueryInterface(kWebBrowser2InterfaceId, reinterpret_cast<void**>(browser.Put())));
    browser_ = std::move(browser);
  }
  return browser_.Get();
}

HRESULT TWebBrowser::DirectNavigateCall(IWebBrowser2* control, BSTR url, VARIANT* flags, VARIANT* targetFrameName,
                                        VARIANT* postData, VARIANT* headers) {
  return control->Navigate(url, flags, targetFrameName, postData, headers);
}

void TWebBrowser::SetNavigateCall(TNavigateCall call) {
  navigateCall_ = call ? std::move(call) : TNavigateCall(&TWebBrowser::DirectNavigateCall);
}

void TWebBrowser::Navigate(const std::wstring& URL, int Flags) {
  IWebBrowser2* control = ControlInterface();
  TBStr url(URL);
  VARIANT flags;
  VariantInit(&flags);
  V_VT(&flags) = VT_I4;
  V_I4(&flags) = Flags;
  // Empty variants are the control's marker for an argument left out.
  VARIANT targetFrameName, postData, headers;
  VariantInit(&targetFrameName);
  VariantInit(&postData);
  VariantInit(&headers);
  // A description left over from an earlier failure must not be taken for this call's.
  SetErrorInfo(0, nullptr);
  OleCheck(navigateCall_(control, url.Get(), &flags, &targetFrameName, &postData, &headers));
}

std::wstring TWebBrowser::LocationURL() {
  IWebBrowser2* control = ControlInterface();
  TBStr location;
  SetErrorInfo(0, nullptr);
  OleCheck(control->get_LocationURL(location.Put()));
  return location.Text();
}
