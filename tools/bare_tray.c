// The least a tray program does, the peer that scripts/footprint measures the tracker against: a hidden window,
// one icon with a tip in the notification area, a popup menu on a right press, and a message loop. Nothing else
// loads or runs. Built with the same toolchain and flags as the tracker.
#include <windows.h>
#include <shellapi.h>

enum { kCallbackMessage = WM_APP + 1, kIconId = 1, kExitCommand = 3 };

static NOTIFYICONDATAA icon;

static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kCallbackMessage:
      if (lParam == WM_RBUTTONDOWN) {
        HMENU menu = CreatePopupMenu();
        AppendMenuA(menu, MF_STRING, 1, "Show Topics");
        AppendMenuA(menu, MF_STRING, 2, "Configuratie");
        AppendMenuA(menu, MF_SEPARATOR, 0, NULL);
        AppendMenuA(menu, MF_STRING, kExitCommand, "Exit");
        POINT at;
        GetCursorPos(&at);
        SetForegroundWindow(window);
        TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window, NULL);
        DestroyMenu(menu);
      }
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kExitCommand) DestroyWindow(window);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      Shell_NotifyIconA(NIM_DELETE, &icon);
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show) {
  (void)previous;
  (void)commandLine;
  (void)show;
  WNDCLASSA windowClass = {0};
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = "BareTray";
  RegisterClassA(&windowClass);
  HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, "BareTray", "Bare tray", WS_OVERLAPPED, 0, 0, 0, 0, NULL, NULL,
                                instance, NULL);
  icon.cbSize = sizeof icon;
  icon.hWnd = window;
  icon.uID = kIconId;
  icon.uFlags = NIF_ICON | NIF_TIP | NIF_MESSAGE;
  icon.uCallbackMessage = kCallbackMessage;
  icon.hIcon = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
  lstrcpynA(icon.szTip, "Bare tray", sizeof icon.szTip);
  Shell_NotifyIconA(NIM_ADD, &icon);
  MSG message;
  while (GetMessageA(&message, NULL, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return 0;
}
