// The environment view and the special folders over getenv and the XDG
// folder conventions.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/os/environment.h"
#include "platform/os/paths.h"

namespace platform::os {

namespace {

std::string upperAscii(std::u16string_view s) {
  std::string r;
  for (char16_t c : s) r.push_back(c < 128 ? static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c) : '?');
  return r;
}

std::optional<std::string> env(const char* name) {
  const char* v = std::getenv(name);
  if (!v || !*v) return std::nullopt;
  return std::string(v);
}

// A value that is a POSIX path is handed over in internal form.
std::u16string pathValue(const std::string& v) {
  return (!v.empty() && v[0] == '/') ? fromPosixPath(v) : fileNameFromBytes(v);
}

std::string homeFolder() {
  if (auto h = env("HOME")) return *h;
  if (const passwd* pw = ::getpwuid(::getuid())) return pw->pw_dir ? pw->pw_dir : "/";
  return "/";
}

std::string stripSlash(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// $XDG_DESKTOP_DIR from the user-dirs file ("$HOME/Desktop" style values).
std::optional<std::string> desktopFolder(const std::string& home) {
  std::string config = env("XDG_CONFIG_HOME").value_or(home + "/.config");
  std::ifstream in(config + "/user-dirs.dirs");
  std::string line;
  while (std::getline(in, line)) {
    const std::string key = "XDG_DESKTOP_DIR=";
    if (line.compare(0, key.size(), key) != 0) continue;
    std::string v = line.substr(key.size());
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
    if (v.compare(0, 5, "$HOME") == 0) v = home + v.substr(5);
    if (!v.empty() && v[0] == '/') return v;
  }
  return std::nullopt;
}

}  // namespace

std::u16string perUserTempFolder() {
  std::string base = stripSlash(env("TMPDIR").value_or("/tmp"));
  std::string dir = (base == "/" ? "" : base) + "/orvane-" + std::to_string(::getuid());
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st;
  // lstat: a link planted in the shared folder is refused, never followed.
  if (::lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) return {};
  if ((st.st_mode & 077) != 0 && ::chmod(dir.c_str(), 0700) != 0) return {};
  return fromPosixPath(dir);
}

std::u16string getSpecialFolderPath(int csidl) {
  std::string home = stripSlash(homeFolder());
  std::string p;
  switch (csidl) {
    case CSIDL_APPDATA: p = env("XDG_CONFIG_HOME").value_or(home + "/.config"); break;
    case CSIDL_LOCAL_APPDATA: p = env("XDG_DATA_HOME").value_or(home + "/.local/share"); break;
    case CSIDL_COMMON_APPDATA: {
      std::string dirs = env("XDG_DATA_DIRS").value_or("");
      p = dirs.substr(0, dirs.find(':'));
      if (p.empty()) p = "/usr/local/share";
      break;
    }
    case CSIDL_DESKTOP: p = desktopFolder(home).value_or(home); break;
    default: return {};
  }
  return fromPosixPath(stripSlash(p));
}

std::optional<std::u16string> getEnvironmentVariable(std::u16string_view name) {
  std::string key = upperAscii(name);
  if (key == "TEMP" || key == "TMP") {
    if (auto v = env(key.c_str())) return pathValue(*v);
    std::u16string t = perUserTempFolder();
    if (t.empty()) return std::nullopt;
    return t;
  }
  if (key == "APPDATA") return getSpecialFolderPath(CSIDL_APPDATA);
  if (key == "LOCALAPPDATA") return getSpecialFolderPath(CSIDL_LOCAL_APPDATA);
  if (key == "PROGRAMDATA") return getSpecialFolderPath(CSIDL_COMMON_APPDATA);
  if (key == "SYSTEMROOT" || key == "WINDIR") return std::nullopt;
  std::string n = fileNameToBytes(name);
  if (n.find('=') != std::string::npos) return std::nullopt;
  const char* v = std::getenv(n.c_str());
  if (!v) return std::nullopt;
  return fileNameFromBytes(v);
}

}  // namespace platform::os
