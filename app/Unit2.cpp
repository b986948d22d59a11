#include "app/Unit2.h"

#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "gui/ComObj.h"
#include "rtl/SysUtils.h"

TForm2* Form2 = nullptr;

TForm2::TOpenInDefaultBrowser TForm2::OpenInDefaultBrowser = [](const std::wstring& url) {
  ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
};

namespace {

constexpr int kClientWidth = 513;
constexpr int kClientHeight = 230;
constexpr unsigned kSlideInterval = 1;  // milliseconds; the system rounds it up to its shortest timer
constexpr int kSlideInStep = 5;
constexpr int kSlideOutStep = 10;
// The page is local and changes on every announcement: no history entry, nothing from or into the cache.
constexpr int kPageNavigateFlags = kNavNoHistory | kNavNoReadFromCache | kNavNoWriteToCache;

constexpr char kOwnPageFolderName[] = "Brasko tracker";

// Closes a kernel handle at scope exit.
struct THandleHolder {
  HANDLE handle = nullptr;
  ~THandleHolder() {
    if (handle != nullptr) CloseHandle(handle);
  }
};

// Whether this process may make files in the folder, as the system judges a create there: the folder's security
// against the process's own token, in which an administrator's rights count only once elevated. Asking changes
// nothing on the disk. A folder whose security cannot be read counts as not writable.
bool MayMakeFilesIn(std::string folder) {
  if (folder.size() > 3 && folder.back() == '\\') folder.pop_back();  // a drive's root keeps its separator
  const SECURITY_INFORMATION parts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | LABEL_SECURITY_INFORMATION;
  DWORD size = 0;
  GetFileSecurityA(folder.c_str(), parts, nullptr, 0, &size);
  std::vector<char> descriptor(size);
  if (size == 0 || !GetFileSecurityA(folder.c_str(), parts, descriptor.data(), size, &size)) return false;
  THandleHolder processToken, token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_DUPLICATE | TOKEN_QUERY, &processToken.handle) ||
      !DuplicateToken(processToken.handle, SecurityIdentification, &token.handle)) {
    return false;
  }
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  PRIVILEGE_SET privileges = {};
  DWORD privilegesSize = sizeof privileges;
  DWORD granted = 0;
  BOOL allowed = FALSE;
  return AccessCheck(descriptor.data(), token.handle, FILE_ADD_FILE, &mapping, &privileges, &privilegesSize, &granted,
                     &allowed) &&
         allowed;
}

// The user's own folder for the page, below the user's local application data; empty when the system has none.
std::string OwnPageFolder() {
  char path[MAX_PATH] = {};
  if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path) != S_OK) return "";
  return std::string(path) + "\\" + kOwnPageFolderName + "\\";
}

}  // namespace

bool IsWebAddress(const std::wstring& url) {
  const size_t colon = url.find(L':');
  if (colon == std::wstring::npos || url.compare(colon + 1, 2, L"//") != 0) return false;
  // The scheme in either case; only ASCII letters are folded, as no other letter spells one of these.
  std::wstring scheme = url.substr(0, colon);
  for (wchar_t& c : scheme) {
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  }
  if (scheme != L"http" && scheme != L"https") return false;
  return std::none_of(url.begin(), url.end(), [](wchar_t c) { return c <= L' ' || c == L'"' || c == 0x7F; });
}

std::string ChoosePageFolder(const std::string& programFolder, const std::string& ownFolder) {
  // Where only administrators write (an install for all users), every user's program writing one shared page would
  // need that page writable by all of them, and then one user could put a script into the page another user's
  // program shows. Each user's page goes into that user's own folder instead.
  if (ownFolder.empty() || MayMakeFilesIn(programFolder)) return programFolder;
  CreateDirectoryA(ownFolder.c_str(), nullptr);
  // The page's bytes do not change with its folder, so its background goes with it, copied afresh at every start
  // (without reading either file first: the copy is the one the program shipped with). A copy that fails leaves the
  // page without its background, nothing worse.
  CopyFileA((programFolder + kPageBackgroundName).c_str(), (ownFolder + kPageBackgroundName).c_str(), FALSE);
  return ownFolder;
}

TForm2::TForm2(TComponent* owner) : TForm(owner) {
  BeginLoading();
  SetName("Form2");
  SetBorderStyle(TBorderStyle::bsToolWindow);
  SetCaption("Brasko");
  SetClientWidth(kClientWidth);
  SetClientHeight(kClientHeight);
  SetColor(clBtnFace);
  Font().SetName("MS Sans Serif");
  Font().SetHeight(-11);
  SetFormStyle(TFormStyle::fsStayOnTop);
  OnShow = [this](TObject* sender) { FormShow(sender); };
  OnHide = [this](TObject* sender) { FormHide(sender); };

  WebBrowser1 = new TWebBrowser(this);
  WebBrowser1->SetName("WebBrowser1");
  WebBrowser1->SetBounds(0, 0, kClientWidth, kClientHeight);
  WebBrowser1->SetTabOrder(0);
  // The page is drawn for a 96-dpi screen; on a denser one it is zoomed as the window is scaled.
  WebBrowser1->SetZoom(MulDiv(100, ScreenDpi(), kDesignDpi));
  // A link opens in the user's default browser: the control's own new window would be the old browser, which
  // current systems retire. Every request is cancelled, and only a web address goes on: the shell would open a
  // file, a share or a program just as readily, and a request need not come from a click.
  WebBrowser1->OnNewWindow = [](TObject*, const std::wstring& url, bool& cancel) {
    cancel = true;
    if (IsWebAddress(url)) OpenInDefaultBrowser(url);
  };

  // Switched off before the handler is set: a timer starts as soon as it is enabled with a handler.
  Timer1 = new TTimer(this);
  Timer1->SetName("Timer1");
  Timer1->SetEnabled(false);
  Timer1->SetInterval(kSlideInterval);
  Timer1->SetOnTimer([this](TObject* sender) { Timer1Timer(sender); });

  Timer2 = new TTimer(this);
  Timer2->SetName("Timer2");
  Timer2->SetEnabled(false);
  Timer2->SetInterval(kSlideInterval);
  Timer2->SetOnTimer([this](TObject* sender) { Timer2Timer(sender); });
  EndLoading();
}

void TForm2::Loaded() {
  TForm::Loaded();
  // The client size is final now; the control fills it for the life of the form.
  if (WebBrowser1) WebBrowser1->SetParentWindow(Handle());
}

void TForm2::Notification(TComponent* component, TOperation operation) {
  TForm::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  if (component == WebBrowser1) WebBrowser1 = nullptr;
  if (component == Timer1) Timer1 = nullptr;
  if (component == Timer2) Timer2 = nullptr;
}

std::string TForm2::PageFileName() {
  // Decided once per run, so the feed processing writes the page where the window looks for it.
  static const std::string name = ChoosePageFolder(ExecutableDirectory(), OwnPageFolder()) + kPageFileName;
  return name;
}

void TForm2::FormShow(TObject* /*Sender*/) {
  // The whole window, caption included, starts just above the screen's top edge.
  SetTop(-Height());
  // The primary display's full width, not the work area; a window wider than the display gets a negative Left.
  SetLeft((GetSystemMetrics(SM_CXSCREEN) - Width()) / 2);
  Timer1->SetEnabled(true);
  // After the timer: a refused navigation leaves this handler, and the slide-in must still run.
  WebBrowser1->Navigate(AnsiToWide(PageFileName()), kPageNavigateFlags);
}

void TForm2::Timer1Timer(TObject* /*Sender*/) {
  SetTop(Top() + kSlideInStep);
  if (Top() > -1) {
    Timer1->SetEnabled(false);
    SetTop(0);
  }
  Application->ProcessMessages();
  // Nested loop above: this handler may have been re-entered; nothing read before it is relied on after.
}

void TForm2::FormHide(TObject* /*Sender*/) {
  // A slide-in still running would pull against the slide-out and keep moving the window after it is hidden.
  Timer1->SetEnabled(false);
  Timer2->SetEnabled(true);
  // Holds the caller until the slide-out has ended, while the program goes on handling its messages: timers, menu
  // commands and this window's own ticks all run in here.
  do {
    Application->ProcessMessages();
  } while (Timer2->Enabled());
}

void TForm2::Timer2Timer(TObject* /*Sender*/) {
  SetTop(Top() - kSlideOutStep);
  // Only a step past the fully hidden position stops it; one that lands on it exactly goes one tick further.
  if (-Height() > Top()) {
    Timer2->SetEnabled(false);
    SetTop(-Height());
  }
  Application->ProcessMessages();
  // Nested loop above: this handler may have been re-entered; nothing read before it is relied on after.
}

void TForm2Notifier::Hide() {
  if (Form2) Form2->Hide();
}

void TForm2Notifier::Show() {
  if (Form2) Form2->Show();
}
