// A small console program that looks at a running tracker from outside, for the scripts that take its pictures and
// measure its footprint (scripts/screenshots, scripts/soak). It finds the program by its "Configuratie" window.
//   probe window <class> <caption> [seconds]  waits until that window is visible and has stopped moving, then
//                                             prints "window <left> <top> <right> <bottom> client <x> <y> <w> <h>"
//   probe menu [seconds]                      opens the tray menu as a right press on the icon does and prints
//                                             "menu <l> <t> <r> <b>" and, when Wine's own tray window shows the
//                                             icon, "tray <l> <t> <r> <b>"
//   probe counters [program]                  prints the process's working set and private bytes (KB) and its
//                                             handle, GDI-object and USER-object counts; of the program named so
//                                             ("bare_tray.exe") when a name is given
//   probe launch <program>                    starts the program and prints the milliseconds until its tray icon
//                                             shows, and its process id
//   probe end <process id>                    ends that process and waits until its tray icon has gone
//   probe peak <seconds>                      reads the private bytes every 10 ms until the program's message box
//                                             shows or the time has passed, and prints the most it saw, the box's
//                                             text and the seconds it watched
// Exits 1 when what it waits for does not come within the time (default 30 s).
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tray/kxTray.h"

namespace {

HWND ProgramWindow() { return FindWindowA("TForm", "Configuratie"); }

// Calls done() every 50 ms until it holds or the time has passed.
template <class F>
bool WaitFor(F done, int seconds) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < static_cast<DWORD>(seconds) * 1000; Sleep(50)) {
    if (done()) return true;
  }
  return false;
}

void PrintRect(const char* what, const RECT& r) {
  std::printf("%s %ld %ld %ld %ld\n", what, r.left, r.top, r.right, r.bottom);
}

int Window(const char* className, const char* caption, int seconds) {
  HWND window = nullptr;
  RECT last = {};
  int steady = 0;
  bool settled = WaitFor(
      [&] {
        window = FindWindowA(className, caption);
        if (window == nullptr || !IsWindowVisible(window)) return false;
        RECT now;
        GetWindowRect(window, &now);
        steady = EqualRect(&now, &last) ? steady + 1 : 0;
        last = now;
        return steady >= 20;  // a second without a move
      },
      seconds);
  if (!settled) {
    std::fprintf(stderr, "probe: no settled window %s \"%s\"\n", className, caption);
    return 1;
  }
  RECT client;
  GetClientRect(window, &client);
  POINT origin = {0, 0};
  ClientToScreen(window, &origin);
  std::printf("window %ld %ld %ld %ld client %ld %ld %ld %ld\n", last.left, last.top, last.right, last.bottom, origin.x,
              origin.y, client.right, client.bottom);
  return 0;
}

int Menu(int seconds) {
  HWND program = ProgramWindow();
  if (program == nullptr) {
    std::fprintf(stderr, "probe: the program is not running\n");
    return 1;
  }
  // The menu opens at the mouse: put it on the icon first, as a user's right press would be.
  HWND tray = FindWindowA(nullptr, "Wine System Tray");
  if (tray != nullptr && IsWindowVisible(tray)) {
    RECT icon;
    GetWindowRect(tray, &icon);
    SetCursorPos((icon.left + icon.right) / 2, (icon.top + icon.bottom) / 2);
  }
  PostMessageA(program, kTrayCallbackMessage, kTrayIconId, WM_RBUTTONDOWN);
  HWND menu = nullptr;
  if (!WaitFor([&] { return (menu = FindWindowA("#32768", nullptr)) != nullptr && IsWindowVisible(menu); }, seconds)) {
    std::fprintf(stderr, "probe: the menu did not open\n");
    return 1;
  }
  Sleep(300);  // drawn
  RECT rect;
  GetWindowRect(menu, &rect);
  PrintRect("menu", rect);
  if (tray != nullptr && IsWindowVisible(tray)) {
    GetWindowRect(tray, &rect);
    PrintRect("tray", rect);
  }
  return 0;
}

// The handle count as the system's process list gives it (where the per-process query is not answered).
bool HandleCountFromProcessList(DWORD id, DWORD& handles) {
  using TQuery = LONG(WINAPI*)(SYSTEM_INFORMATION_CLASS, void*, ULONG, ULONG*);
  auto query = reinterpret_cast<TQuery>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return false;
  std::vector<char> buffer(1 << 16);
  ULONG needed = 0;
  LONG status;
  while ((status = query(SystemProcessInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
             static_cast<LONG>(0xC0000004) &&  // the list does not fit
         buffer.size() < (64u << 20)) {
    buffer.resize(buffer.size() * 2);
  }
  if (status != 0) return false;
  for (size_t offset = 0;;) {
    auto* entry = reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(buffer.data() + offset);
    if (reinterpret_cast<uintptr_t>(entry->UniqueProcessId) == id) {
      handles = entry->HandleCount;
      return handles != 0;
    }
    if (entry->NextEntryOffset == 0) return false;
    offset += entry->NextEntryOffset;
  }
}

// The tray icons Wine shows in its own tray window, which stands in for the task bar's notification area.
int TrayIconCount() {
  HWND tray = FindWindowA(nullptr, "Wine System Tray");
  int count = 0;
  for (HWND icon = nullptr; tray != nullptr && (icon = FindWindowExA(tray, icon, "__winex11_tray_icon", nullptr));) {
    ++count;
  }
  return count;
}

int Launch(const char* program) {
  const int before = TrayIconCount();
  std::string folder = program;
  folder.erase(folder.find_last_of("\\/") == std::string::npos ? 0 : folder.find_last_of("\\/"));
  std::string commandLine = std::string("\"") + program + "\"";
  // The program gets none of the probe's output handles: a script reading the probe's output would otherwise wait for
  // the program to end as well.
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  PROCESS_INFORMATION started = {};
  LARGE_INTEGER frequency, start, now;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS, nullptr,
                      folder.empty() ? nullptr : folder.c_str(), &startup, &started)) {
    std::fprintf(stderr, "probe: %s could not be started\n", program);
    return 1;
  }
  CloseHandle(started.hThread);
  CloseHandle(started.hProcess);
  // Looked for every millisecond: the icon's own window appears in the tray as soon as the program adds it.
  while (TrayIconCount() <= before) {
    QueryPerformanceCounter(&now);
    if (now.QuadPart - start.QuadPart > frequency.QuadPart * 30) {
      std::fprintf(stderr, "probe: no icon within 30 s\n");
      return 1;
    }
    Sleep(1);
  }
  QueryPerformanceCounter(&now);
  std::printf("icon_ms=%.1f pid=%lu\n", (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart,
              started.dwProcessId);
  return 0;
}

int End(DWORD id) {
  HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
  if (process == nullptr) return 1;
  TerminateProcess(process, 0);
  WaitForSingleObject(process, 10000);
  CloseHandle(process);
  return WaitFor([] { return TrayIconCount() == 0; }, 10) ? 0 : 1;
}

// A process of this session running the program of that file name; 0 when none.
DWORD ProcessNamed(const char* name) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  DWORD id = 0;
  for (BOOL more = Process32First(snapshot, &entry); more && id == 0; more = Process32Next(snapshot, &entry)) {
    if (lstrcmpiA(entry.szExeFile, name) == 0) id = entry.th32ProcessID;
  }
  CloseHandle(snapshot);
  return id;
}

// The running program's process, opened for its counters; nullptr (said on stderr) when it does not run.
HANDLE OpenProgram(DWORD& id, const char* name = nullptr) {
  id = name != nullptr ? ProcessNamed(name) : 0;
  if (HWND program = ProgramWindow(); name == nullptr && program != nullptr) GetWindowThreadProcessId(program, &id);
  HANDLE process = id == 0 ? nullptr : OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id);
  if (process == nullptr) std::fprintf(stderr, "probe: the program is not running\n");
  return process;
}

PROCESS_MEMORY_COUNTERS_EX MemoryOf(HANDLE process) {
  PROCESS_MEMORY_COUNTERS_EX memory = {};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory);
  return memory;
}

// Private bytes are the commit charge; some systems fill only its older name.
SIZE_T PrivateBytes(const PROCESS_MEMORY_COUNTERS_EX& memory) {
  return memory.PrivateUsage != 0 ? memory.PrivateUsage : memory.PagefileUsage;
}

int Peak(int seconds) {
  DWORD id;
  HANDLE process = OpenProgram(id);
  if (process == nullptr) return 1;
  SIZE_T most = 0;
  HWND box = nullptr;
  const DWORD start = GetTickCount();
  // The program's failure box: a dialog of its process, captioned with the program's name.
  auto boxShown = [&] {
    for (HWND w = FindWindowA("#32770", "Brasko"); w != nullptr; w = FindWindowExA(nullptr, w, "#32770", "Brasko")) {
      DWORD owner = 0;
      GetWindowThreadProcessId(w, &owner);
      if (owner == id && IsWindowVisible(w)) return (box = w) != nullptr;
    }
    return false;
  };
  do {
    most = std::max(most, PrivateBytes(MemoryOf(process)));
    Sleep(10);
  } while (!boxShown() && GetTickCount() - start < static_cast<DWORD>(seconds) * 1000);
  char text[512] = "";
  if (box != nullptr) GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  std::printf("peak_private_kb=%zu box=\"%s\" seconds=%.1f\n", static_cast<size_t>(most / 1024), text,
              (GetTickCount() - start) / 1000.0);
  CloseHandle(process);
  return 0;
}

int Counters(const char* name) {
  DWORD id;
  HANDLE process = OpenProgram(id, name);
  if (process == nullptr) return 1;
  const PROCESS_MEMORY_COUNTERS_EX memory = MemoryOf(process);
  const SIZE_T privateBytes = PrivateBytes(memory);
  DWORD handles = 0;
  BOOL handlesKnown = GetProcessHandleCount(process, &handles) && handles != 0;
  if (!handlesKnown) handlesKnown = HandleCountFromProcessList(id, handles);
  // A program with windows always holds GDI and USER objects: a count of 0 means the system keeps none (Wine).
  auto count = [](DWORD n) { return n != 0 ? std::to_string(n) : std::string("n/a"); };
  std::printf("working_set_kb=%zu private_kb=%zu handles=%s gdi=%s user=%s\n",
              static_cast<size_t>(memory.WorkingSetSize / 1024), static_cast<size_t>(privateBytes / 1024), handlesKnown ? std::to_string(handles).c_str() : "n/a",
              count(GetGuiResources(process, GR_GDIOBJECTS)).c_str(),
              count(GetGuiResources(process, GR_USEROBJECTS)).c_str());
  CloseHandle(process);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "window") == 0) {
    return Window(argv[2], argv[3], argc > 4 ? std::atoi(argv[4]) : 30);
  }
  if (argc >= 2 && std::strcmp(argv[1], "menu") == 0) return Menu(argc > 2 ? std::atoi(argv[2]) : 30);
  if (argc >= 2 && std::strcmp(argv[1], "counters") == 0) return Counters(argc > 2 ? argv[2] : nullptr);
  if (argc >= 3 && std::strcmp(argv[1], "launch") == 0) return Launch(argv[2]);
  if (argc >= 3 && std::strcmp(argv[1], "end") == 0) return End(std::strtoul(argv[2], nullptr, 10));
  if (argc >= 3 && std::strcmp(argv[1], "peak") == 0) return Peak(std::atoi(argv[2]));
  std::fprintf(stderr, "usage: probe window <class> <caption> [seconds] | menu [seconds] | counters [program] | peak <s> | "
               "launch <program> | end <process id>\n");
  return 2;
}
