// Small value helpers shared by every subsystem: number texts, GUIDs, a
// clamp, a multiply-then-divide and typed reads and writes at byte offsets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace foundation {

// The standard 16-byte GUID record.
struct TGUID {
  uint32_t Data1 = 0;
  uint16_t Data2 = 0;
  uint16_t Data3 = 0;
  uint8_t Data4[8] = {};
  friend bool operator==(const TGUID&, const TGUID&) = default;
};
static_assert(sizeof(TGUID) == 16);

// Decimal text, "-" for negatives.
std::u16string IntToStr(int32_t value);
// IntToStr padded on the left with pad up to width characters.
std::u16string IntToStrPadded(int32_t value, int32_t width, char16_t pad);
// Upper-case hexadecimal with at least `digits` digits (below 1: as many as
// needed, at least one).
std::u16string IntToHex(uint64_t value, int32_t digits);
// Fixed-point text with `decimals` decimals, trailing zeros trimmed.
std::u16string FloatToStrTrimmed(double value, int32_t decimals);

// The text becomes count UTF-16 units copied from buffer at start (units).
void SetUnicodeFromBuffer(std::u16string& text, const char16_t* buffer, int32_t start, int32_t count);

bool BytesEqual(const void* a, const void* b, size_t count);
bool SameGUID(const TGUID& a, const TGUID& b);
// A fresh random (version-4) GUID.
void CreateGUID(TGUID& guid);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper case.
std::u16string GUIDToString(const TGUID& guid);

// Write 2, 4 or 8 upper-case hexadecimal digits into text at a 1-based
// position (the text must be long enough).
void PutHexByte(std::u16string& text, int32_t position, uint8_t value);
void PutHexWord(std::u16string& text, int32_t position, uint16_t value);
void PutHexDWord(std::u16string& text, int32_t position, uint32_t value);
// Writes the 36 characters between the braces at a 1-based position.
void PutGuidDigits(std::u16string& text, int32_t position, const TGUID& guid);

// min is tested first, so it wins when min > max.
int32_t EnsureRange(int32_t value, int32_t min, int32_t max);
// a * b in 64 bits, divided by c truncating toward zero.
int32_t MulDivInt(int32_t a, int32_t b, int32_t c);

// Typed reads and writes at a byte offset, little-endian machine order.
int32_t ReadInt32At(const void* buffer, size_t offset);
uint64_t ReadPointerAt(const void* buffer, size_t offset);
float ReadSingleAt(const void* buffer, size_t offset);
uint32_t ReadUInt32BEAt(const void* buffer, size_t offset);
void WriteInt32At(int32_t value, void* buffer, size_t offset);
void WriteSingleAt(float value, void* buffer, size_t offset);

}  // namespace foundation
