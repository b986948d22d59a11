// Test support for the window layer under Wine: pumping messages for a bounded time, finding the real windows the
// system shows (message boxes, popup menus, the notification area's icons), and a helper thread that reads and
// closes message boxes while the thread under test sits in the box's own message loop.
#pragma once

#include <windows.h>
// After windows.h, which it needs; the tests of the whole program start COM through it.
#include <objbase.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace testing_win {

// Handles this thread's messages until done() holds or timeoutMs passed; returns done()'s last value.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs);
// Handles this thread's messages for the given time.
void PumpFor(int ms);
// Waits (without pumping) until done() holds or timeoutMs passed.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);

// Top-level windows of a process, optionally filtered by class name and caption (nullptr: any).
std::vector<HWND> FindTopWindows(DWORD processId, const char* className, const char* caption);
// The first visible top-level window of the process with that class (and caption, when given), or null.
HWND FindVisibleTopWindow(DWORD processId, const char* className, const char* caption);

std::string WindowText(HWND window);
// The window's rectangle on the screen.
RECT WindowRect(HWND window);

// How many icons the notification area shows (Wine's stand-alone tray window and its icon children).
int TrayIconCount();

// Whether the system would give this top-level window a task-bar button: visible, and either unowned without the
// tool-window bit or carrying the app-window bit.
bool HasTaskbarButton(HWND window);

// What a message box showed.
struct TSeenMessageBox {
  std::string caption;
  std::string text;
  HWND owner = nullptr;
  bool stopIcon = false;
};

// Reads what an open message box shows, and presses its OK button.
TSeenMessageBox ReadMessageBox(HWND box);
void PressOk(HWND box);

// Watches this process for message boxes from a thread of its own and presses OK on each one, recording what it
// showed. An optional inspector runs on the watcher thread while the box is open. Stops at destruction.
class TMessageBoxCloser {
 public:
  explicit TMessageBoxCloser(std::function<void(HWND box)> inspector = nullptr);
  ~TMessageBoxCloser();
  TMessageBoxCloser(const TMessageBoxCloser&) = delete;
  TMessageBoxCloser& operator=(const TMessageBoxCloser&) = delete;

  std::vector<TSeenMessageBox> Seen() const;

 private:
  void Run();

  std::function<void(HWND)> inspector_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<TSeenMessageBox> seen_;
  std::thread thread_;
};

// The visible popup menu window (#32768) of a process (0: this one), or null.
HWND FindOpenMenu(DWORD processId = 0);
// Plays the user of a popup menu from a thread of its own: waits for the process's menu to open, then for ready()
// when given (which runs on that thread while the menu is open), then presses the keys. Joined at destruction.
class TMenuUser {
 public:
  explicit TMenuUser(std::vector<WPARAM> keys, DWORD processId = 0, std::function<bool()> ready = nullptr);
  ~TMenuUser();
  TMenuUser(const TMenuUser&) = delete;
  TMenuUser& operator=(const TMenuUser&) = delete;
  // Waits for the user to finish; true when the menu was seen.
  bool Join();

 private:
  bool seen_ = false;
  std::thread thread_;
};

// A child process started with CreateProcess, killed at scope exit if it still runs.
class TChildProcess {
 public:
  // showCommand: the STARTUPINFO show request (SW_SHOWNORMAL, SW_SHOWMAXIMIZED, SW_SHOWMINNOACTIVE...).
  TChildProcess(const std::string& commandLine, int showCommand = SW_SHOWNORMAL);
  ~TChildProcess();
  TChildProcess(const TChildProcess&) = delete;
  TChildProcess& operator=(const TChildProcess&) = delete;

  bool Started() const { return process_ != nullptr; }
  DWORD Id() const { return id_; }
  // Waits up to timeoutMs; true when the process has ended.
  bool Wait(int timeoutMs);
  // The exit code once ended; STILL_ACTIVE while running.
  DWORD ExitCode() const;

 private:
  HANDLE process_ = nullptr;
  DWORD id_ = 0;
};

// Makes the certificate authority in the PEM file trusted by this Wine prefix (the machine's root store); true when
// it is.
bool TrustTestAuthority(const std::string& pemFile);
// The Windows path of a Unix path, through Wine's drive Z:.
std::string WinePath(const std::string& unixPath);

// Lets every user only read and list the folder, as Program Files is for a user outside the administrators (and for
// an administrator's programs until elevated); the folder's own permissions come back at scope exit. Wine keeps
// them as the folder's Unix mode and reports them from it; root may still write there.
class TReadOnlyFolder {
 public:
  explicit TReadOnlyFolder(const std::string& folder);
  ~TReadOnlyFolder();
  TReadOnlyFolder(const TReadOnlyFolder&) = delete;
  TReadOnlyFolder& operator=(const TReadOnlyFolder&) = delete;
  bool Applied() const { return applied_; }

 private:
  std::string folder_;
  std::vector<char> own_;
  bool applied_ = false;
};

// The directory of the running test program, with a trailing separator.
std::string TestProgramDirectory();

}  // namespace testing_win

inline bool operator==(const RECT& a, const RECT& b) { return EqualRect(&a, &b) != FALSE; }
inline std::ostream& operator<<(std::ostream& out, const RECT& r) {
  return out << "(" << r.left << "," << r.top << ")-(" << r.right << "," << r.bottom << ")";
}
