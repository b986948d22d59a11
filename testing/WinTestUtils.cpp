#include "testing/WinTestUtils.h"

#include <sddl.h>
#include <wincrypt.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace testing_win {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kTrayWindowClass = "__winex11_standalone_tray";
constexpr const char* kTrayIconClass = "__winex11_tray_icon";
constexpr const char* kMessageBoxClass = "#32770";
constexpr const char* kMenuClass = "#32768";
constexpr int kMessageBoxTextId = 0xFFFF;
// The icon control of a message box: one id on Windows, another in Wine.
constexpr int kMessageBoxIconIds[] = {0x14, 0x440};

// Calls wait() until done() holds or timeoutMs passed; returns done()'s last value.
template <class Wait>
bool Until(const std::function<bool()>& done, int timeoutMs, Wait wait) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() >= end) return done();
    wait();
  }
  return true;
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, int timeoutMs) {
  return Until(done, timeoutMs, [] {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
  });
}

void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
  return Until(done, timeoutMs, [] { Sleep(2); });
}

std::vector<HWND> FindTopWindows(DWORD processId, const char* className, const char* caption) {
  std::vector<HWND> found;
  for (HWND window = FindWindowExA(nullptr, nullptr, className, caption); window != nullptr;
       window = FindWindowExA(nullptr, window, className, caption)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (processId == 0 || owner == processId) found.push_back(window);
  }
  return found;
}

HWND FindVisibleTopWindow(DWORD processId, const char* className, const char* caption) {
  for (HWND window : FindTopWindows(processId, className, caption)) {
    if (IsWindowVisible(window)) return window;
  }
  return nullptr;
}

std::string WindowText(HWND window) {
  char buffer[512] = {};
  GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

RECT WindowRect(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return rect;
}

int TrayIconCount() {
  int count = 0;
  for (HWND tray : FindTopWindows(0, kTrayWindowClass, nullptr)) {
    for (HWND icon = FindWindowExA(tray, nullptr, kTrayIconClass, nullptr); icon != nullptr;
         icon = FindWindowExA(tray, icon, kTrayIconClass, nullptr)) {
      count += IsWindowVisible(icon) ? 1 : 0;
    }
  }
  return count;
}

bool HasTaskbarButton(HWND window) {
  if (!IsWindowVisible(window)) return false;
  LONG_PTR exStyle = GetWindowLongPtrA(window, GWL_EXSTYLE);
  if (exStyle & WS_EX_APPWINDOW) return true;
  if (exStyle & WS_EX_TOOLWINDOW) return false;
  return GetWindow(window, GW_OWNER) == nullptr;
}

TMessageBoxCloser::TMessageBoxCloser(std::function<void(HWND box)> inspector)
    : inspector_(std::move(inspector)), thread_([this] { Run(); }) {}

TMessageBoxCloser::~TMessageBoxCloser() {
  stop_ = true;
  thread_.join();
}

std::vector<TSeenMessageBox> TMessageBoxCloser::Seen() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return seen_;
}

void TMessageBoxCloser::Run() {
  DWORD self = GetCurrentProcessId();
  std::vector<HWND> pressed;
  while (!stop_) {
    HWND box = FindVisibleTopWindow(self, kMessageBoxClass, nullptr);
    if (box == nullptr || std::find(pressed.begin(), pressed.end(), box) != pressed.end()) {
      // A box already answered may take a moment to go; a new box with a reused handle shows up as visible again
      // once the old one has vanished.
      if (box == nullptr) pressed.clear();
      Sleep(5);
      continue;
    }
    TSeenMessageBox seen = ReadMessageBox(box);
    if (inspector_) inspector_(box);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      seen_.push_back(seen);
    }
    pressed.push_back(box);
    PressOk(box);
  }
}

TSeenMessageBox ReadMessageBox(HWND box) {
  TSeenMessageBox seen;
  seen.caption = WindowText(box);
  char text[2048] = {};
  GetDlgItemTextA(box, kMessageBoxTextId, text, sizeof text);
  seen.text = text;
  seen.owner = GetWindow(box, GW_OWNER);
  HICON stop = LoadIconA(nullptr, IDI_HAND);
  for (int id : kMessageBoxIconIds) {
    if (HWND iconControl = GetDlgItem(box, id)) {
      auto icon = reinterpret_cast<HICON>(SendMessageA(iconControl, STM_GETICON, 0, 0));
      if (icon != nullptr && icon == stop) seen.stopIcon = true;
    }
  }
  return seen;
}

void PressOk(HWND box) {
  PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
}

HWND FindOpenMenu(DWORD processId) {
  return FindVisibleTopWindow(processId != 0 ? processId : GetCurrentProcessId(), kMenuClass, nullptr);
}

TMenuUser::TMenuUser(std::vector<WPARAM> keys, DWORD processId, std::function<bool()> ready)
    : thread_([this, keys, processId, ready] {
        HWND menu = nullptr;
        WaitUntil([&] { return (menu = FindOpenMenu(processId)) != nullptr; }, 5000);
        if (menu == nullptr) return;
        seen_ = true;
        if (ready) WaitUntil(ready, 10000);
        for (WPARAM key : keys) {
          PostMessageA(menu, WM_KEYDOWN, key, 0);
          Sleep(30);
        }
      }) {}

TMenuUser::~TMenuUser() { Join(); }

bool TMenuUser::Join() {
  if (thread_.joinable()) thread_.join();
  return seen_;
}

TChildProcess::TChildProcess(const std::string& commandLine, int showCommand) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(showCommand);
  PROCESS_INFORMATION info = {};
  std::string line = commandLine;
  if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
  }
}

TChildProcess::~TChildProcess() {
  if (process_ == nullptr) return;
  if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

bool TChildProcess::Wait(int timeoutMs) {
  return process_ != nullptr && WaitForSingleObject(process_, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

DWORD TChildProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_ != nullptr) GetExitCodeProcess(process_, &code);
  return code;
}

bool TrustTestAuthority(const std::string& pemFile) {
  auto failed = [](const char* step) {
    std::fprintf(stderr, "TrustTestAuthority: %s failed (%lu)\n", step, GetLastError());
    return false;
  };
  HANDLE file = CreateFileA(pemFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return failed("opening the file");
  char pem[16384];
  DWORD length = 0;
  ReadFile(file, pem, sizeof pem, &length, nullptr);
  CloseHandle(file);
  BYTE der[16384];
  DWORD derLength = sizeof der;
  if (!CryptStringToBinaryA(pem, length, CRYPT_STRING_BASE64HEADER, der, &derLength, nullptr, nullptr)) {
    return failed("reading the certificate");
  }
  HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  if (root == nullptr) return failed("opening the root store");
  BOOL added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der, derLength,
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  CertCloseStore(root, 0);
  return added != FALSE || failed("adding the certificate");
}

std::string WinePath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

TReadOnlyFolder::TReadOnlyFolder(const std::string& folder) : folder_(folder) {
  DWORD size = 0;
  GetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, nullptr, 0, &size);
  own_.resize(size);
  if (size == 0 || !GetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, own_.data(), size, &size)) return;
  PSECURITY_DESCRIPTOR readOnly = nullptr;
  // Everyone: read, list and run; nothing else, and nothing inherited from above.
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P(A;OICI;0x1200a9;;;WD)", SDDL_REVISION_1, &readOnly,
                                                            nullptr)) {
    return;
  }
  applied_ = SetFileSecurityA(folder.c_str(), DACL_SECURITY_INFORMATION, readOnly) != FALSE;
  LocalFree(readOnly);
}

TReadOnlyFolder::~TReadOnlyFolder() {
  if (applied_) SetFileSecurityA(folder_.c_str(), DACL_SECURITY_INFORMATION, own_.data());
}

std::string TestProgramDirectory() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = path;
  size_t slash = text.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : text.substr(0, slash + 1);
}

}  // namespace testing_win
