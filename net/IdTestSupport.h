// Helpers for the network tests: the message of an expected exception, and a component that keeps the socket stack
// alive for tests that use the stack or socket handles directly.
#pragma once

#include <exception>
#include <string>

#include "net/IdComponent.h"
#include "rtl/SysUtils.h"

#if defined(_WIN32)
#include <windows.h>
#endif

// Runs f and returns the message of the exception of class E it raises, or a text that names what happened
// instead (so that a mismatch shows in the test's failure message).
template <class E, class F>
std::string MessageOf(F&& f) {
  try {
    f();
  } catch (const E& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return std::string("another exception: ") + e.what();
  }
  return "no exception";
}

// A live network component: the socket stack exists while one lives.
struct StackUser {
  TIdComponent component{nullptr};
};

// True when the Windows build runs under Wine, whose socket layer differs from Windows in a few observable ways.
inline bool RunningUnderWine() {
#if defined(_WIN32)
  HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
  return false;
#endif
}
