// The assertion raise of this library: every argument check of the bitmap
// layer raises the assertion exception with its source file and line.
#pragma once

#include <string>

namespace imaging {

[[noreturn]] void ImagingAssertFail(const std::string& Message, const char* File, int Line);

}  // namespace imaging

#define IMG_ASSERT(cond, msg)                                        \
  do {                                                               \
    if (!(cond)) ::imaging::ImagingAssertFail((msg), __FILE__, __LINE__); \
  } while (0)
