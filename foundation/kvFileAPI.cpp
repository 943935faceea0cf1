#include "foundation/kvFileAPI.h"

#include <mutex>

#include "foundation/kpStringUtils.h"
#include "foundation/kvCaseFolding.h"

namespace foundation {

namespace os = platform::os;

namespace {

constexpr size_t kMaxBufferPath = 32767;

bool IsBackslash(char16_t c) { return c == u'\\'; }

char32_t FoldForLookup(char32_t c) { return static_cast<char32_t>(FoldCodePoint(static_cast<uint32_t>(c))); }

std::mutex gClassLock;
TFileAPI* gDefaultClass = nullptr;

}  // namespace

TFileAPI* FileApiClass = nullptr;

bool HasLongPathPrefix(std::u16string_view text, int length) {
  return length > 4 && text.size() >= 4 && text[0] == u'\\' && text[1] == u'\\' && text[2] == u'?' &&
         text[3] == u'\\';
}

std::u16string AddLongPathPrefix(const std::u16string& path) {
  if (path.size() <= static_cast<size_t>(MaxClassicPathLength) || HasLongPathPrefix(path)) return path;
  if (IsBackslash(path[0]) && IsBackslash(path[1])) return u"\\\\?\\UNC" + path.substr(1);
  return u"\\\\?\\" + path;
}

std::u16string StripLongPathPrefix(std::u16string_view buffer, int length) {
  if (length < 0) return {};
  std::u16string_view text = buffer.substr(0, static_cast<size_t>(length));
  // A length beyond the buffer counts only the characters that are there.
  length = static_cast<int>(text.size());
  if (!HasLongPathPrefix(text, length)) return std::u16string(text);
  auto up = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
  if (length > 8 && up(text[4]) == u'U' && up(text[5]) == u'N' && up(text[6]) == u'C' && text[7] == u'\\')
    return u"\\" + std::u16string(text.substr(7));
  return std::u16string(text.substr(4));
}

// ---- TFileAPI ---------------------------------------------------------------

std::u16string TFileAPI::GetModuleFileName(uintptr_t module) {
  if (module != 0) {
    os::setLastError(os::ERROR_MOD_NOT_FOUND);
    return {};
  }
  std::u16string name = os::getModuleFileName();
  if (name.size() > kMaxBufferPath) name.resize(kMaxBufferPath);
  return StripLongPathPrefix(name);
}

std::u16string TFileAPI::GetCommandLine() { return os::getCommandLine(); }

std::u16string TFileAPI::GetCurrentDirectory() {
  std::u16string dir = os::getCurrentDirectory();
  if (dir.size() > kMaxBufferPath) dir.resize(kMaxBufferPath);
  return StripLongPathPrefix(dir);
}

bool TFileAPI::SetCurrentDirectory(const std::u16string& path) {
  return os::setCurrentDirectory(AddLongPathPrefix(path));
}

THandle TFileAPI::FindFirstFile(const std::u16string& path, TWin32FindData& data) {
  return os::findFirstFile(AddLongPathPrefix(path), data);
}

bool TFileAPI::FindNextFile(THandle handle, TWin32FindData& data) { return os::findNextFile(handle, data); }

bool TFileAPI::FindClose(THandle handle) { return os::findClose(handle); }

uint32_t TFileAPI::GetFileAttributes(const std::u16string& path) {
  return os::getFileAttributes(AddLongPathPrefix(path));
}

bool TFileAPI::SetFileAttributes(const std::u16string& path, uint32_t attributes) {
  return os::setFileAttributes(AddLongPathPrefix(path), attributes);
}

bool TFileAPI::CreateDirectory(const std::u16string& path, const void*) {
  return os::createDirectory(AddLongPathPrefix(path));
}

bool TFileAPI::RemoveDirectory(const std::u16string& path) { return os::removeDirectory(AddLongPathPrefix(path)); }

THandle TFileAPI::CreateFile(const std::u16string& path, uint32_t access, uint32_t shareMode, const void*,
                             uint32_t disposition, uint32_t flags, THandle) {
  return os::createFile(AddLongPathPrefix(path), access, shareMode, disposition, flags);
}

int64_t TFileAPI::GetFileSize(THandle handle) {
  // The platform answers the whole 64-bit size, so a size whose low part has
  // all bits set (4 GiB - 1) is a size, never an error.
  return os::getFileSize(handle);
}

bool TFileAPI::CloseHandle(THandle handle) { return os::closeHandle(handle); }

bool TFileAPI::MoveFileEx(const std::u16string& oldPath, const std::u16string& newPath, uint8_t flags) {
  return os::moveFileEx(oldPath, newPath, flags);
}

bool TFileAPI::DeleteFile(const std::u16string& path) { return os::deleteFile(AddLongPathPrefix(path)); }

int32_t TFileAPI::GetFileVersionMS(const std::u16string& path) {
  // Executables here carry no version resource: the size query fails.
  constexpr uint32_t ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
  if (os::getFileAttributes(AddLongPathPrefix(path)) != os::INVALID_FILE_ATTRIBUTES)
    os::setLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
  return -1;
}

namespace {
// The length in UTF-16 units of UTF-8 bytes: one per sequence, two for the
// four-byte ones.
size_t Utf16Length(const std::string& bytes) {
  size_t n = 0;
  for (unsigned char c : bytes) {
    if ((c & 0xC0) != 0x80) ++n;
    if (c >= 0xF0) ++n;
  }
  return n;
}
}  // namespace

bool TFileAPI::GetShortPathAnsi(const std::u16string& path, std::string& out) {
  // The short form is asked for into a buffer of 260 characters: a longer one
  // is not obtained.
  constexpr size_t kShortBuffer = 260;
  std::string bytes;
  if (os::getShortPathBytes(AddLongPathPrefix(path), bytes) && !bytes.empty() &&
      Utf16Length(bytes) <= kShortBuffer) {
    out = bytes;
    return true;
  }
  out = UnicodeToAnsi(path);
  return false;
}

int64_t TFileAPI::SeekFile(THandle handle, int64_t distance, uint32_t method) {
  return os::setFilePointer(handle, distance, method);
}

bool TFileAPI::SetEndOfFile(THandle handle) { return os::setEndOfFile(handle); }

bool TFileAPI::ReadFile(THandle handle, void* buffer, uint32_t count, uint32_t& transferred, void*) {
  return os::readFile(handle, buffer, count, &transferred);
}

bool TFileAPI::WriteFile(THandle handle, const void* buffer, uint32_t count, uint32_t& transferred, void*) {
  return os::writeFile(handle, buffer, count, &transferred);
}

bool TFileAPI::ReadFileAt(THandle handle, int64_t offset, void* buffer, uint32_t count, uint32_t& transferred) {
  return os::readFileAt(handle, offset, buffer, count, &transferred);
}

bool TFileAPI::WriteFileAt(THandle handle, int64_t offset, const void* buffer, uint32_t count,
                           uint32_t& transferred) {
  return os::writeFileAt(handle, offset, buffer, count, &transferred);
}

// ---- The class reference -------------------------------------------------------

namespace {
TFileAPI* DefaultClass() {
  std::lock_guard<std::mutex> g(gClassLock);
  if (!gDefaultClass) gDefaultClass = new TFileAPI();
  return gDefaultClass;
}
}  // namespace

TFileAPI& FileApi() {
  TFileAPI* cls = FileApiClass;
  return cls ? *cls : *DefaultClass();
}

void InitFileApiClass() {
  FileApiClass = DefaultClass();
  os::setCaseFoldFunction(&FoldForLookup);
}

void DoneFileApiClass() {
  TFileAPI* cls = nullptr;
  {
    std::lock_guard<std::mutex> g(gClassLock);
    cls = gDefaultClass;
    gDefaultClass = nullptr;
  }
  if (FileApiClass == cls) FileApiClass = nullptr;
  FreeObj(cls);
}

}  // namespace foundation
