// Small UTF-16 text routines shared by the whole system: character-set
// scans, trimming, "%N" argument substitution, integer parsing and
// hexadecimal and GUID text parsing. Positions are 1-based.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

#include "foundation/kpExceptions.h"
#include "foundation/kpTypes.h"

namespace foundation {

// A set of the characters U+0000..U+00FF: character c is in the set when bit
// (c mod 32) of word (c div 32) is 1. Characters at or above U+0100 are never
// in a set.
struct TCharSet {
  uint32_t Words[8] = {};

  constexpr TCharSet() = default;
  // The characters of the text (those above U+00FF are ignored).
  constexpr explicit TCharSet(std::u16string_view chars) {
    for (char16_t c : chars) Include(c);
  }
  constexpr TCharSet& Include(char16_t c) {
    if (c < 256) Words[c >> 5] |= 1u << (c & 31);
    return *this;
  }
  constexpr TCharSet& IncludeRange(char16_t first, char16_t last) {
    for (uint32_t c = first; c <= last && c < 256; ++c) Include(static_cast<char16_t>(c));
    return *this;
  }
  constexpr bool Contains(char16_t c) const { return c < 256 && (Words[c >> 5] >> (c & 31)) & 1u; }
};

// The conversion error of StrToInt (a class of the system's own).
class EConvertError : public TCommonException {
 public:
  using TCommonException::TCommonException;
};

// First position >= start (below 1 taken as 1) whose character is not in the
// set; length + 1 when none.
int32_t SkipCharSet(std::u16string_view s, const TCharSet& set, int32_t start);
// Within first..last (cut to 1..length): forward, the first position not in
// the set (last + 1 when none); backward, the last one (first - 1 when none).
int32_t SkipCharSetRange(std::u16string_view s, const TCharSet& set, int32_t first, int32_t last,
                         bool backward);
// First position >= start whose character is in the set; length + 1 when none.
int32_t FindCharSet(std::u16string_view s, const TCharSet& set, int32_t start);
// As SkipCharSetRange, for characters in the set.
int32_t FindCharSetRange(std::u16string_view s, const TCharSet& set, int32_t first, int32_t last,
                         bool backward);

// Without leading and trailing U+0020 (other blanks stay).
std::u16string TrimSpaces(std::u16string_view s);
// Without trailing characters at or below U+0020.
std::u16string TrimRight(std::u16string_view s);

// Replaces "%N" (N from 1 to the number of arguments) with argument N; any
// other "%" with its digits is removed. No escape for "%".
std::u16string FormatPercentArgs(std::u16string_view format, std::span<const std::u16string> args);
std::u16string FormatPercentArgs(std::u16string_view format, std::initializer_list<std::u16string> args);

// An optionally signed decimal int32 (leading blanks allowed; "$", "0x" or
// "x" introduce 32-bit hexadecimal). Raises EConvertError:
// "\"<text>\" is not a valid integer value".
int32_t StrToInt(std::u16string_view s);
// The same; the default on any error.
int32_t StrToIntDef(std::u16string_view s, int32_t def);

// count hexadecimal digits from the 1-based position, most significant
// first; False at the first other character (or the end of the text).
bool ParseHexDigits(std::u16string_view s, int32_t position, int32_t count, uint32_t& value);
bool ParseHexWord(std::u16string_view s, int32_t position, int32_t count, uint16_t& value);
bool ParseHexByte(std::u16string_view s, int32_t position, int32_t count, uint8_t& value);

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (38 characters, either case);
// False otherwise (the GUID may then be partly filled).
bool TextToGuid(std::u16string_view s, TGUID& guid);

}  // namespace foundation
