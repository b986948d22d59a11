// Runtime basics: the general exception class, the runtime's own errors, text helpers, integer conversion and the
// directory of the running executable. Text is single-byte (std::string); positions are 0-based in C++ code.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

// Root of every class whose instances are passed as "sender" to event handlers.
class TObject {
 public:
  TObject() = default;
  TObject(const TObject&) = default;
  TObject& operator=(const TObject&) = default;
  virtual ~TObject() = default;
};

// Every failure of the system is an exception carrying a message text.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// The silent exception: the default handler shows nothing for it.
class EAbort : public Exception {
 public:
  using Exception::Exception;
};

class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// printf-style formatting into a std::string.
std::string Format(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

std::string IntToStr(int64_t value);

// Converts a text to a signed 32-bit integer: leading blanks (code 32) skipped, then an optionally signed decimal
// number, or an unsigned hexadecimal number after "$", "x", "X", "0x" or "0X" whose 32-bit pattern is taken as
// signed. Anything else raises EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(const std::string& text);

// Same rule; returns false instead of raising.
bool TryStrToInt(const std::string& text, int32_t& value);

// ASCII-only case mapping; bytes 128..255 are left as they are.
std::string UpperCase(std::string text);
std::string LowerCase(std::string text);
bool SameText(const std::string& a, const std::string& b);

// Removes leading and trailing characters with codes 0..32.
std::string Trim(const std::string& text);
std::string TrimLeft(const std::string& text);
std::string TrimRight(const std::string& text);

// The part of a path after its last "\", "/" or ":".
std::string ExtractFileName(const std::string& path);

// The full path of the running executable: on Windows the module file name, natively the process's own
// executable path.
std::string ExecutablePath();

// The executable's directory, up to and including its last path separator ("\" or ":" on Windows, "/" natively).
std::string ExecutableDirectory();

#if defined(_WIN32)
// A function of a system library, loaded from the system folder only (a file of that name beside the program is never
// taken) and kept loaded for the rest of the run; null where the library or the function is missing.
void* SystemFunctionAddress(const char* library, const char* name);
template <class Proc>
Proc SystemFunction(const char* library, const char* name) {
  return reinterpret_cast<Proc>(SystemFunctionAddress(library, name));
}
#endif

// Runs an action when its scope ends: the clean-up an operation owes, said once. The whole is run however the scope
// ends; a failure's own is run only when the scope is left by an exception. An exception the action raises while a
// failure is already on its way is dropped (that failure is the one the caller must see, and a second one leaving a
// destructor would end the program); at the end of a scope left normally it passes on.
enum class TScopeExitWhen { seAlways, seOnFailure };

template <class F>
class TScopeExit {
 public:
  explicit TScopeExit(F action, TScopeExitWhen when = TScopeExitWhen::seAlways)
      : action_(std::move(action)), when_(when), failures_(std::uncaught_exceptions()) {}
  ~TScopeExit() noexcept(false) {
    const bool failing = std::uncaught_exceptions() > failures_;
    if (!failing) {
      if (when_ == TScopeExitWhen::seAlways) action_();
      return;
    }
    try {
      action_();
    } catch (...) {
    }
  }
  TScopeExit(const TScopeExit&) = delete;
  TScopeExit& operator=(const TScopeExit&) = delete;

 private:
  F action_;
  TScopeExitWhen when_;
  int failures_;
};
