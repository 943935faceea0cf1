#include "platform/os/errors.h"

#include <cerrno>

namespace platform::os {

namespace {
thread_local uint32_t tLastError = 0;

struct MessageEntry {
  uint32_t code;
  const char16_t* text;
};

const MessageEntry kMessages[] = {
    {ERROR_SUCCESS, u"The operation completed successfully."},
    {1, u"Incorrect function."},
    {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, u"The system cannot find the path specified."},
    {4, u"The system cannot open the file."},
    {ERROR_ACCESS_DENIED, u"Access is denied."},
    {ERROR_INVALID_HANDLE, u"The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, u"Not enough memory resources are available to process this command."},
    {14, u"Not enough memory resources are available to complete this operation."},
    {15, u"The system cannot find the drive specified."},
    {ERROR_NO_MORE_FILES, u"There are no more files."},
    {21, u"The device is not ready."},
    {ERROR_SHARING_VIOLATION, u"The process cannot access the file because it is being used by another process."},
    {33, u"The process cannot access the file because another process has locked a portion of the file."},
    {38, u"Reached the end of the file."},
    {50, u"The request is not supported."},
    {ERROR_FILE_EXISTS, u"The file exists."},
    {82, u"The directory or file cannot be created."},
    {ERROR_INVALID_PARAMETER, u"The parameter is incorrect."},
    {109, u"The pipe has been ended."},
    {ERROR_DISK_FULL, u"There is not enough space on the disk."},
    {120, u"This function is not supported on this system."},
    {122, u"The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, u"The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_MOD_NOT_FOUND, u"The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, u"The specified procedure could not be found."},
    {ERROR_DIR_NOT_EMPTY, u"The directory is not empty."},
    {ERROR_ALREADY_EXISTS, u"Cannot create a file when that file already exists."},
    {206, u"The filename or extension is too long."},
    {ERROR_MORE_DATA, u"More data is available."},
    {ERROR_NO_MORE_ITEMS, u"No more data is available."},
    {267, u"The directory name is invalid."},
    {1460, u"This operation returned because the timeout period expired."},
};

std::u16string decimal(uint32_t v) {
  std::u16string s;
  do {
    s.insert(s.begin(), static_cast<char16_t>(u'0' + v % 10));
    v /= 10;
  } while (v);
  return s;
}
}  // namespace

uint32_t getLastError() { return tLastError; }

void setLastError(uint32_t code) { tLastError = code; }

uint32_t errorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST: return ERROR_FILE_EXISTS;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case ENAMETOOLONG:
    case EILSEQ: return ERROR_INVALID_NAME;
    case ENOTEMPTY: return ERROR_DIR_NOT_EMPTY;
    default: return 0x20000000u | static_cast<uint32_t>(err);
  }
}

uint32_t setLastErrorFromErrno(int err) {
  uint32_t code = errorFromErrno(err);
  tLastError = code;
  return code;
}

std::u16string errorMessage(uint32_t code) {
  for (const MessageEntry& e : kMessages)
    if (e.code == code) return e.text;
  return u"Unknown error " + decimal(code);
}

}  // namespace platform::os
