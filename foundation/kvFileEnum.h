// Folder enumeration with a callback, the description of one folder entry,
// robust attribute reads, and the targets of links (reparse points).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "foundation/kvFileUtils.h"

namespace foundation {

using TSystemTime = platform::os::SystemTime;

// One folder entry.
struct TFileParams {
  std::u16string Name;
  int32_t ExtPos = 0;  // 1-based position of the last "." in Name; length + 1 when none
  std::u16string ShortName;
  uint16_t Attributes = 0;
  bool IsDirectory = false;
  int64_t Size = 0;            // 0 for folders
  int64_t CompressedSize = 0;  // Size, except for compressed files; 0 for folders
  TSystemTime CreationTime;    // local time
  TSystemTime AccessTime;
  TSystemTime WriteTime;
};

// Enumeration errors.
class EFolderError : public EFileError {
 public:
  using EFileError::EFileError;
};
class EFolderNotFound : public EFolderError {
 public:
  using EFolderError::EFolderError;
};
class EFolderAccessDenied : public EFolderError {
 public:
  using EFolderError::EFolderError;
};

// Called for every entry with the context, the number accepted so far and
// the entry; answers whether the entry counts, and may set stop.
using TEnumFilesCallback = std::function<bool(void* context, int accepted, const TFileParams& params, bool& stop)>;

// Lists JoinPath(folder, mask), "." and ".." left out. Returns the number of
// entries accepted (every entry without a callback). No match is no error;
// a missing folder raises EFolderNotFound; a refused listing of a link lists
// its target; other refusals raise EFolderAccessDenied, other failures
// EFolderError.
int EnumerateFiles(void* context, const std::u16string& folder, const std::u16string& mask,
                   const TEnumFilesCallback& callback);

// True and the record filled when path names an existing entry other than
// "." and "..".
bool GetFileParams(const std::u16string& path, TFileParams& params);
// True when path exists, with its attributes' low 16 bits.
bool TryGetFileAttributes(const std::u16string& path, uint16_t& attributes);
bool IsReparsePoint(const std::u16string& path);
// True when path is a junction (isMountPoint set) or a symbolic link whose
// target could be read; target is the link's print name.
bool GetReparseTarget(const std::u16string& path, std::u16string& target, bool& isMountPoint);

// Fills a record from a find entry found in folder (exposed for tests).
void FillFileParams(const std::u16string& folder, const TWin32FindData& data, TFileParams& params);

}  // namespace foundation
