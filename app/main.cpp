// Start-up: the runtime and every unit are initialised before main (among them the component object library's
// start-up step); a copy that finds another one running hands over to it and ends; otherwise the application, the
// two windows, and the message loop until "Exit".
#include <windows.h>

#include "app/Unit1.h"
#include "app/Unit2.h"
#include "gui/ComObj.h"
#include "gui/Forms.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int /*show*/) {
  // Every library loaded from here on, by this program or by a system library on its behalf, comes from the system
  // folder only: the program's own folder may be a downloads folder where anyone's files land.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A second start only wakes the copy that runs already.
  if (TForm1::HandOverToRunningCopy()) return 0;
  try {
    Application->Initialize();
    Application->CreateForm(Form1);
    Application->CreateForm(Form2);
    Application->Run();
  } catch (...) {
    // Only start-up can fail here (the loop reports its own errors): say why, and end with a failure code.
    Application->HandleException(nullptr);
    return 1;
  }
  return 0;
}
