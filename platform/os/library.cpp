#include "platform/os/library.h"

#include <array>
#include <mutex>
#include <unordered_map>

#include "platform/os/errors.h"
#include "platform/os/paths.h"

namespace platform::os {

// The system loader (linux/Library_linux.cpp). Each answers nullptr and the
// loader's text on failure.
void* systemLoadLibrary(const std::string& posixName, std::string& error);
void* systemLookUp(void* library, const std::string& entry, std::string& error);
void systemFreeLibrary(void* library);

namespace {

// The optional entries: Windows libraries bound at run time, and whether
// this system offers each entry. Libraries without a present entry fail to
// load, as on a system that lacks them.
struct OptionalEntry {
  std::string_view library;  // lower case, without ".dll"
  std::string_view entry;    // empty: the library has no entry of its own here
  bool present;
  void* function = nullptr;  // filled by the serving area
};

std::array<OptionalEntry, 17> gOptional = {{
    {"dwmapi", "DwmIsCompositionEnabled", true},
    {"dwmapi", "DwmSetWindowAttribute", false},
    {"user32", "AddClipboardFormatListener", true},
    {"user32", "RemoveClipboardFormatListener", true},
    {"user32", "SetProcessDPIAware", true},
    {"wtsapi32", "WTSRegisterSessionNotification", false},
    {"shell32", "SHGetPathFromIDListW", false},
    {"shell32", "SHCreateItemFromParsingName", false},
    {"gdi32", "GetFontUnicodeRanges", true},
    {"gdi32", "GetCharABCWidthsI", true},
    {"msimg32", "TransparentBlt", true},
    {"msimg32", "AlphaBlend", true},
    {"mscms", "GetColorDirectoryW", true},
    {"mscms", "GetStandardColorSpaceProfileW", true},
    {"dsound", "DirectSoundCreate8", true},
    {"wmasf", "", false},
    {"wmvcore", "", false},
}};

struct Loaded {
  void* system = nullptr;  // the system loader's handle, or nullptr for a table library
  std::string table;       // the table library's key
};

// Guards the loaded libraries, the numbering and the table's functions.
std::mutex gLibraryLock;
std::unordered_map<LibraryHandle, Loaded> gLoaded;
LibraryHandle gNextLibrary = 0x10000;
thread_local std::string tLastText;

// The table key of a bare Windows library name, or empty when the name is a
// path or not in the table.
std::string tableKey(std::u16string_view name) {
  std::string key;
  for (char16_t c : name) {
    if (c == u'\\' || c == u'/' || c == u':' || c > 0x7F) return {};
    key.push_back(static_cast<char>(c >= u'A' && c <= u'Z' ? c + 32 : c));
  }
  if (key.size() > 4 && key.compare(key.size() - 4, 4, ".dll") == 0) key.resize(key.size() - 4);
  for (const OptionalEntry& e : gOptional)
    if (e.library == key) return key;
  return {};
}

bool tablePresent(const std::string& key) {
  for (const OptionalEntry& e : gOptional)
    if (e.library == key && e.present) return true;
  return false;
}

LibraryHandle addLoaded(Loaded l) {
  std::lock_guard<std::mutex> g(gLibraryLock);
  LibraryHandle h = gNextLibrary++;
  gLoaded.emplace(h, std::move(l));
  return h;
}

}  // namespace

LibraryHandle loadLibrary(std::u16string_view name) {
  tLastText.clear();
  // The system loader answers the program itself for an empty name.
  if (name.empty()) {
    setLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  std::string key = tableKey(name);
  if (!key.empty()) {
    if (!tablePresent(key)) {
      setLastError(ERROR_MOD_NOT_FOUND);
      return 0;
    }
    return addLoaded(Loaded{nullptr, key});
  }
  std::string posix;
  bool bare = name.find_first_of(u"\\/:") == std::u16string_view::npos;
  if (bare) {
    posix = fileNameToBytes(name);
  } else if (toPosixPath(name, posix) != 0 || posix.empty()) {
    setLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  void* system = systemLoadLibrary(posix, tLastText);
  if (!system) {
    setLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  return addLoaded(Loaded{system, {}});
}

void* getProcAddress(LibraryHandle library, std::string_view entry) {
  tLastText.clear();
  void* system = nullptr;
  {
    std::lock_guard<std::mutex> g(gLibraryLock);
    auto it = gLoaded.find(library);
    if (it == gLoaded.end()) {
      setLastError(ERROR_INVALID_HANDLE);
      return nullptr;
    }
    if (!it->second.system) {
      for (const OptionalEntry& e : gOptional) {
        if (e.library == it->second.table && e.entry == entry && e.present && e.function) return e.function;
      }
      setLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    system = it->second.system;
  }
  // Outside the lock: freeing a library while looking into it is the
  // caller's fault, as with the system's own loader.
  void* fn = systemLookUp(system, std::string(entry), tLastText);
  if (!fn) setLastError(ERROR_PROC_NOT_FOUND);
  return fn;
}

bool freeLibrary(LibraryHandle library) {
  Loaded l;
  {
    std::lock_guard<std::mutex> g(gLibraryLock);
    auto it = gLoaded.find(library);
    if (it == gLoaded.end()) {
      setLastError(ERROR_INVALID_HANDLE);
      return false;
    }
    l = std::move(it->second);
    gLoaded.erase(it);
  }
  if (l.system) systemFreeLibrary(l.system);
  return true;
}

std::string lastLibraryError() { return tLastText; }

bool registerOptionalEntry(std::u16string_view library, std::string_view entry, void* function) {
  std::string key = tableKey(library);
  if (key.empty()) return false;
  std::lock_guard<std::mutex> g(gLibraryLock);
  for (OptionalEntry& e : gOptional) {
    if (e.library == key && e.entry == entry && e.present) {
      e.function = function;
      return true;
    }
  }
  return false;
}

}  // namespace platform::os
