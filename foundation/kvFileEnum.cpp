#include "foundation/kvFileEnum.h"

#include <cstring>
#include <vector>

namespace foundation {

namespace os = platform::os;

namespace {

// Links whose listing is refused are followed at most this many times, so a
// link that leads back to itself ends with an error instead of a stack
// overflow.
constexpr int kMaxLinkHops = 32;

TSystemTime LocalSystemTime(os::FileTime utc) {
  TSystemTime st;
  os::FileTime local = utc;
  os::fileTimeToLocalFileTime(utc, local);
  os::fileTimeToSystemTime(local, st);
  return st;
}

// Closes a search handle on every way out of a walk.
class TFindScope {
 public:
  explicit TFindScope(THandle h) : FHandle(h) {}
  ~TFindScope() {
    uint32_t error = os::getLastError();
    FileApi().FindClose(FHandle);
    os::setLastError(error);
  }

 private:
  THandle FHandle;
};

// A relative link target is relative to the link's own folder.
std::u16string TargetPath(const std::u16string& link, const std::u16string& target) {
  if (GetDrivePrefixLength(target) > 0 || (!target.empty() && target[0] == u'\\')) return target;
  return JoinPath(ExtractFilePath(ExcludeTrailingBackslash(link), false), target);
}

bool IsDots(const std::u16string& name) { return name.empty() || name == u"." || name == u".."; }

int Enumerate(void* context, const std::u16string& folder, const std::u16string& mask,
              const TEnumFilesCallback& callback, int hops) {
  TFileAPI& api = FileApi();
  TWin32FindData data;
  THandle h = api.FindFirstFile(JoinPath(folder, mask), data);
  if (h == INVALID_HANDLE_VALUE) {
    uint32_t error = os::getLastError();
    switch (error) {
      case os::ERROR_FILE_NOT_FOUND: return 0;
      case os::ERROR_PATH_NOT_FOUND: throw FileErrorFromLastError<EFolderNotFound>();
      case os::ERROR_ACCESS_DENIED: {
        std::u16string target;
        bool mountPoint = false;
        if (hops < kMaxLinkHops && GetReparseTarget(folder, target, mountPoint))
          return Enumerate(context, TargetPath(folder, target), mask, callback, hops + 1);
        os::setLastError(error);
        throw FileErrorFromLastError<EFolderAccessDenied>();
      }
      default: throw EFolderError(folder, static_cast<int32_t>(error));
    }
  }
  TFindScope scope(h);
  int accepted = 0;
  bool stop = false;
  do {
    if (IsDots(data.name)) continue;
    TFileParams params;
    FillFileParams(folder, data, params);
    bool counts = callback ? callback(context, accepted, params, stop) : true;
    if (counts) ++accepted;
    if (stop) break;
  } while (api.FindNextFile(h, data));
  if (!stop) {
    uint32_t error = os::getLastError();
    if (error == os::ERROR_PATH_NOT_FOUND) throw FileErrorFromLastError<EFolderNotFound>();
    if (error == os::ERROR_ACCESS_DENIED) throw FileErrorFromLastError<EFolderAccessDenied>();
    if (error != 0 && error != os::ERROR_NO_MORE_FILES) throw FileErrorFromLastError<EFolderError>();
  }
  return accepted;
}

bool FindEntry(const std::u16string& path, TWin32FindData& data) {
  THandle h = FileApi().FindFirstFile(path, data);
  if (h == INVALID_HANDLE_VALUE) return false;
  FileApi().FindClose(h);
  return true;
}

uint16_t ReadU16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

}  // namespace

void FillFileParams(const std::u16string& folder, const TWin32FindData& data, TFileParams& params) {
  params.Name = data.name;
  size_t dot = data.name.rfind(u'.');
  params.ExtPos = static_cast<int32_t>(dot == std::u16string::npos ? data.name.size() + 1 : dot + 1);
  params.ShortName = data.alternateName.empty() ? data.name : data.alternateName;
  params.Attributes = static_cast<uint16_t>(data.attributes & 0xFFFF);
  params.IsDirectory = (data.attributes & os::FILE_ATTRIBUTE_DIRECTORY) != 0;
  params.Size = params.IsDirectory ? 0 : static_cast<int64_t>(data.size);
  params.CompressedSize = params.Size;
  if (!params.IsDirectory && (data.attributes & os::FILE_ATTRIBUTE_COMPRESSED)) {
    int64_t packed = os::getCompressedFileSize(AddLongPathPrefix(JoinPath(folder, data.name)));
    if (packed >= 0) params.CompressedSize = packed;
  }
  params.CreationTime = LocalSystemTime(data.creationTime);
  params.AccessTime = LocalSystemTime(data.lastAccessTime);
  params.WriteTime = LocalSystemTime(data.lastWriteTime);
}

int EnumerateFiles(void* context, const std::u16string& folder, const std::u16string& mask,
                   const TEnumFilesCallback& callback) {
  return Enumerate(context, folder, mask, callback, 0);
}

bool GetFileParams(const std::u16string& path, TFileParams& params) {
  TWin32FindData data;
  std::u16string found = path;
  if (!FindEntry(path, data)) {
    std::u16string target;
    bool mountPoint = false;
    if (os::getLastError() != os::ERROR_ACCESS_DENIED || !GetReparseTarget(path, target, mountPoint) ||
        !FindEntry(TargetPath(path, target), data))
      return false;
    found = TargetPath(path, target);
  }
  if (IsDots(data.name)) return false;
  FillFileParams(ExtractFilePath(found, false), data, params);
  return true;
}

bool TryGetFileAttributes(const std::u16string& path, uint16_t& attributes) {
  uint32_t previous = os::setErrorMode(os::SEM_FAILCRITICALERRORS);
  uint32_t attrs = FileApi().GetFileAttributes(path);
  os::setErrorMode(previous);
  if (attrs != os::INVALID_FILE_ATTRIBUTES) {
    attributes = static_cast<uint16_t>(attrs & 0xFFFF);
    return true;
  }
  TWin32FindData data;
  if (!FindEntry(path, data)) return false;
  attributes = static_cast<uint16_t>(data.attributes & 0xFFFF);
  return true;
}

bool IsReparsePoint(const std::u16string& path) {
  uint16_t attrs = 0;
  return TryGetFileAttributes(path, attrs) && (attrs & os::FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool GetReparseTarget(const std::u16string& path, std::u16string& target, bool& isMountPoint) {
  isMountPoint = false;
  if (!IsReparsePoint(path)) return false;
  THandle h = FileApi().CreateFile(path, 0, os::FILE_SHARE_READ | os::FILE_SHARE_WRITE, nullptr, os::OPEN_EXISTING,
                                   os::FILE_FLAG_OPEN_REPARSE_POINT | os::FILE_FLAG_BACKUP_SEMANTICS, 0);
  if (h == INVALID_HANDLE_VALUE || h == 0) return false;
  std::vector<uint8_t> buf(os::MAXIMUM_REPARSE_DATA_BUFFER_SIZE);
  uint32_t got = 0;
  bool ok = os::deviceIoControl(h, os::FSCTL_GET_REPARSE_POINT, buf.data(), static_cast<uint32_t>(buf.size()), &got);
  FileApi().CloseHandle(h);
  if (!ok || got < 16) return false;
  uint32_t tag;
  std::memcpy(&tag, buf.data(), 4);
  uint16_t substLength = ReadU16(&buf[10]);
  uint16_t printOffset = ReadU16(&buf[12]);
  uint16_t printLength = ReadU16(&buf[14]);
  if (got < static_cast<uint32_t>(substLength) + 2) return false;
  size_t pathBuffer;
  if (tag == os::IO_REPARSE_TAG_MOUNT_POINT) {
    pathBuffer = 16;
    isMountPoint = true;
  } else if (tag == os::IO_REPARSE_TAG_SYMLINK) {
    pathBuffer = 20;  // after the flags word
  } else {
    return false;
  }
  // The print name must lie inside the reply.
  size_t start = pathBuffer + (printOffset / 2) * 2, end = start + (printLength / 2) * 2;
  if (end > got) {
    isMountPoint = false;
    return false;
  }
  target.assign(printLength / 2, u'\0');
  std::memcpy(target.data(), &buf[start], (printLength / 2) * 2);
  return true;
}

}  // namespace foundation
