// A library that refuses to load. A test lays copies of it beside the program under the names of the system
// libraries the program uses: one taken from there instead of the system folder fails that load, or the start.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) { return reason != DLL_PROCESS_ATTACH; }
