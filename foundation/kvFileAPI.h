// The file API: every file-system call of the program goes through the
// class operations of TFileAPI, reached through one global class reference,
// so another implementation can be put in its place. The class also applies
// the long-path rule: paths of more than 247 characters reach the platform
// with the extended-length prefix "\\?\".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "foundation/SysObj.h"
#include "platform/os/api.h"

namespace foundation {

using THandle = platform::os::Handle;
inline constexpr THandle INVALID_HANDLE_VALUE = platform::os::INVALID_HANDLE_VALUE;
using TWin32FindData = platform::os::FindData;

// The longest path handed over without the prefix.
inline constexpr int MaxClassicPathLength = 247;

// Path transformations (pure text).
// True when length is above 4 and the text starts with "\\?\".
bool HasLongPathPrefix(std::u16string_view text, int length);
inline bool HasLongPathPrefix(std::u16string_view text) {
  return HasLongPathPrefix(text, static_cast<int>(text.size()));
}
// A path of 248 characters or more without the prefix gets it ("\\?\UNC"
// plus the path from its second character for a UNC path); others pass.
std::u16string AddLongPathPrefix(const std::u16string& path);
// The text of buffer[0..length) without its prefix ("\\?\UNC\x" gives
// "\\x" when length is above 8); a negative length gives an empty text.
std::u16string StripLongPathPrefix(std::u16string_view buffer, int length);
inline std::u16string StripLongPathPrefix(std::u16string_view text) {
  return StripLongPathPrefix(text, static_cast<int>(text.size()));
}

// The class operations. A C++ class reference is a pointer to one prototype
// object of the class; the operations never use its state. Replacing the
// implementation means deriving from TFileAPI and assigning the derived
// class's prototype to FileApiClass. No operation raises: failures are
// results (false, -1, INVALID_HANDLE_VALUE) with the platform's last error.
class TFileAPI : public TRefObject {
 public:
  QEL_CLASSNAME(TFileAPI)

  // module 0: the executable. Prefix removed; at most 32,767 characters.
  virtual std::u16string GetModuleFileName(uintptr_t module);
  virtual std::u16string GetCommandLine();
  // Prefix removed; at most 32,767 characters.
  virtual std::u16string GetCurrentDirectory();
  virtual bool SetCurrentDirectory(const std::u16string& path);
  virtual THandle FindFirstFile(const std::u16string& path, TWin32FindData& data);
  virtual bool FindNextFile(THandle handle, TWin32FindData& data);
  virtual bool FindClose(THandle handle);
  // The attribute bits, or 0xFFFFFFFF (-1) when the path does not exist.
  virtual uint32_t GetFileAttributes(const std::u16string& path);
  virtual bool SetFileAttributes(const std::u16string& path, uint32_t attributes);
  virtual bool CreateDirectory(const std::u16string& path, const void* securityAttributes);
  virtual bool RemoveDirectory(const std::u16string& path);
  virtual THandle CreateFile(const std::u16string& path, uint32_t access, uint32_t shareMode,
                             const void* securityAttributes, uint32_t disposition, uint32_t flags,
                             THandle templateFile);
  // The 64-bit size, -1 on error.
  virtual int64_t GetFileSize(THandle handle);
  virtual bool CloseHandle(THandle handle);
  // The paths are passed as they are, without prefix.
  virtual bool MoveFileEx(const std::u16string& oldPath, const std::u16string& newPath, uint8_t flags);
  virtual bool DeleteFile(const std::u16string& path);
  // The most significant 32 bits of the fixed file version; -1 without a
  // version resource (always here: executables carry none).
  virtual int32_t GetFileVersionMS(const std::u16string& path);
  // The 8-bit form of the path for libraries that take no Unicode: here the
  // bytes of the translated path (true). When the path cannot be translated,
  // its ANSI conversion and false.
  virtual bool GetShortPathAnsi(const std::u16string& path, std::string& out);

  // Non-virtual operations.
  // The new 64-bit position, -1 on error. method: 0 start, 1 current, 2 end.
  int64_t SeekFile(THandle handle, int64_t distance, uint32_t method);
  bool SetEndOfFile(THandle handle);
  bool ReadFile(THandle handle, void* buffer, uint32_t count, uint32_t& transferred, void* overlapped = nullptr);
  bool WriteFile(THandle handle, const void* buffer, uint32_t count, uint32_t& transferred,
                 void* overlapped = nullptr);
  // At a given offset, without moving the handle's position.
  bool ReadFileAt(THandle handle, int64_t offset, void* buffer, uint32_t count, uint32_t& transferred);
  bool WriteFileAt(THandle handle, int64_t offset, const void* buffer, uint32_t count, uint32_t& transferred);
};

// The global class reference, read by every caller. Null until
// InitFileApiClass; FileApi() answers the default class then.
// Start-up only: set before any thread runs, then read without a lock.
extern TFileAPI* FileApiClass;
TFileAPI& FileApi();

// Unit start-up: sets the class reference to TFileAPI and gives the platform
// layer's case-insensitive name lookup the system's simple case folding.
void InitFileApiClass();
// Unit end: releases the default class's prototype.
void DoneFileApiClass();

}  // namespace foundation
