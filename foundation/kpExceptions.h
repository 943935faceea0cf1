// The exception root of the system, the base of its own exceptions, the
// assertion exception and thin wrappers over the platform's error reporting.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <typeinfo>

namespace foundation {

// The root of every exception the system raises. The message is UTF-16;
// what() gives it as UTF-8.
class Exception : public std::exception {
 public:
  Exception();
  explicit Exception(std::u16string message);
  // A UTF-8 message.
  explicit Exception(std::string_view message);
  ~Exception() override;

  const std::u16string& Message() const;
  void SetMessage(std::u16string message);
  const char* what() const noexcept override;

  // The class name used in messages; QEL_CLASSNAME(TFoo) overrides it, else
  // the demangled type name without its namespace.
  virtual const char* ClassName() const;

  // Where the exception was created (the return address of its constructor's
  // caller), answered by GetExceptionAddress.
  const void* Address() const { return FAddress; }

 protected:
  // Called once, before the message is first read, when none was given.
  virtual void SetDefaultMessage();
  bool HasMessage() const { return FHasMessage; }

 private:
  mutable std::u16string FMessage;
  mutable std::string FWhat;
  mutable bool FHasMessage = false;
  mutable bool FWhatValid = false;
  const void* FAddress = nullptr;
  void EnsureMessage() const;
};

// The base of the system's own exceptions. Created without a message it
// reads "Orvane Exception: " and the class name in double quotes.
class TCommonException : public Exception {
 public:
  TCommonException() = default;
  using Exception::Exception;

 protected:
  void SetDefaultMessage() override;
};

// A failed internal check: message, source file and line.
class EAssertionFailed : public Exception {
 public:
  EAssertionFailed(std::u16string message, std::string file, int line);
  const std::string& File() const { return FFile; }
  int Line() const { return FLine; }

 private:
  std::string FFile;
  int FLine;
};

// The operating-system error raised by RaiseLastSystemError.
class EOSError : public Exception {
 public:
  EOSError(uint32_t code, std::u16string message);
  uint32_t ErrorCode() const { return FErrorCode; }

 private:
  uint32_t FErrorCode;
};

// Raises EAssertionFailed with the caller's file and line (the defaults are
// evaluated where the call is written; gcc and clang both provide them).
[[noreturn]] void QelAssertFail(const std::u16string& message, const char* file = __builtin_FILE(),
                                int line = __builtin_LINE());
[[noreturn]] void QelAssertFail(std::string_view message, const char* file = __builtin_FILE(),
                                int line = __builtin_LINE());

#define QEL_ASSERT(cond, msg)                 \
  do {                                        \
    if (!(cond)) ::foundation::QelAssertFail(msg); \
  } while (0)

// Raises EOSError for the thread's last system error code.
[[noreturn]] void RaiseLastSystemError();

// The exception being handled (null outside a handler) and the address it
// was raised at (nil outside a handler or for foreign exceptions).
std::exception_ptr GetExceptionObject();
const void* GetExceptionAddress();

// The platform's text for a system error code.
std::u16string GetSystemErrorMessage(uint32_t code);

// The standard display of an exception: "Exception <class> at <address>.",
// a line break and the message, shown through the display hook.
void ShowExceptionMessage(std::exception_ptr object, const void* address);

// Shows (caption, text); default: writes both to stderr. The windowed program
// installs its message box here.
using TExceptionDisplay = void (*)(const std::u16string& caption, const std::u16string& text);
TExceptionDisplay SetExceptionDisplay(TExceptionDisplay display);

// UTF-16 <-> UTF-8 for messages (lone surrogates become U+FFFD).
std::string MessageToUtf8(std::u16string_view text);
std::u16string MessageFromUtf8(std::string_view text);

// The demangled class name of a polymorphic type, namespaces removed; the
// returned text lives for the process.
const char* DemangledClassName(const std::type_info& type);

}  // namespace foundation
