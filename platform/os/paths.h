// Path translation of the os area. Inside the program paths keep the Windows
// form ("\" separators, drive prefixes); the POSIX root is the reserved drive
// "Z:\". Only the file layer translates, at its boundary, so every path rule
// of the program's own text code holds literally.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform::os {

// The reserved drive letter that stands for the POSIX root.
inline constexpr char16_t kRootDrive = u'Z';

// UTF-16 name -> the bytes handed to the kernel. A surrogate U+DC80..U+DCFF
// stands for the byte it escapes (see fileNameFromBytes); a valid surrogate
// pair becomes one four-byte sequence; every other lone surrogate is written
// as its three-byte sequence.
std::string fileNameToBytes(std::u16string_view name);

// Kernel bytes -> UTF-16. Strict UTF-8; every byte that is not part of a
// valid sequence becomes the lone surrogate U+DC00 + byte, so any existing
// name round-trips through fileNameToBytes.
std::u16string fileNameFromBytes(std::string_view bytes);

// Internal path -> POSIX path. Answers 0 and fills out, or a Windows error
// code: 3 (path not found) for another drive, UNC names and "\\?\UNC\",
// 123 (invalid name) for a name holding NUL.
//  - a leading "\\?\" is removed;
//  - "Z:" (either case) is the root; a path that starts with one "\" or "/"
//    also means the root of the (only) drive; a path without drive stays
//    relative to the current directory;
//  - "\" and "/" become "/", repeated separators collapse, "." and ".." stay.
uint32_t toPosixPath(std::u16string_view path, std::string& out);

// POSIX path -> internal form: "/" becomes "Z:\", separators become "\".
// A relative path only has its separators turned.
std::u16string fromPosixPath(std::string_view posix);

}  // namespace platform::os
