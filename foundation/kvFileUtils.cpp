#include "foundation/kvFileUtils.h"

#include <algorithm>
#include <vector>

#include "foundation/kpStringUtils.h"
#include "foundation/kvCaseFolding.h"

namespace foundation {

namespace os = platform::os;

std::u16string ProgramFileName;
std::u16string ProgramFolder;

namespace {

constexpr uint32_t kAttrNormal = os::FILE_ATTRIBUTE_NORMAL;
constexpr uint32_t kAttrDirectory = os::FILE_ATTRIBUTE_DIRECTORY;
constexpr uint32_t kAttrReadOnly = os::FILE_ATTRIBUTE_READONLY;
constexpr uint32_t kAttrReparse = os::FILE_ATTRIBUTE_REPARSE_POINT;
constexpr uint32_t kNoAttributes = os::INVALID_FILE_ATTRIBUTES;
// The longest path the platform's file calls accept, prefix included.
constexpr size_t kMaxPathCharacters = 32767;

// Critical-error dialogs off for the length of a query.
class TErrorModeScope {
 public:
  TErrorModeScope() : FPrevious(os::setErrorMode(os::SEM_FAILCRITICALERRORS)) {}
  ~TErrorModeScope() { os::setErrorMode(FPrevious); }

 private:
  uint32_t FPrevious;
};

uint32_t QueryAttributes(const std::u16string& path) {
  TErrorModeScope mode;
  return FileApi().GetFileAttributes(path);
}

bool EndsWithBackslash(const std::u16string& s) { return !s.empty() && s.back() == u'\\'; }

bool IsAsciiLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

std::u16string DecimalText(int32_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

}  // namespace

// ---- Exceptions -------------------------------------------------------------------------

EFileError::EFileError(std::u16string message, int32_t errorCode)
    : Exception(std::move(message)), ErrorCode(errorCode) {}

std::u16string FileErrorMessage(int32_t code) {
  std::u16string text = GetSystemErrorMessage(static_cast<uint32_t>(code));
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n')) text.pop_back();
  return text;
}

// ---- Program globals -----------------------------------------------------------------------

void InitFileUtils() {
  ProgramFileName = FileApi().GetModuleFileName(0);
  ProgramFolder = ExtractFilePath(ProgramFileName, true);
}

// ---- File-handle operations -------------------------------------------------------------------

THandle FileOpen(const std::u16string& name, uint32_t access, uint8_t shareMode, uint8_t creation,
                 const void* securityAttributes) {
  THandle h = FileApi().CreateFile(name, access, shareMode, securityAttributes, creation, kAttrNormal, 0);
  if (h == 0 || h == INVALID_HANDLE_VALUE)
    throw EFileOpenError(name, static_cast<int32_t>(os::getLastError()));
  return h;
}

int64_t FileSeek(THandle handle, int64_t offset, uint32_t origin) {
  int64_t pos = FileApi().SeekFile(handle, offset, origin);
  if (pos == -1) throw FileErrorFromLastError<EFileSeekError>();
  return pos;
}

int64_t FileGetSize(THandle handle) {
  int64_t size = FileApi().GetFileSize(handle);
  if (size == -1) throw FileErrorFromLastError<EFileError>();
  return size;
}

void FileSetSize(THandle handle, int64_t size) {
  TFileAPI& api = FileApi();
  int64_t pos = api.SeekFile(handle, 0, os::FILE_CURRENT);
  if (pos == -1 || api.SeekFile(handle, size, os::FILE_BEGIN) == -1 || !api.SetEndOfFile(handle) ||
      api.SeekFile(handle, pos, os::FILE_BEGIN) == -1)
    throw FileErrorFromLastError<EFileAccessError>();
}

void FileTruncate(THandle handle, int64_t cutPosition, int64_t newPosition) {
  TFileAPI& api = FileApi();
  if (api.SeekFile(handle, cutPosition, os::FILE_BEGIN) == -1 || !api.SetEndOfFile(handle) ||
      api.SeekFile(handle, newPosition, os::FILE_BEGIN) == -1)
    throw FileErrorFromLastError<EFileAccessError>();
}

namespace {

// The number of bytes from offset that a read or write of count bytes of a
// buffer of size bytes moves: 0 when there is nothing to move, E with
// "invalid parameter" when the offset lies outside the buffer.
template <class E>
uint32_t BufferPart(size_t size, int32_t offset, int32_t count) {
  if (offset < 0 || count <= 0 || static_cast<size_t>(offset) >= size) {
    if (count > 0 && (offset < 0 || static_cast<size_t>(offset) > size))
      throw E(FileErrorMessage(static_cast<int32_t>(os::ERROR_INVALID_PARAMETER)),
              static_cast<int32_t>(os::ERROR_INVALID_PARAMETER));
    return 0;
  }
  return static_cast<uint32_t>(std::min<size_t>(static_cast<size_t>(count), size - offset));
}

}  // namespace

int32_t FileRead(THandle handle, std::span<uint8_t> buffer, int32_t offset, int32_t count) {
  const uint32_t n = BufferPart<EFileReadError>(buffer.size(), offset, count);
  if (n == 0) return 0;
  uint32_t got = 0;
  if (!FileApi().ReadFile(handle, buffer.data() + offset, n, got)) throw FileErrorFromLastError<EFileReadError>();
  return static_cast<int32_t>(got);
}

int32_t FileWrite(THandle handle, std::span<const uint8_t> buffer, int32_t offset, int32_t count) {
  const uint32_t n = BufferPart<EFileWriteError>(buffer.size(), offset, count);
  if (n == 0) return 0;
  uint32_t written = 0;
  bool ok = FileApi().WriteFile(handle, buffer.data() + offset, n, written);
  // A short write loses data: it is a failure even when the platform call
  // answered success.
  if (!ok) throw FileErrorFromLastError<EFileWriteError>();
  if (written < n) {
    os::setLastError(os::ERROR_DISK_FULL);
    throw FileErrorFromLastError<EFileWriteError>();
  }
  return static_cast<int32_t>(written);
}

int32_t FileReadAt(THandle handle, int64_t position, std::span<uint8_t> buffer, int32_t offset, int32_t count) {
  const uint32_t n = BufferPart<EFileReadError>(buffer.size(), offset, count);
  if (n == 0) return 0;
  uint32_t got = 0;
  if (!FileApi().ReadFileAt(handle, position, buffer.data() + offset, n, got))
    throw FileErrorFromLastError<EFileReadError>();
  return static_cast<int32_t>(got);
}

int32_t FileWriteAt(THandle handle, int64_t position, std::span<const uint8_t> buffer, int32_t offset,
                    int32_t count, int32_t* moved) {
  if (moved) *moved = 0;
  const uint32_t n = BufferPart<EFileWriteError>(buffer.size(), offset, count);
  if (n == 0) return 0;
  uint32_t written = 0;
  const bool ok = FileApi().WriteFileAt(handle, position, buffer.data() + offset, n, written);
  if (moved) *moved = static_cast<int32_t>(written);
  if (!ok) throw FileErrorFromLastError<EFileWriteError>();
  if (written < n) {
    os::setLastError(os::ERROR_DISK_FULL);
    throw FileErrorFromLastError<EFileWriteError>();
  }
  return static_cast<int32_t>(written);
}

void FileClose(THandle handle) {
  if (!FileApi().CloseHandle(handle)) throw FileErrorFromLastError<EFileAccessError>();
}

void ForceDeleteFile(const std::u16string& name) {
  TFileAPI& api = FileApi();
  if (api.DeleteFile(name)) return;
  uint32_t error = os::getLastError();
  uint32_t attrs = api.GetFileAttributes(name);
  if (attrs == kNoAttributes) {
    // A missing file is no error; any other failure to read the attributes
    // keeps the deletion's error.
    if (error == os::ERROR_FILE_NOT_FOUND || error == os::ERROR_PATH_NOT_FOUND) return;
  } else if (!(attrs & kAttrDirectory)) {
    api.SetFileAttributes(name, kAttrNormal);
    if (api.DeleteFile(name)) return;
    error = os::getLastError();
    api.SetFileAttributes(name, attrs);
  }
  throw EFileAccessError(DecimalText(static_cast<int32_t>(error)) + u" " + name, static_cast<int32_t>(error));
}

// ---- Path text ---------------------------------------------------------------------------------------

std::u16string IncludeTrailingBackslash(const std::u16string& path) {
  return EndsWithBackslash(path) ? path : path + u"\\";
}

std::u16string ExcludeTrailingBackslash(const std::u16string& path) {
  return EndsWithBackslash(path) ? path.substr(0, path.size() - 1) : path;
}

int GetDrivePrefixLength(const std::u16string& path) {
  if (path.size() >= 2 && path[1] == u':' && IsAsciiLetter(path[0])) return 2;
  if (path.size() > 4 && path[0] == u'\\' && path[1] == u'\\' && path[2] != u'\\') {
    size_t serverEnd = path.find(u'\\', 2);
    if (serverEnd == std::u16string::npos || serverEnd + 1 >= path.size() || path[serverEnd + 1] == u'\\')
      return 0;
    size_t shareEnd = path.find(u'\\', serverEnd + 1);
    return static_cast<int>(shareEnd == std::u16string::npos ? path.size() : shareEnd);
  }
  return 0;
}

std::u16string ExtractFileDrive(const std::u16string& path) {
  return path.substr(0, static_cast<size_t>(GetDrivePrefixLength(path)));
}

std::u16string ExtractFilePath(const std::u16string& path, bool keepBackslash) {
  if (path.size() < 2) return {};
  for (size_t i = path.size() - 1; i-- > 0;)
    if (path[i] == u'\\') return path.substr(0, keepBackslash ? i + 1 : i);
  return {};
}

std::u16string ExtractFileName(const std::u16string& path) {
  std::u16string p = ExcludeTrailingBackslash(path);
  size_t k = p.rfind(u'\\');
  return k == std::u16string::npos ? p : p.substr(k + 1);
}

int FindExtensionPos(const std::u16string& path) {
  for (size_t i = path.size(); i-- > 0;) {
    if (path[i] == u'\\') break;
    if (path[i] == u'.') return static_cast<int>(i) + 1;
  }
  return static_cast<int>(path.size()) + 1;
}

std::u16string ExtractFileExt(const std::u16string& path) {
  int pos = FindExtensionPos(path);
  if (pos >= static_cast<int>(path.size())) return {};  // none, or the "." is the last character
  return path.substr(static_cast<size_t>(pos - 1));
}

std::u16string ChangeFileExt(const std::u16string& path, const std::u16string& extension) {
  std::u16string base = path.substr(0, static_cast<size_t>(FindExtensionPos(path) - 1));
  if (extension.empty()) return base;
  return extension[0] == u'.' ? base + extension : base + u"." + extension;
}

std::u16string JoinPath(const std::u16string& folder, const std::u16string& name) {
  if (name.empty()) return folder;
  if (folder.empty()) return name;
  bool folderSep = EndsWithBackslash(folder), nameSep = name[0] == u'\\';
  if (folderSep && nameSep) return folder.substr(0, folder.size() - 1) + name;
  if (folderSep || nameSep) return folder + name;
  return folder + u"\\" + name;
}

std::u16string ExtractRelativePath(const std::u16string& baseFolder, const std::u16string& target) {
  std::u16string base = IncludeTrailingBackslash(UpperCaseStr(baseFolder));
  std::u16string upTarget = UpperCaseStr(target);
  std::u16string baseDrive = ExtractFileDrive(base);
  if (baseDrive.empty() || baseDrive != ExtractFileDrive(upTarget)) return target;
  size_t common = 0;
  while (common < base.size() && common < upTarget.size() && base[common] == upTarget[common]) ++common;
  // The last "\" inside the common part.
  size_t lastSep = std::u16string::npos;
  for (size_t i = 0; i < common; ++i)
    if (base[i] == u'\\') lastSep = i;
  if (lastSep == std::u16string::npos) return target;
  std::u16string result;
  for (size_t i = lastSep + 1; i < base.size(); ++i)
    if (base[i] == u'\\') result += u"..\\";
  return result + target.substr(lastSep + 1);
}

bool SameFileName(const std::u16string& a, const std::u16string& b) { return SameText(a, b); }

// ---- Existence and folders ------------------------------------------------------------------------

bool DirectoryExists(const std::u16string& path) {
  uint32_t attrs = QueryAttributes(path);
  return attrs != kNoAttributes && (attrs & kAttrDirectory) != 0;
}

bool FileExists(const std::u16string& path) {
  uint32_t attrs = QueryAttributes(path);
  return attrs != kNoAttributes && (attrs & kAttrDirectory) == 0;
}

bool CreateDirectoryTree(const std::u16string& path) {
  // Names from shows can be long and deep: no path of more characters than
  // any file system takes is tried, and the missing folders are collected in
  // a loop (each one a prefix of the path) instead of one call per level.
  if (path.size() > kMaxPathCharacters) return false;
  std::vector<size_t> missing{path.size()};  // lengths, innermost first
  for (;;) {
    const std::u16string parent = ExtractFilePath(path.substr(0, missing.back()), false);
    if (parent.empty()) return false;
    if (DirectoryExists(parent)) break;
    missing.push_back(parent.size());
  }
  for (auto it = missing.rbegin(); it != missing.rend(); ++it)
    if (!FileApi().CreateDirectory(path.substr(0, *it), nullptr)) return false;
  return true;
}

bool ForceDirectories(const std::u16string& path) {
  if (path.empty()) return false;
  if (DirectoryExists(path)) return true;
  return CreateDirectoryTree(ExcludeTrailingBackslash(path));
}

namespace {

bool DeleteTree(const std::u16string& folder) {
  TFileAPI& api = FileApi();
  uint32_t folderAttrs = api.GetFileAttributes(folder);
  bool ok = true;
  TWin32FindData data;
  THandle h = api.FindFirstFile(folder + u"\\*.*", data);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (data.name.empty() || data.name == u"." || data.name == u"..") continue;
      std::u16string entry = folder + u"\\" + data.name;
      if (data.attributes & kAttrReparse) {
        // A link is removed itself; following it would delete its target's
        // contents outside this folder.
        ok = (data.attributes & kAttrDirectory) ? api.RemoveDirectory(entry) : api.DeleteFile(entry);
      } else if (data.attributes & kAttrDirectory) {
        ok = DeleteTree(entry);
      } else {
        if (data.attributes & kAttrReadOnly) api.SetFileAttributes(entry, kAttrNormal);
        ok = api.DeleteFile(entry);
      }
    } while (ok && api.FindNextFile(h, data));
    uint32_t error = os::getLastError();
    api.FindClose(h);
    os::setLastError(error);
  }
  if (!ok) return false;
  if (folderAttrs != kNoAttributes && (folderAttrs & kAttrReadOnly) &&
      !api.SetFileAttributes(folder, kAttrDirectory))
    return false;
  return api.RemoveDirectory(folder);
}

}  // namespace

bool DeleteDirectory(const std::u16string& path) {
  std::u16string folder = ExcludeTrailingBackslash(path);
  // An empty name would make the search "\*.*", the root of the drive.
  if (folder.empty()) return false;
  uint32_t attrs = FileApi().GetFileAttributes(folder);
  // A link given as the folder: remove the link, keep its target.
  if (attrs != kNoAttributes && (attrs & kAttrReparse)) return FileApi().RemoveDirectory(folder);
  return DeleteTree(folder);
}

std::u16string GetCurrentDir(bool trailingBackslash) {
  std::u16string dir = FileApi().GetCurrentDirectory();
  return trailingBackslash ? IncludeTrailingBackslash(dir) : ExcludeTrailingBackslash(dir);
}

bool SetCurrentDir(const std::u16string& path) { return FileApi().SetCurrentDirectory(path); }

// ---- Environment -------------------------------------------------------------------------------------

std::u16string ExpandEnvStrings(const std::u16string& text) { return os::expandEnvironmentStrings(text); }

std::u16string GetEnvVar(const std::u16string& name) {
  if (name.empty() || name == u"%") return {};
  bool lead = name.front() == u'%', trail = name.back() == u'%';
  if (lead != trail) return {};
  std::u16string reference = lead ? name : u"%" + name + u"%";
  std::u16string value = ExpandEnvStrings(reference);
  if (SameText(value, reference)) return {};
  return value;
}

}  // namespace foundation
