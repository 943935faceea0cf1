// The thread's last system error (Windows numbering) and the English texts of
// the codes the layer produces.
#pragma once

#include <cstdint>
#include <string>

namespace platform::os {

constexpr uint32_t ERROR_SUCCESS = 0;
constexpr uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr uint32_t ERROR_PATH_NOT_FOUND = 3;
constexpr uint32_t ERROR_ACCESS_DENIED = 5;
constexpr uint32_t ERROR_INVALID_HANDLE = 6;
constexpr uint32_t ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr uint32_t ERROR_NO_MORE_FILES = 18;
constexpr uint32_t ERROR_SHARING_VIOLATION = 32;
constexpr uint32_t ERROR_FILE_EXISTS = 80;
constexpr uint32_t ERROR_INVALID_PARAMETER = 87;
constexpr uint32_t ERROR_DISK_FULL = 112;
constexpr uint32_t ERROR_INVALID_NAME = 123;
constexpr uint32_t ERROR_MOD_NOT_FOUND = 126;
constexpr uint32_t ERROR_PROC_NOT_FOUND = 127;
constexpr uint32_t ERROR_DIR_NOT_EMPTY = 145;
constexpr uint32_t ERROR_ALREADY_EXISTS = 183;
constexpr uint32_t ERROR_MORE_DATA = 234;
constexpr uint32_t ERROR_NO_MORE_ITEMS = 259;

// The calling thread's last error code.
uint32_t getLastError();
void setLastError(uint32_t code);

// The code for a POSIX errno value, for the generic cases: ENOENT gives
// ERROR_FILE_NOT_FOUND (callers that know a parent is missing use
// ERROR_PATH_NOT_FOUND), ENOTDIR ERROR_PATH_NOT_FOUND, EACCES/EPERM/EROFS
// ERROR_ACCESS_DENIED, EBADF ERROR_INVALID_HANDLE, ENOMEM
// ERROR_NOT_ENOUGH_MEMORY, EEXIST ERROR_FILE_EXISTS, EINVAL
// ERROR_INVALID_PARAMETER, ENOSPC/EDQUOT ERROR_DISK_FULL, ENAMETOOLONG and
// EILSEQ ERROR_INVALID_NAME, ENOTEMPTY ERROR_DIR_NOT_EMPTY, 0 ERROR_SUCCESS;
// any other value gives 0x20000000 | errno (the application-defined range,
// so it never collides with a system code).
uint32_t errorFromErrno(int err);

// Sets the last error from errno through errorFromErrno; returns the code.
uint32_t setLastErrorFromErrno(int err);

// The English message for a code ("The system cannot find the file
// specified."), or "Unknown error <n>".
std::u16string errorMessage(uint32_t code);

}  // namespace platform::os
