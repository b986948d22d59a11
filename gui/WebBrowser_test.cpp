// The browser control host against the system's real control, in a plain top-level window of the test's own.

#include "gui/WebBrowser.h"

#include <gtest/gtest.h>
#include <idispids.h>
#include <olectl.h>
#include <urlmon.h>

#include <fstream>
#include <memory>
#include <vector>

#include "testing/TestSupport.h"
#include "testing/WinTestUtils.h"

using testing_win::WindowRect;

namespace {

// A window's client area in screen coordinates.
RECT ClientOnScreen(HWND window) {
  RECT client;
  GetClientRect(window, &client);
  MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&client), 2);
  return client;
}

// Calls an event sink of the browser control as the control does when a link asks for a new window; returns the
// cancel flag the sink left.
bool RaiseNewWindow3(IDispatch* sink, const std::wstring& url) {
  VARIANT_BOOL cancel = VARIANT_FALSE;
  IDispatch* newWindow = nullptr;
  BSTR address = SysAllocString(url.c_str());
  BSTR context = SysAllocString(L"file:///C:/htmlAll.html");
  VARIANTARG args[5];
  for (VARIANTARG& arg : args) VariantInit(&arg);
  // Last argument first: the address, its context, the flags, the cancel flag, the new window.
  V_VT(&args[0]) = VT_BSTR;
  V_BSTR(&args[0]) = address;
  V_VT(&args[1]) = VT_BSTR;
  V_BSTR(&args[1]) = context;
  V_VT(&args[2]) = VT_I4;
  V_I4(&args[2]) = 0;
  V_VT(&args[3]) = VT_BOOL | VT_BYREF;
  V_BOOLREF(&args[3]) = &cancel;
  V_VT(&args[4]) = VT_DISPATCH | VT_BYREF;
  V_DISPATCHREF(&args[4]) = &newWindow;
  DISPPARAMS params = {args, nullptr, 5, 0};
  sink->Invoke(273, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  SysFreeString(address);
  SysFreeString(context);
  return cancel == VARIANT_TRUE;
}

// Gives the calling thread an error object with this description, as a control that refuses a call does.
void SetThreadErrorDescription(const wchar_t* description) {
  TComPtr<ICreateErrorInfo> create;
  if (FAILED(CreateErrorInfo(create.Put()))) return;
  create->SetDescription(const_cast<LPOLESTR>(description));
  SetErrorInfo(0, create.As<IErrorInfo>(IID_IErrorInfo).Get());
}

// The system's text for a code, with the same trimming the error rule asks for.
std::string TrimmedSystemText(HRESULT code) {
  char buffer[1024];
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                static_cast<DWORD>(code), 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, length);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) < 33 || text.back() == '.')) text.pop_back();
  return text;
}

class WebBrowserTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr))); }
  void TearDown() override { CoUninitialize(); }
};

// The control in a visible, plain top-level window of the notification window's size.
class HostedBrowserTest : public WebBrowserTest {
 protected:
  void SetUp() override {
    WebBrowserTest::SetUp();
    host_ = CreateWindowExA(0, "STATIC", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 513, 230, nullptr, nullptr,
                            GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(host_, nullptr);
    browser_ = std::make_unique<TWebBrowser>(nullptr);
    browser_->SetParentWindow(host_);
  }
  void TearDown() override {
    browser_.reset();
    if (IsWindow(host_)) DestroyWindow(host_);
    WebBrowserTest::TearDown();
  }

  HWND host_ = nullptr;
  std::unique_ptr<TWebBrowser> browser_;
};

TEST_F(HostedBrowserTest, HostedControlFillsTheClientAreaAndFollowsIt) {
  TWebBrowser& browser = *browser_;
  HWND control = browser.ControlWindow();
  ASSERT_NE(control, nullptr);
  EXPECT_TRUE(IsChild(host_, control));
  EXPECT_EQ(ClientOnScreen(host_), WindowRect(control));

  SetWindowPos(host_, nullptr, 0, 0, 420, 210, SWP_NOMOVE | SWP_NOZORDER);
  EXPECT_EQ(ClientOnScreen(host_), WindowRect(control));
  RECT client;
  GetClientRect(host_, &client);
  EXPECT_EQ(browser.Width(), client.right);
  EXPECT_EQ(browser.Height(), client.bottom);
}

TEST_F(HostedBrowserTest, InterfaceIsObtainedOnceAndEveryReferenceIsReleasedOnDestruction) {
  HWND control = browser_->ControlWindow();
  IWebBrowser2* kept = browser_->ControlInterface();
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(browser_->ControlInterface(), kept);
  kept->AddRef();
  browser_.reset();
  EXPECT_FALSE(IsWindow(control));
  EXPECT_TRUE(IsWindow(host_));
  // Ours is the last reference: the host kept none behind.
  EXPECT_EQ(kept->Release(), 0u);
}

// A page in a folder whose name has letters of the code page beyond ASCII.
TEST_F(HostedBrowserTest, NavigateHandsPathFlagsAndThreeEmptyArgumentsToTheRealControl) {
  TTempFolder temp;
  const std::string folder = temp.File(
      "Caf\xe9 Cr\xe8"
      "che");
  ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
  const std::string page = folder + "\\htmlAll.html";
  std::ofstream(page, std::ios::binary) << "<html><body>page</body></html>\r\n";
  const std::wstring wide = AnsiToWide(page);
  if (GetACP() == 1252) {
    EXPECT_NE(wide.find(L"Caf\u00e9 Cr\u00e8che"), std::wstring::npos);
  }
  TWebBrowser& browser = *browser_;
  std::vector<std::string> calls;
  browser.SetNavigateCall([&](IWebBrowser2* c, BSTR u, VARIANT* f, VARIANT* t, VARIANT* p, VARIANT* h) {
    calls.push_back(
        Format("%d %d %ld %d %d %d", c == browser.ControlInterface(), V_VT(f), V_I4(f), V_VT(t), V_VT(p), V_VT(h)));
    return TWebBrowser::DirectNavigateCall(c, u, f, t, p, h);
  });
  browser.Navigate(wide, 14);
  EXPECT_EQ(calls, std::vector<std::string>{Format("1 %d 14 %d %d %d", VT_I4, VT_EMPTY, VT_EMPTY, VT_EMPTY)});
  // The call reached the real control with the path unchanged.
  const std::wstring location = browser.LocationURL();
  EXPECT_NE(location.find(wide.substr(wide.find(L"Caf"))), std::wstring::npos)
      << std::string(location.begin(), location.end());
}

// What a refusal turns into, for each source of text the rule knows. A description another call left on the thread
// is not borrowed, and a success code is no refusal whatever error object lies about.
TEST_F(HostedBrowserTest, RefusedNavigationRaisesTheMessageTheRuleChooses) {
  TWebBrowser& browser = *browser_;

  struct Case {
    const wchar_t* earlier;      // left on the thread before the call
    const wchar_t* description;  // null: the control sets no error object
    HRESULT code;
    std::string expected;  // empty: nothing raised
  };
  const Case cases[] = {
      {nullptr, L"The page is blocked.. \r\n\t", E_ACCESSDENIED, "The page is blocked"},
      {nullptr, L"Version 1.2 refused it!", E_FAIL, "Version 1.2 refused it!"},
      {nullptr, L" . .\r\n", E_INVALIDARG, TrimmedSystemText(E_INVALIDARG)},
      {nullptr, nullptr, E_ACCESSDENIED, TrimmedSystemText(E_ACCESSDENIED)},
      {nullptr, nullptr, static_cast<HRESULT>(0xA0041234), "OLE error a0041234"},
      {L"Something unrelated went wrong", nullptr, E_INVALIDARG, TrimmedSystemText(E_INVALIDARG)},
      {L"Something unrelated went wrong", nullptr, S_FALSE, ""},
  };
  ASSERT_FALSE(TrimmedSystemText(E_INVALIDARG).empty());
  ASSERT_FALSE(TrimmedSystemText(E_ACCESSDENIED).empty());
  ASSERT_TRUE(TrimmedSystemText(static_cast<HRESULT>(0xA0041234)).empty());

  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    browser.SetNavigateCall([&](IWebBrowser2*, BSTR, VARIANT*, VARIANT*, VARIANT*, VARIANT*) {
      if (c.description) SetThreadErrorDescription(c.description);
      return c.code;
    });
    if (c.earlier) SetThreadErrorDescription(c.earlier);
    const auto error = Raised<EOleSysError>([&] { browser.Navigate(L"C:\\page.html", 14); });
    ASSERT_EQ(error.has_value(), !c.expected.empty());
    if (!error) continue;
    EXPECT_EQ(error->Message(), c.expected);
    EXPECT_EQ(error->ErrorCode(), c.code);
  }
}

TEST_F(HostedBrowserTest, TheControlReportsToTheEventSinkAndANewWindowGoesToTheHandler) {
  TWebBrowser& browser = *browser_;
  IDispatch* sink = browser.EventSink();
  ASSERT_NE(sink, nullptr);
  EXPECT_TRUE(browser.EventsConnected()) << "the real control took the sink";

  EXPECT_FALSE(RaiseNewWindow3(sink, L"http://127.0.0.1/nieuws/7")) << "no handler: the control decides";
  std::vector<std::wstring> asked;
  browser.OnNewWindow = [&](TObject* sender, const std::wstring& url, bool& cancel) {
    EXPECT_EQ(sender, &browser);
    asked.push_back(url);
    cancel = url.find(L"/nieuws/") != std::wstring::npos;
  };
  EXPECT_TRUE(RaiseNewWindow3(sink, L"http://127.0.0.1/nieuws/7"));
  EXPECT_FALSE(RaiseNewWindow3(sink, L"http://127.0.0.1/other"));
  EXPECT_EQ(asked, (std::vector<std::wstring>{L"http://127.0.0.1/nieuws/7", L"http://127.0.0.1/other"}));
  // A handler that fails after cancelling still keeps the control from opening the window; its failure is shown.
  browser.OnNewWindow = [](TObject*, const std::wstring&, bool& cancel) {
    cancel = true;
    throw Exception("The shell failed");
  };
  testing_win::TMessageBoxCloser boxes;
  EXPECT_TRUE(RaiseNewWindow3(sink, L"http://127.0.0.1/nieuws/8"));
  EXPECT_EQ(boxes.Seen().size(), 1u);
}

// What a page may do, as the real control hears it from the site it was given: images, and nothing that runs.
TEST_F(HostedBrowserTest, TheSiteAnswersTheDownloadControlWithImagesOnlyAndSilence) {
  TComPtr<IOleObject> object =
      TComPtr<IWebBrowser2>::Share(browser_->ControlInterface()).As<IOleObject>(IID_IOleObject);
  ASSERT_TRUE(object);
  TComPtr<IOleClientSite> site;
  ASSERT_EQ(object->GetClientSite(site.Put()), S_OK);
  TComPtr<IDispatch> ambient = site.As<IDispatch>(IID_IDispatch);
  ASSERT_TRUE(ambient);
  auto ask = [&](DISPID id, VARIANT& value) {
    VariantInit(&value);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    return ambient->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
  };
  VARIANT value;
  ASSERT_EQ(ask(DISPID_AMBIENT_DLCONTROL, value), S_OK);
  EXPECT_EQ(V_VT(&value), VT_I4);
  EXPECT_EQ(V_I4(&value), DLCTL_DLIMAGES | DLCTL_NO_SCRIPTS | DLCTL_NO_JAVA | DLCTL_NO_RUNACTIVEXCTLS |
                              DLCTL_NO_DLACTIVEXCTLS | DLCTL_NO_BEHAVIORS | DLCTL_NO_FRAMEDOWNLOAD |
                              DLCTL_NO_CLIENTPULL | DLCTL_SILENT);
  // Every other property keeps the control's default.
  for (DISPID other : {DISPID_AMBIENT_USERMODE, DISPID_AMBIENT_SILENT, DISPID_AMBIENT_USERAGENT, DISPID_VALUE}) {
    EXPECT_EQ(ask(other, value), DISP_E_MEMBERNOTFOUND) << other;
  }
}

// The local disk's zone gets the system browser's lockdown once the process has made a control; read back from
// urlmon, which is loaded from the system folder as the host loads it.
TEST_F(WebBrowserTest, MakingTheControlLocksTheLocalMachineZoneDownForTheProcess) {
  HMODULE urlmon = LoadLibraryExW(L"urlmon.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  ASSERT_NE(urlmon, nullptr);
  FARPROC proc = GetProcAddress(urlmon, "CoInternetIsFeatureEnabled");
  auto isEnabled = reinterpret_cast<decltype(&CoInternetIsFeatureEnabled)>(reinterpret_cast<void*>(proc));
  ASSERT_NE(isEnabled, nullptr);
  // Alone in its process, as ctest runs it, no control has been made yet and the zone is not locked down.
  if (testing::UnitTest::GetInstance()->test_to_run_count() == 1) {
    EXPECT_EQ(isEnabled(FEATURE_LOCALMACHINE_LOCKDOWN, GET_FEATURE_FROM_PROCESS), S_FALSE);
  }
  TWebBrowser browser(nullptr);
  browser.ControlInterface();
  EXPECT_EQ(isEnabled(FEATURE_LOCALMACHINE_LOCKDOWN, GET_FEATURE_FROM_PROCESS), S_OK);
  FreeLibrary(urlmon);
}

}  // namespace
