// TByteString: an immutable, cheaply copied run of bytes (normally UTF-8) with
// 0-based positions, compared and hashed by code point, compared directly with
// UTF-16 text and parsed into numbers in place; and its builder.
//
// Ranges are (start, count) with a 0-based start; unless said otherwise a
// start below 0 is taken as 0 and the count is cut to what the text holds.
// Parsers never raise: malformed text gives the caller's default.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/kpTypes.h"
#include "foundation/kvByteStringUtils.h"
#include "foundation/kvUTF8.h"

namespace foundation {

// The shared byte array of a TByteString; null for the empty text. Its bytes
// never change once shared.
using TSharedBytes = std::shared_ptr<const TByteDynArray>;

// A set of byte values: byte b is in the set when bit (b mod 32) of word
// (b div 32) is 1.
struct TByteSet {
  uint32_t Words[8] = {};
  bool Contains(uint8_t b) const { return (Words[b >> 5] >> (b & 31)) & 1u; }
  void Include(uint8_t b) { Words[b >> 5] |= 1u << (b & 31); }
  // The set of the given bytes.
  static TByteSet Of(std::string_view bytes) {
    TByteSet s;
    for (char c : bytes) s.Include(static_cast<uint8_t>(c));
    return s;
  }
};

class TByteString {
 public:
  static constexpr int MaxCount = INT_MAX;

  TByteString() = default;

  // The UTF-8 of a part of a UTF-16 text (1-based start), each unit by itself.
  static TByteString FromUnicode(const std::u16string& s, int start, int count);
  static TByteString FromUnicode(const std::u16string& s) { return FromUnicode(s, 1, MaxCount); }
  // A text holding a copy of the bytes.
  static TByteString FromBytes(std::string_view bytes);
  // A text sharing the array.
  static TByteString FromShared(TSharedBytes bytes) {
    TByteString t;
    t.SetBytes(std::move(bytes));
    return t;
  }

  // Shares the array (an empty array makes the text empty).
  void SetBytes(TSharedBytes bytes);
  // Takes the array over.
  void SetBytes(TByteDynArray bytes);

  int GetLength() const { return FBytes ? static_cast<int>(FBytes->size()) : 0; }
  bool IsEmpty() const { return !FBytes; }
  // Bytes available from start for the wanted count (never negative).
  int ClampCount(int start, int count) const;
  // The byte at index; the caller keeps index within 0..length-1.
  uint8_t GetByte(int index) const { return (*FBytes)[static_cast<size_t>(index)]; }
  // The bytes (null when empty).
  const uint8_t* Data() const { return FBytes ? FBytes->data() : nullptr; }
  const TSharedBytes& Bytes() const { return FBytes; }
  std::string_view View() const {
    return FBytes ? std::string_view(reinterpret_cast<const char*>(FBytes->data()), FBytes->size())
                  : std::string_view();
  }

  // A byte array of the range: the same array when it covers the whole text
  // and no copy is forced; null for an empty range.
  TSharedBytes SubString(int start, int count, bool forceCopy = false) const;
  // Copies the range into buffer at offset (below 0 taken as 0), cut to both;
  // the number copied.
  int CopyToBuffer(int start, int count, uint8_t* buffer, size_t bufferLength, int offset) const;

  // The text equals the range of other.
  bool EqualsSub(const TByteString& other, int start = 0, int count = MaxCount) const;
  // The text equals the range of buffer (start limited to 0..length, count to
  // what is left).
  bool EqualsBuffer(const uint8_t* buffer, size_t bufferLength, int start, int count) const;

  // First position >= pos whose byte is (not) in the set; the length when none.
  int FindCharSet(int pos, const TByteSet& set) const;
  int SkipCharSet(int pos, const TByteSet& set) const;

  uint32_t HashRange(int start = 0, int count = MaxCount) const;
  uint32_t HashTextRange(int start = 0, int count = MaxCount) const;

  // The UTF-16 text of the range; invalid or cut UTF-8 gives an empty text.
  std::u16string ToUnicode(int start = 0, int count = MaxCount) const;

  // Case-insensitive comparison of the whole text with other's range.
  int CompareTextSub(const TByteString& other, int start = 0, int count = MaxCount) const;
  // The whole text against a part of a UTF-16 text (1-based start).
  int CompareStr(const std::u16string& s, int start = 1, int count = MaxCount) const;
  int CompareText(const std::u16string& s, int start = 1, int count = MaxCount) const;
  // A range of the text against a part of a UTF-16 text.
  int CompareStrRange(int start, int count, const std::u16string& s, int start2, int count2) const;
  int CompareTextRange(int start, int count, const std::u16string& s, int start2, int count2) const;

  // Skips bytes 0x08 and 0x20, then consumes one "+" or "-". Start and count
  // move past what was consumed; answers whether the sign was "-".
  bool SkipBlanksAndSign(int& start, int& count) const;

  int32_t ToInt(int start = 0, int count = MaxCount) const { return ToIntDef(0, start, count); }
  int32_t ToIntDef(int32_t def, int start = 0, int count = MaxCount) const;
  int64_t ToInt64Def(int64_t def, int start = 0, int count = MaxCount) const;
  double ToFloatDef(double def, int start = 0, int count = MaxCount) const;
  uint32_t HexToIntDef(uint32_t def, int start = 0, int count = MaxCount) const;
  // True only when the range is exactly the one byte "1".
  bool ToBoolFlag(int start, int count) const;

 private:
  // Clamps (start, count) to the text: 0-based first byte and count.
  void Clamp(int start, int count, size_t& first, size_t& n) const;

  TSharedBytes FBytes;
};

// A text that stays empty, returned where an item is missing.
extern const TByteString EmptyByteString;

// The 38-character GUID text.
TByteString GuidToByteString(const TGUID& guid);

// 10 to the power n by square-and-multiply (the reciprocal for negative n).
double FloatIntPower(double x, int64_t n);

// Builds a text by inserts; Finish hands the bytes to a TByteString.
class TByteStringBuilder {
 public:
  // Opens count bytes at pos (a negative pos appends), set to fill (0-255) or
  // left unset for fill -1; answers the position opened.
  int InsertSpace(int pos, int count, int fill);
  int InsertByteString(int pos, const TByteString& text, int start = 0, int count = TByteString::MaxCount);
  int InsertBuffer(int pos, const uint8_t* buffer, size_t bufferLength, int start, int count);
  int InsertUnicode(int pos, const std::u16string& s, int start = 1, int count = TByteString::MaxCount);
  int InsertInt(int pos, int32_t value);
  int InsertInt64(int pos, int64_t value);
  // Fixed-point with the given decimals, trailing zeros (and then a trailing
  // point) removed.
  int InsertFloat(int pos, double value, int decimals);
  int InsertGuid(int pos, const TGUID& guid);

  int GetCount() const { return FBuffer.empty() ? 0 : FUsed; }
  int GetCapacity() const { return static_cast<int>(FBuffer.size()); }
  // The used bytes so far.
  const uint8_t* Data() const { return FBuffer.data(); }

  // Hands the used bytes to text and leaves the builder without a buffer; an
  // empty builder gives an empty text.
  void Finish(TByteString& text);

 private:
  int InsertText(int pos, std::string_view text);

  TByteDynArray FBuffer;  // its size is the capacity
  int FUsed = 0;
};

}  // namespace foundation
