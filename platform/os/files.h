// File services of the os area: CreateFile-shaped opens with share modes,
// reads and writes, 64-bit sizes and offsets, attributes, folders, finding,
// reparse data and the program's own names. Paths are internal ("Z:\..."
// form, UTF-16); every call that can fail sets the thread-local last error
// with Windows numbering (platform/os/errors.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os/clock.h"  // SystemTime

namespace platform::os {

// Handles are never reused while the process runs.
using Handle = uintptr_t;
inline constexpr Handle INVALID_HANDLE_VALUE = ~Handle(0);

// Access rights.
inline constexpr uint32_t GENERIC_READ = 0x80000000u;
inline constexpr uint32_t GENERIC_WRITE = 0x40000000u;
// Share modes.
inline constexpr uint32_t FILE_SHARE_READ = 1;
inline constexpr uint32_t FILE_SHARE_WRITE = 2;
inline constexpr uint32_t FILE_SHARE_DELETE = 4;
// Creation dispositions.
inline constexpr uint32_t CREATE_NEW = 1;
inline constexpr uint32_t CREATE_ALWAYS = 2;
inline constexpr uint32_t OPEN_EXISTING = 3;
inline constexpr uint32_t OPEN_ALWAYS = 4;
inline constexpr uint32_t TRUNCATE_EXISTING = 5;
// Open flags.
inline constexpr uint32_t FILE_FLAG_BACKUP_SEMANTICS = 0x02000000u;
inline constexpr uint32_t FILE_FLAG_OPEN_REPARSE_POINT = 0x00200000u;
// Seek origins.
inline constexpr uint32_t FILE_BEGIN = 0;
inline constexpr uint32_t FILE_CURRENT = 1;
inline constexpr uint32_t FILE_END = 2;
// Move flags.
inline constexpr uint32_t MOVEFILE_REPLACE_EXISTING = 1;
inline constexpr uint32_t MOVEFILE_COPY_ALLOWED = 2;
// Attributes.
inline constexpr uint32_t FILE_ATTRIBUTE_READONLY = 0x01;
inline constexpr uint32_t FILE_ATTRIBUTE_HIDDEN = 0x02;
inline constexpr uint32_t FILE_ATTRIBUTE_SYSTEM = 0x04;
inline constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
inline constexpr uint32_t FILE_ATTRIBUTE_ARCHIVE = 0x20;
inline constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr uint32_t FILE_ATTRIBUTE_REPARSE_POINT = 0x400;
inline constexpr uint32_t FILE_ATTRIBUTE_COMPRESSED = 0x800;
inline constexpr uint32_t INVALID_FILE_ATTRIBUTES = 0xFFFFFFFFu;
// Reparse data.
inline constexpr uint32_t FSCTL_GET_REPARSE_POINT = 0x900A8;
inline constexpr uint32_t IO_REPARSE_TAG_MOUNT_POINT = 0xA0000003u;
inline constexpr uint32_t IO_REPARSE_TAG_SYMLINK = 0xA000000Cu;
inline constexpr uint32_t MAXIMUM_REPARSE_DATA_BUFFER_SIZE = 16384;
// Error mode.
inline constexpr uint32_t SEM_FAILCRITICALERRORS = 0x0001;
inline constexpr uint32_t SEM_NOOPENFILEERRORBOX = 0x8000;

// 100-ns units since 1601-01-01 UTC.
using FileTime = uint64_t;

// One entry of a find.
struct FindData {
  uint32_t attributes = 0;
  FileTime creationTime = 0;
  FileTime lastAccessTime = 0;
  FileTime lastWriteTime = 0;
  uint64_t size = 0;
  std::u16string name;
  std::u16string alternateName;  // always empty: there are no 8.3 names
};

// --- Handles -------------------------------------------------------------
// How many system calls the handle operations made since the process began
// (every thread together): what tests count to prove an operation does a
// fixed number of them. Each field counts the calls of its kind.
struct FileCallCounts {
  uint64_t opens = 0;   // open
  uint64_t closes = 0;  // close
  uint64_t reads = 0;   // read and pread
  uint64_t writes = 0;  // write and pwrite
  uint64_t seeks = 0;   // lseek
  uint64_t stats = 0;   // fstat
  uint64_t total() const { return opens + closes + reads + writes + seeks + stats; }
};
FileCallCounts fileCallCounts();

// Opens or creates a file. Share mode 0 takes an exclusive advisory lock,
// any other share mode a shared one; a lock that cannot be taken fails with
// 32 (sharing violation), so a file held with share mode 0 cannot be opened
// again by this or any other process. Flags with FILE_FLAG_OPEN_REPARSE_POINT
// open a link itself (no lock). Returns INVALID_HANDLE_VALUE on failure.
Handle createFile(std::u16string_view path, uint32_t access, uint32_t shareMode,
                  uint32_t disposition, uint32_t flags);
bool closeHandle(Handle h);
// Reads up to count bytes; *transferred is 0 at the end of the file.
bool readFile(Handle h, void* buffer, uint32_t count, uint32_t* transferred);
// Writes count bytes. A short write answers false with the count written and
// the error set (112 for a full disk).
bool writeFile(Handle h, const void* buffer, uint32_t count, uint32_t* transferred);
// The same at a given offset, leaving the handle's position alone (the
// offset-based reads and writes of an overlapped record).
bool readFileAt(Handle h, int64_t offset, void* buffer, uint32_t count, uint32_t* transferred);
bool writeFileAt(Handle h, int64_t offset, const void* buffer, uint32_t count, uint32_t* transferred);
// 64-bit size, or -1 with the error set.
int64_t getFileSize(Handle h);
// Moves the position; answers the new position, or -1 with the error set.
int64_t setFilePointer(Handle h, int64_t distance, uint32_t method);
// Cuts (or extends) the file at the current position.
bool setEndOfFile(Handle h);
// FSCTL_GET_REPARSE_POINT on a handle opened with the reparse flags: fills
// out with the reparse data layout of a symbolic link (tag, lengths, flags,
// substitute and print names, UTF-16, target in internal form).
bool deviceIoControl(Handle h, uint32_t code, void* out, uint32_t outSize, uint32_t* returned);

// --- Names -----------------------------------------------------------------
bool deleteFile(std::u16string_view path);
bool moveFileEx(std::u16string_view from, std::u16string_view to, uint32_t flags);
bool createDirectory(std::u16string_view path);
bool removeDirectory(std::u16string_view path);
// Makes path a folder only this user can use: created owner-only (0700) when
// missing (its parent must exist); an existing one must be a real folder (not
// a link) owned by this user, and loses any group and other permissions.
// False with error 5 when the folder belongs to someone else or is a link.
bool ensurePrivateDirectory(std::u16string_view path);
uint32_t getFileAttributes(std::u16string_view path);
bool setFileAttributes(std::u16string_view path, uint32_t attributes);
// The size of a compressed file: the size (no compression here), or -1.
int64_t getCompressedFileSize(std::u16string_view path);

// --- Finding ---------------------------------------------------------------
// pattern: a folder followed by a name that may hold "*" and "?" (matched
// without regard to case; "*.*" matches every name). The folder's "." and
// ".." are reported. Errors: 3 when the folder is missing, 2 when nothing
// matches; findNextFile sets 18 at the end.
Handle findFirstFile(std::u16string_view pattern, FindData& data);
bool findNextFile(Handle h, FindData& data);
bool findClose(Handle h);
// Windows wildcard match without regard to case (exposed for tests).
bool matchWildcard(std::u16string_view pattern, std::u16string_view name);

// --- Current directory and the program ------------------------------------
std::u16string getCurrentDirectory();
bool setCurrentDirectory(std::u16string_view path);
// The running executable in internal form ("Z:\opt\qel\player").
std::u16string getModuleFileName();
// The command line rebuilt from the arguments, each word added by
// appendCommandWord; a word that begins with "/" and names an existing file
// or folder is given in internal form.
std::u16string getCommandLine();
// Appends one word to a command line (a blank before it unless the line is
// empty) so that the command-line splitter reads it back as one token: a
// word holding a character of code 32 or below or a double quote, or an
// empty word, is put in double quotes, each inner quote doubled. The
// splitter drops every double quote, so a word reads back without its quotes.
void appendCommandWord(std::u16string& line, std::u16string_view word);
// The 8-bit form of a path for libraries that take no Unicode: the bytes of
// the translated path.
bool getShortPathBytes(std::u16string_view path, std::string& out);

// --- Times and error mode ----------------------------------------------------
bool fileTimeToLocalFileTime(FileTime utc, FileTime& local);
bool fileTimeToSystemTime(FileTime t, SystemTime& out);
// Critical-error dialogs do not exist here: the mode is only remembered.
uint32_t setErrorMode(uint32_t mode);

// --- Case-insensitive name lookup --------------------------------------------
// When an exact name is missing the layer searches again component by
// component, comparing names code point by code point through this folding.
// The default folds ASCII letters; the foundation installs its simple case
// folding at start-up.
using CaseFoldFn = char32_t (*)(char32_t);
void setCaseFoldFunction(CaseFoldFn fold);
CaseFoldFn caseFoldFunction();

}  // namespace platform::os
