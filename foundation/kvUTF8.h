// Conversion between UTF-16 text and UTF-8 bytes, and UTF-8 validation.
//
// UTF-8 is written one 16-bit unit at a time: a unit below U+0080 gives one
// byte, below U+0800 two, any other unit three, so a surrogate pair becomes
// two three-byte sequences. Every reader accepts that form as well as
// standard four-byte sequences, and never reads outside the range it is given.
// Positions in UTF-16 and 8-bit strings are 1-based; positions in byte buffers
// are 0-based.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace foundation {

using TByteDynArray = std::vector<uint8_t>;

// Results of ScanUTF8.
enum : int {
  utf8Empty = 0,      // no bytes
  utf8Ascii = 1,      // every byte below 0x80
  utf8Valid = 2,      // valid, with multi-byte sequences
  utf8Invalid = 3,    // a malformed sequence
  utf8Truncated = 4,  // a sequence cut by the end of the range
};

// Below U+10000: high := cp, result 0. Else the surrogate pair, result 1.
// Asserts ("Invalud Unicode Range") above U+10FFFF.
int EncodeSurrogatePair(uint32_t cp, char16_t& high, char16_t& low);

// Number of UTF-8 bytes of a part of s (1, 2 or 3 per unit).
int UTF8LengthOfRange(const std::u16string& s, int start, int count);

std::string UnicodeToUTF8(const std::u16string& s);
std::string UnicodeToUTF8Range(const std::u16string& s, int start, int count);
// The UTF-8 of a part of s in an array of exactly its length (empty range: empty array).
void UnicodeToUTF8Bytes(TByteDynArray& bytes, const std::u16string& s, int start, int count);

// Encodes units of s into buffer (bufferLength bytes) from offset, stopping
// before a sequence that would pass min(limit, bufferLength). Returns the
// number of units encoded and advances offset. A start below 1 or a negative
// offset encodes nothing.
int EncodeUTF8Into(const std::u16string& s, int start, int count, uint8_t* buffer, size_t bufferLength,
                   int& offset, int limit);

// Classifies bytes pos..end-1 of buffer (pos below 0 taken as 0, end cut to
// length) and counts the UTF-16 units they decode to. pos ends after the last
// complete character. Returns one of utf8Empty..utf8Truncated.
int ScanUTF8(const uint8_t* buffer, size_t length, int& pos, int& units, int end);

// Decodes buffer[start..start+count); true with the text for valid data,
// false with an empty text for invalid or cut data.
bool UTF8BytesToUnicode(const uint8_t* buffer, size_t length, int start, int count, std::u16string& s);
inline bool UTF8BytesToUnicode(const TByteDynArray& bytes, int start, int count, std::u16string& s) {
  return UTF8BytesToUnicode(bytes.data(), bytes.size(), start, count, s);
}

// Whole strings, string parts (1-based) and buffer parts (0-based); invalid
// or cut data gives an empty text.
std::u16string UTF8ToUnicode(const std::string& s);
std::u16string UTF8ToUnicodeRange(const std::string& s, int start, int count);
void UTF8BufferToUnicode(std::u16string& s, const uint8_t* buffer, size_t length, int start, int count);

// Decodes the scanned range pos..end-1 into s, which is already sized to the
// counted units. Writes no more than s holds; a malformed sequence ends it.
void DecodeUTF8Into(const uint8_t* buffer, size_t length, int pos, int end, std::u16string& s);

}  // namespace foundation
