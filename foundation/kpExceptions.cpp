#include "foundation/kpExceptions.h"

#include <cxxabi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <typeindex>

#include "platform/os/errors.h"
#include "platform/os/utf.h"

namespace foundation {

// ---- UTF-16 <-> UTF-8 for messages ----------------------------------------

std::string MessageToUtf8(std::u16string_view text) { return platform::os::utf8Of(text); }

std::u16string MessageFromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    uint8_t b = static_cast<uint8_t>(text[i]);
    uint32_t c;
    int extra;
    if (b < 0x80) {
      c = b;
      extra = 0;
    } else if (b >= 0xC2 && b <= 0xDF) {
      c = b & 0x1F;
      extra = 1;
    } else if (b >= 0xE0 && b <= 0xEF) {
      c = b & 0x0F;
      extra = 2;
    } else if (b >= 0xF0 && b <= 0xF4) {
      c = b & 0x07;
      extra = 3;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    bool ok = true;
    for (int k = 1; k <= extra; ++k) {
      if (i + k >= n || (static_cast<uint8_t>(text[i + k]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      c = (c << 6) | (static_cast<uint8_t>(text[i + k]) & 0x3F);
    }
    if (!ok) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    i += extra + 1;
    if (c >= 0x10000) {
      if (c > 0x10FFFF) {
        out += u'\uFFFD';
        continue;
      }
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

// ---- Class names ------------------------------------------------------------

const char* DemangledClassName(const std::type_info& type) {
  static std::mutex lock;
  static std::map<std::type_index, std::unique_ptr<std::string>>* names =
      new std::map<std::type_index, std::unique_ptr<std::string>>;  // lives for the process
  std::lock_guard<std::mutex> guard(lock);
  auto it = names->find(std::type_index(type));
  if (it != names->end()) return it->second->c_str();
  int status = 0;
  char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
  std::string full = (status == 0 && demangled) ? demangled : type.name();
  std::free(demangled);
  // Drop the namespaces of the outer name (template arguments keep theirs).
  size_t end = full.find('<');
  if (end == std::string::npos) end = full.size();
  size_t cut = full.rfind("::", end);
  std::string shortName = cut == std::string::npos ? full : full.substr(cut + 2);
  auto [pos, inserted] =
      names->emplace(std::type_index(type), std::make_unique<std::string>(std::move(shortName)));
  return pos->second->c_str();
}

// ---- Exception ----------------------------------------------------------------

Exception::Exception() : FAddress(__builtin_return_address(0)) {}

Exception::Exception(std::u16string message)
    : FMessage(std::move(message)), FHasMessage(true), FAddress(__builtin_return_address(0)) {}

Exception::Exception(std::string_view message)
    : FMessage(MessageFromUtf8(message)), FHasMessage(true), FAddress(__builtin_return_address(0)) {}

Exception::~Exception() = default;

void Exception::EnsureMessage() const {
  if (!FHasMessage) {
    FHasMessage = true;  // before the call, so a reading override cannot recurse
    const_cast<Exception*>(this)->SetDefaultMessage();
  }
}

const std::u16string& Exception::Message() const {
  EnsureMessage();
  return FMessage;
}

void Exception::SetMessage(std::u16string message) {
  FMessage = std::move(message);
  FHasMessage = true;
  FWhatValid = false;
}

const char* Exception::what() const noexcept {
  try {
    EnsureMessage();
    if (!FWhatValid) {
      FWhat = MessageToUtf8(FMessage);
      FWhatValid = true;
    }
    return FWhat.c_str();
  } catch (...) {
    return "foundation::Exception";
  }
}

const char* Exception::ClassName() const { return DemangledClassName(typeid(*this)); }

void Exception::SetDefaultMessage() {}

void TCommonException::SetDefaultMessage() {
  SetMessage(u"Orvane Exception: \"" + MessageFromUtf8(ClassName()) + u"\"");
}

EAssertionFailed::EAssertionFailed(std::u16string message, std::string file, int line)
    : Exception(std::move(message)), FFile(std::move(file)), FLine(line) {}

EOSError::EOSError(uint32_t code, std::u16string message)
    : Exception(std::move(message)), FErrorCode(code) {}

// ---- Assertions -------------------------------------------------------------

void QelAssertFail(const std::u16string& message, const char* file, int line) {
  throw EAssertionFailed(message, file ? file : "", line);
}

void QelAssertFail(std::string_view message, const char* file, int line) {
  throw EAssertionFailed(MessageFromUtf8(message), file ? file : "", line);
}

// ---- System errors ----------------------------------------------------------

namespace {
std::u16string Decimal(int64_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}
}  // namespace

void RaiseLastSystemError() {
  uint32_t code = platform::os::getLastError();
  if (code == 0) throw EOSError(0, u"A call to an OS function failed");
  throw EOSError(code, u"System Error.  Code: " + Decimal(code) + u".\r\n" + GetSystemErrorMessage(code));
}

std::exception_ptr GetExceptionObject() { return std::current_exception(); }

const void* GetExceptionAddress() {
  std::exception_ptr p = std::current_exception();
  if (!p) return nullptr;
  try {
    std::rethrow_exception(p);
  } catch (const Exception& e) {
    return e.Address();
  } catch (...) {
  }
  return nullptr;
}

std::u16string GetSystemErrorMessage(uint32_t code) { return platform::os::errorMessage(code); }

// ---- Exception display --------------------------------------------------------

namespace {
void StderrDisplay(const std::u16string& caption, const std::u16string& text) {
  std::string line = MessageToUtf8(caption) + ": " + MessageToUtf8(text) + "\n";
  std::fputs(line.c_str(), stderr);
  std::fflush(stderr);
}

std::atomic<TExceptionDisplay> gDisplay{&StderrDisplay};
}  // namespace

TExceptionDisplay SetExceptionDisplay(TExceptionDisplay display) {
  return gDisplay.exchange(display ? display : &StderrDisplay);
}

void ShowExceptionMessage(std::exception_ptr object, const void* address) {
  std::u16string className = u"Exception";
  std::u16string message;
  if (object) {
    try {
      std::rethrow_exception(object);
    } catch (const Exception& e) {
      className = MessageFromUtf8(e.ClassName());
      message = e.Message();
    } catch (const std::exception& e) {
      className = MessageFromUtf8(DemangledClassName(typeid(e)));
      message = MessageFromUtf8(e.what());
    } catch (...) {
    }
  }
  char addr[32];
  std::snprintf(addr, sizeof addr, "%016llX",
                static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address)));
  std::u16string text = u"Exception " + className + u" at " + MessageFromUtf8(addr) + u".";
  if (!message.empty()) {
    text += u"\r\n" + message;
    if (message.back() != u'.') text += u'.';
  }
  gDisplay.load()(u"Error", text);
}

}  // namespace foundation
