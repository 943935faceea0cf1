// UTF-16 text against code pages, case mapping and ordinal comparison.
//
// 8-bit strings carry bytes in the system ANSI code page (code page 0 of the
// platform). Positions in UTF-16 and 8-bit strings are 1-based; positions in
// byte buffers 0-based.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "foundation/kvUTF8.h"

namespace foundation {

// The UTF-16 text of buffer[start..start+count) in a code page; empty on failure.
void AnsiBytesToUnicode(std::u16string& s, const uint8_t* bytes, size_t length, int start, int count,
                        uint32_t codePage);
// The bytes of count UTF-16 units of text in a code page; empty on failure.
void UnicodeToAnsiBytes(TByteDynArray& bytes, const char16_t* text, int count, uint32_t codePage);
// The same for a part of s (empty range: empty array).
void UnicodeRangeToAnsiBytes(TByteDynArray& bytes, const std::u16string& s, int start, int count,
                             uint32_t codePage);

// 8-bit strings in the system ANSI code page.
std::string UnicodeToAnsi(const std::u16string& s);
std::string UnicodeToAnsiRange(const std::u16string& s, int start, int count);
std::u16string AnsiToUnicode(const std::string& s);
std::u16string AnsiToUnicodeRange(const std::string& s, int start, int count);

enum : int { caseUpper = 0, caseLower = 1 };

// Mode caseUpper or caseLower of a part of s; the start must lie within the
// text (else empty). Any other mode asserts.
std::u16string ChangeCaseRange(const std::u16string& s, int start, int count, int mode);
std::u16string UpperCaseStr(const std::u16string& s);
std::u16string UpperCaseLeft(const std::u16string& s, int count);
std::u16string UpperCaseCopy(const std::u16string& s, int start, int count);
std::u16string LowerCaseStr(const std::u16string& s);
std::u16string LowerCaseCopy(const std::u16string& s, int start, int count);

// ignoreCase: the folded comparison of both whole texts; else ordinal (the
// first differing units decide, equal prefixes give the length difference).
int CompareStrings(const std::u16string& a, const std::u16string& b, bool ignoreCase);
// Difference of the first differing units among count units from startA and
// startB (1-based); 0 when none differ. Units past either text are not compared.
int CompareUnitsOrdinal(const std::u16string& a, const std::u16string& b, int startA, int startB, int count);
// The part (start below 1 taken as 1, count cut to the text).
std::u16string CopyUnicode(const std::u16string& s, int start, int count);

}  // namespace foundation
