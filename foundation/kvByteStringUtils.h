// UTF-8 stepping, comparisons and string hashes on raw byte ranges.
//
// A range is a byte buffer with its length and the positions start..end (end
// exclusive and cut to the length; start below 0 taken as 0). Code points are
// compared and hashed, so text written with separately encoded surrogate
// halves and standard four-byte UTF-8 compare equal and hash alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace foundation {

inline constexpr uint32_t Utf8Invalid = 0xFFFFFFFF;

// The code point at pos of buffer[0..length), pos moved past it. Utf8Invalid
// for pos at or past the end (pos unchanged), for a stray continuation or
// 0xFE/0xFF lead (skipped with the continuation bytes after it), for a cut
// sequence (pos where it would end) and for a sequence broken by a
// non-continuation byte (pos at that byte). A high surrogate followed by a
// low surrogate sequence is joined into one code point.
uint32_t Utf8NextCodePoint(const uint8_t* buffer, size_t length, size_t& pos);

// Case-insensitive comparison of two UTF-8 ranges (simple case folding):
// 0 equal, negative when A sorts first, positive otherwise.
int CompareUtf8NoCase(const uint8_t* a, size_t lengthA, int startA, int endA, const uint8_t* b, size_t lengthB,
                      int startB, int endB);
// A UTF-8 range against a part of a UTF-16 text (1-based start), by code point.
int CompareUtf8WithUnicode(const uint8_t* a, size_t lengthA, int startA, int endA, const std::u16string& s,
                           int start, int count);
int CompareUtf8WithUnicodeNoCase(const uint8_t* a, size_t lengthA, int startA, int endA,
                                 const std::u16string& s, int start, int count);

// The string hash: one step per byte, t := h + b; h := t - rotl32(t, 13).
uint32_t HashStep(uint32_t h, uint8_t b);
uint32_t HashBytes(uint32_t seed, const uint8_t* bytes, size_t length, int start, int end);
// Feeds the UTF-8 of a code point (a supplementary one as two three-byte
// surrogate sequences; above U+10FFFF nothing).
uint32_t HashCodePoint(uint32_t h, uint32_t cp);
uint32_t HashUtf8(const uint8_t* bytes, size_t length, int start, int end);
uint32_t HashUtf8NoCase(const uint8_t* bytes, size_t length, int start, int end);
// The HashUtf8NoCase value of a part of a UTF-16 text (1-based start).
uint32_t HashUnicodeNoCase(const std::u16string& s, int start, int count);

// Writes the decimal text of value at pos (below 0 taken as 0) of buffer;
// answers its length, or minus the length (writing nothing) when it would
// pass min(limit, bufferLength).
int FormatIntToBuffer(int32_t value, uint8_t* buffer, size_t bufferLength, int pos, int limit);

inline uint32_t MinCardinal(uint32_t a, uint32_t b) { return a < b ? a : b; }

}  // namespace foundation
