#include "gui/ComObj.h"

#include <objbase.h>

#include "gui/Forms.h"

namespace {
bool comInitialized = false;
}

bool ComObjInitialized() { return comInitialized; }

void RegisterComObjSteps() {
  static bool registered = false;
  if (registered) return;
  registered = true;
  AddStartupStep([] {
    HRESULT result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // S_FALSE: already initialised the same way; it still needs its matching uninitialise.
    comInitialized = SUCCEEDED(result);
  });
  AddShutdownStep([] {
    if (comInitialized) CoUninitialize();
    comInitialized = false;
  });
}
