#include "foundation/kvPathMacros.h"

#include "foundation/kvCaseFolding.h"

namespace foundation {

namespace os = platform::os;

namespace {

std::u16string WithTrailing(std::u16string path, bool flag) {
  SetTrailingBackslash(path, flag);
  return path;
}

}  // namespace

void SetTrailingBackslash(std::u16string& path, bool flag) {
  if (path.empty()) return;
  bool has = path.back() == u'\\';
  if (flag && !has) path.push_back(u'\\');
  if (!flag && has) path.pop_back();
}

std::u16string GetSpecialFolder(int folderNumber) { return os::getSpecialFolderPath(folderNumber); }

std::u16string GetWindowsFolder(bool trailingBackslash) {
  std::u16string folder = GetSpecialFolder(CSIDL_WINDOWS);
  if (folder.empty()) folder = GetEnvVar(u"SYSTEMROOT");
  if (folder.empty()) folder = u"C:\\Windows";
  return WithTrailing(folder, trailingBackslash);
}

std::u16string GetAppDataFolder(int kind, bool trailingBackslash) {
  std::u16string folder;
  switch (kind) {
    case 0: folder = GetSpecialFolder(CSIDL_COMMON_APPDATA); break;
    case 1: folder = GetSpecialFolder(CSIDL_LOCAL_APPDATA); break;
    case 2: folder = GetSpecialFolder(CSIDL_APPDATA); break;
    default: break;
  }
  if (folder.empty()) folder = GetEnvVar(kind == 1 ? u"LOCALAPPDATA" : u"APPDATA");
  return WithTrailing(folder, trailingBackslash);
}

std::u16string GetTempFolder(bool trailingBackslash) {
  for (const char16_t* name : {u"TEMP", u"TMP"}) {
    std::u16string folder = GetEnvVar(name);
    if (!folder.empty() && DirectoryExists(folder)) return WithTrailing(folder, trailingBackslash);
  }
  // An unset WINDIR would leave a relative "TEMP" in whatever the current
  // folder is: that candidate is skipped then.
  std::u16string windir = GetEnvVar(u"WINDIR");
  if (!windir.empty()) {
    std::u16string folder = JoinPath(windir, u"TEMP");
    if (DirectoryExists(folder)) return WithTrailing(folder, trailingBackslash);
  }
  std::u16string own = ProgramFolder + u"TEMP";
  if (DirectoryExists(own) || (ForceDirectories(own) && DirectoryExists(own)))
    return WithTrailing(own, trailingBackslash);
  return WithTrailing(ProgramFolder, trailingBackslash);
}

std::u16string ExpandPathMacros(const std::u16string& token, bool trailingBackslash) {
  if (token.empty() || token == u"%") return {};
  std::u16string t = token;
  if (t.front() != u'%' && t.back() != u'%') t = u"%" + t + u"%";
  std::u16string value;
  if (SameText(t, u"%TEMP%")) {
    value = GetTempFolder(trailingBackslash);
  } else if (SameText(t, u"%TARGETOS%")) {
    value = u"Win64";
  } else if (SameText(t, u"%APPNAME%")) {
    value = ChangeFileExt(ExtractFileName(ProgramFileName), u"");
  } else if (SameText(t, u"%APPPATH%")) {
    value = ExtractFilePath(ProgramFileName, trailingBackslash);
  } else if (SameText(t, u"%EXENAME%")) {
    value = ProgramFileName;
  } else if (SameText(t, u"%APPDATA%")) {
    value = GetAppDataFolder(2, trailingBackslash);
  } else if (SameText(t, u"%LOCALAPPDATA%")) {
    value = GetAppDataFolder(1, trailingBackslash);
  } else if (SameText(t, u"%PROGRAMDATA%")) {
    value = GetAppDataFolder(0, trailingBackslash);
  } else if (SameText(t, u"%SYSTEMROOT%")) {
    value = GetWindowsFolder(trailingBackslash);
  } else {
    value = GetEnvVar(t);
  }
  SetTrailingBackslash(value, trailingBackslash);
  return value;
}

bool NextPathMacro(const std::u16string& text, int& position, std::u16string& token, bool fold, bool anywhere) {
  if (position < 1) position = 1;
  const int length = static_cast<int>(text.size());
  int start;
  if (anywhere) {
    start = -1;
    for (int i = position; i < length; ++i) {  // the last character never opens a token
      if (text[static_cast<size_t>(i - 1)] == u'%') {
        start = i;
        break;
      }
    }
    if (start < 0) {
      position = length + 1;
      return false;
    }
  } else {
    if (position != 1 || text.empty() || text[0] != u'%') return false;
    start = 1;
  }
  size_t close = text.find(u'%', static_cast<size_t>(start));  // 0-based search after the opening "%"
  if (close == std::u16string::npos) {
    position = length + 1;
    return false;
  }
  token = text.substr(static_cast<size_t>(start - 1), close - static_cast<size_t>(start - 1) + 1);
  if (fold) token = FoldCase(token);
  position = static_cast<int>(close) + 2;
  return true;
}

bool ExpandPathMacrosInText(std::u16string& text, bool startOnly) {
  bool replaced = false;
  int position = 1;
  std::u16string token;
  while (position <= static_cast<int>(text.size()) &&
         NextPathMacro(text, position, token, false, !startOnly)) {
    std::u16string value = ExpandPathMacros(token, false);
    if (!value.empty()) {
      int start = position - static_cast<int>(token.size());
      text.replace(static_cast<size_t>(start - 1), token.size(), value);
      position = start + static_cast<int>(value.size());
      replaced = true;
    }
    if (startOnly) break;
  }
  return replaced;
}

bool ReplaceChar(const std::u16string& text, char16_t newChar, char16_t oldChar, std::u16string& result) {
  if (text.find(oldChar) == std::u16string::npos) return false;
  result = text;
  for (char16_t& c : result)
    if (c == oldChar) c = newChar;
  return true;
}

std::u16string ResolveRelativePath(const std::u16string& base, const std::u16string& path, char16_t separator) {
  if (separator != u'\\') {
    std::u16string b = base, p = path;
    bool inBase = ReplaceChar(base, u'\\', separator, b);
    bool inPath = ReplaceChar(path, u'\\', separator, p);
    if (inBase || inPath) return ResolveRelativePath(b, p, u'\\');
  }
  if (!ExtractFileDrive(path).empty()) return path;
  size_t i = 0;
  int groups = 0;
  while (path.compare(i, 3, u"..\\") == 0) {
    i += 3;
    ++groups;
  }
  if (i < path.size() && path[i] == u'\\') ++i;
  std::u16string rest = path.substr(i);
  std::u16string cut = ExcludeTrailingBackslash(base);
  for (int g = 0; g < groups; ++g) {
    size_t k = cut.rfind(u'\\');
    cut = k == std::u16string::npos ? std::u16string() : cut.substr(0, k);
  }
  if (!rest.empty()) return JoinPath(cut, rest);
  return ExcludeTrailingBackslash(cut);
}

std::u16string ExpandRelativePath(const std::u16string& path, char16_t separator) {
  return ResolveRelativePath(ProgramFolder, path, separator);
}

void ExpandPath(std::u16string& path) {
  ExpandPathMacrosInText(path, false);
  path = ResolveRelativePath(ProgramFolder, path, u'\\');
}

std::u16string GetExpandedPath(const std::u16string& path) {
  std::u16string p = path;
  ExpandPath(p);
  return p;
}

bool IsRootPath(const std::u16string& path) {
  size_t n = static_cast<size_t>(GetDrivePrefixLength(path));
  return n > 0 && (path.size() == n || (path.size() == n + 1 && path[n] == u'\\'));
}

}  // namespace foundation
