// File and path utilities: file-handle operations that turn platform
// failures into the EFileError family, the text operations on paths
// ("\" separators, 1-based positions), existence tests, folder creation and
// deletion, environment variables and the program's own path.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "foundation/kpExceptions.h"
#include "foundation/kvFileAPI.h"

namespace foundation {

// ---- Exceptions -----------------------------------------------------------------

// A file-layer failure with the platform's error code.
class EFileError : public Exception {
 public:
  EFileError(std::u16string message, int32_t errorCode = 0);
  int32_t ErrorCode = 0;
};

class EFileOpenError : public EFileError {
 public:
  using EFileError::EFileError;
};
class EFileSeekError : public EFileError {
 public:
  using EFileError::EFileError;
};
class EFileReadError : public EFileError {
 public:
  using EFileError::EFileError;
};
class EFileWriteError : public EFileError {
 public:
  using EFileError::EFileError;
};
class EFileAccessError : public EFileError {
 public:
  using EFileError::EFileError;
};

// The platform's text for a code, trailing CR LF removed.
std::u16string FileErrorMessage(int32_t code);

// E with the platform's text for code as message (EFileError.CreateFromCode).
template <class E = EFileError>
E FileErrorFromCode(int32_t code) {
  return E(FileErrorMessage(code), code);
}
// E for the thread's last platform error (EFileError.CreateLastError).
template <class E = EFileError>
E FileErrorFromLastError() {
  return FileErrorFromCode<E>(static_cast<int32_t>(platform::os::getLastError()));
}

// ---- Program globals ----------------------------------------------------------------

// The executable's full path and its folder with a trailing "\", set by
// InitFileUtils (unit start-up).
extern std::u16string ProgramFileName;
extern std::u16string ProgramFolder;
void InitFileUtils();

// ---- File-handle operations ------------------------------------------------------------

// Opens through TFileAPI.CreateFile with FILE_ATTRIBUTE_NORMAL; a failure
// raises EFileOpenError whose message is the file name.
THandle FileOpen(const std::u16string& name, uint32_t access, uint8_t shareMode, uint8_t creation,
                 const void* securityAttributes = nullptr);
// origin: 0 from the start, 1 from the current position, 2 from the end.
int64_t FileSeek(THandle handle, int64_t offset, uint32_t origin);
int64_t FileGetSize(THandle handle);
// Cuts or extends the file to size and moves back to the position it had,
// even when that now lies beyond the end.
void FileSetSize(THandle handle, int64_t size);
void FileTruncate(THandle handle, int64_t cutPosition, int64_t newPosition);
// Reads up to count bytes to buffer[offset..]; the count read (a short read
// is no error). The range is cut to the buffer.
int32_t FileRead(THandle handle, std::span<uint8_t> buffer, int32_t offset, int32_t count);
// Writes count bytes from buffer[offset..]; the count written. A failure, and
// a short write (a full disk), raise EFileWriteError.
int32_t FileWrite(THandle handle, std::span<const uint8_t> buffer, int32_t offset, int32_t count);
// The same at a file offset, leaving the handle's position alone.
int32_t FileReadAt(THandle handle, int64_t position, std::span<uint8_t> buffer, int32_t offset, int32_t count);
// A short write raises, as FileWrite does; Moved, when given, gets the count
// that did reach the file first.
int32_t FileWriteAt(THandle handle, int64_t position, std::span<const uint8_t> buffer, int32_t offset, int32_t count,
                    int32_t* moved = nullptr);
void FileClose(THandle handle);
// Deletes a file, clearing its attributes when a first attempt fails; a
// missing file is no error. Failure raises EFileAccessError "<code> <name>".
void ForceDeleteFile(const std::u16string& name);

// ---- Path text ------------------------------------------------------------------------------

std::u16string IncludeTrailingBackslash(const std::u16string& path);
std::u16string ExcludeTrailingBackslash(const std::u16string& path);
// 2 for "X:"; for "\\server\share..." the length up to the end of the share
// name; else 0.
int GetDrivePrefixLength(const std::u16string& path);
std::u16string ExtractFileDrive(const std::u16string& path);
// The part before the last "\" (searched from the second-last character),
// with the "\" when keepBackslash is set.
std::u16string ExtractFilePath(const std::u16string& path, bool keepBackslash);
std::u16string ExtractFileName(const std::u16string& path);
// 1-based position of the extension's "."; length + 1 when there is none.
int FindExtensionPos(const std::u16string& path);
std::u16string ExtractFileExt(const std::u16string& path);
std::u16string ChangeFileExt(const std::u16string& path, const std::u16string& extension);
std::u16string JoinPath(const std::u16string& folder, const std::u16string& name);
std::u16string ExtractRelativePath(const std::u16string& baseFolder, const std::u16string& target);
bool SameFileName(const std::u16string& a, const std::u16string& b);

// ---- Existence and folders ------------------------------------------------------------

bool DirectoryExists(const std::u16string& path);
bool FileExists(const std::u16string& path);
bool ForceDirectories(const std::u16string& path);
bool CreateDirectoryTree(const std::u16string& path);
// Deletes the folder with everything in it. Links inside (and a link given as
// the folder) are removed themselves, never followed into their targets.
bool DeleteDirectory(const std::u16string& path);
std::u16string GetCurrentDir(bool trailingBackslash);
bool SetCurrentDir(const std::u16string& path);

// ---- Environment ----------------------------------------------------------------------------

std::u16string ExpandEnvStrings(const std::u16string& text);
// The value of NAME or %NAME%; empty when unset.
std::u16string GetEnvVar(const std::u16string& name);

}  // namespace foundation
