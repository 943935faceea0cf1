// Builds the bytes of INI texts in the encodings and line ends the loader
// reads: UTF-8 with or without byte-order mark, UTF-16 little endian with its
// mark, and code page 1252; CR LF, LF, CR and LF CR line ends.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

enum class IniEncoding { Utf8Bom, Utf8, Utf16LeBom, Cp1252 };
enum class IniLineEnd { CrLf, Lf, Cr, LfCr };

const char* IniEncodingName(IniEncoding e);
const char* IniLineEndName(IniLineEnd e);

// The lines (UTF-8) joined with the line end and encoded; finalLineEnd adds
// one after the last line. Characters code page 1252 cannot hold become "?".
std::vector<uint8_t> BuildIniText(const std::vector<std::string>& lines, IniEncoding encoding,
                                  IniLineEnd lineEnd, bool finalLineEnd = true);
// The same for a text whose lines are separated by LF.
std::vector<uint8_t> BuildIniText(std::string_view text, IniEncoding encoding, IniLineEnd lineEnd,
                                  bool finalLineEnd = true);

// Splits a text at LF.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace testsupport
