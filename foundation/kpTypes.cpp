#include "foundation/kpTypes.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

namespace foundation {

namespace {
const char16_t kHexDigits[] = u"0123456789ABCDEF";

std::u16string Widen(const char* s) {
  std::u16string out;
  for (; *s; ++s) out += static_cast<char16_t>(static_cast<unsigned char>(*s));
  return out;
}
}  // namespace

std::u16string IntToStr(int32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%d", value);
  return Widen(buf);
}

std::u16string IntToStrPadded(int32_t value, int32_t width, char16_t pad) {
  std::u16string s = IntToStr(value);
  if (static_cast<int32_t>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), pad);
  return s;
}

std::u16string IntToHex(uint64_t value, int32_t digits) {
  char16_t buf[16];
  int n = 0;
  do {
    buf[15 - n] = kHexDigits[value & 0xF];
    value >>= 4;
    ++n;
  } while (value);
  std::u16string s(buf + 16 - n, buf + 16);
  if (digits > n) s.insert(0, static_cast<size_t>(digits - n), u'0');
  return s;
}

// Fixed-point text rounded from the value's 15 significant decimal digits
// (half away from zero), so that 2.675 gives 2.68 as a person expects, not
// the 2.67 of its binary value. Values of 1E15 and more are written in
// scientific form.
static std::string FixedText(double value, int32_t decimals) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
  if (decimals < 0) decimals = 0;
  if (decimals > 18) decimals = 18;
  char buf[64];
  if (std::fabs(value) >= 1e15) {
    std::snprintf(buf, sizeof buf, "%.14E", value);
    return buf;
  }
  std::snprintf(buf, sizeof buf, "%.14e", value);
  bool negative = buf[0] == '-';
  const char* p = buf + (negative ? 1 : 0);
  std::string digits;
  digits += p[0];
  digits.append(p + 2, 14);
  int exponent = std::atoi(p + 17);
  // Integer digits: exponent + 1 (may be <= 0).
  int pointPos = exponent + 1;
  int keep = pointPos + decimals;  // digits kept from the 15
  std::string kept;
  if (keep < 0) {
    kept.clear();
    pointPos = keep = 0;
  } else if (keep < 15) {
    kept = digits.substr(0, static_cast<size_t>(keep));
    if (digits[static_cast<size_t>(keep)] >= '5') {
      int i = keep - 1;
      while (i >= 0 && kept[static_cast<size_t>(i)] == '9') kept[static_cast<size_t>(i--)] = '0';
      if (i >= 0) {
        ++kept[static_cast<size_t>(i)];
      } else {
        kept.insert(kept.begin(), '1');
        ++pointPos;
        ++keep;
      }
    }
  } else {
    kept = digits + std::string(static_cast<size_t>(keep - 15), '0');
  }
  // Place the decimal point.
  std::string intPart, fracPart;
  if (pointPos <= 0) {
    intPart = "0";
    fracPart = std::string(static_cast<size_t>(-pointPos), '0') + kept;
  } else {
    intPart = kept.substr(0, static_cast<size_t>(pointPos));
    fracPart = kept.substr(static_cast<size_t>(pointPos));
  }
  while (intPart.size() > 1 && intPart[0] == '0') intPart.erase(0, 1);
  if (intPart.empty()) intPart.assign(1, '0');
  fracPart.resize(static_cast<size_t>(decimals), '0');
  std::string text = intPart;
  if (decimals > 0) {
    text += '.';
    text += fracPart;
  }
  bool allZero = text.find_first_not_of("0.") == std::string::npos;
  if (negative && !allZero) text.insert(text.begin(), '-');
  return text;
}

std::u16string FloatToStrTrimmed(double value, int32_t decimals) {
  std::u16string s = Widen(FixedText(value, decimals).c_str());
  if (decimals <= 0) return s;
  size_t last = s.find_last_not_of(u'0');
  if (last == std::u16string::npos || last + 1 == s.size()) return s;
  if (s[last] == u'.') return s.substr(0, last);
  for (size_t i = last + 1; i-- > 0;) {
    if (s[i] == u'.') return s.substr(0, last + 1);
    if (s[i] == u'E' || s[i] == u'e') return s;
  }
  return s;
}

void SetUnicodeFromBuffer(std::u16string& text, const char16_t* buffer, int32_t start, int32_t count) {
  if (count <= 0 || !buffer) {
    text.clear();
    return;
  }
  text.assign(buffer + start, static_cast<size_t>(count));
}

bool BytesEqual(const void* a, const void* b, size_t count) {
  return count == 0 || std::memcmp(a, b, count) == 0;
}

bool SameGUID(const TGUID& a, const TGUID& b) { return BytesEqual(&a, &b, sizeof(TGUID)); }

void CreateGUID(TGUID& guid) {
  uint8_t bytes[16];
  bool ok = true;
  try {
    std::random_device dev;
    for (int i = 0; i < 16; i += 4) {
      uint32_t r = dev();
      std::memcpy(bytes + i, &r, 4);
    }
  } catch (...) {
    ok = false;
  }
  if (ok) {
    std::memcpy(&guid, bytes, 16);
    guid.Data3 = static_cast<uint16_t>((guid.Data3 & 0x0FFF) | 0x4000);
    guid.Data4[0] = static_cast<uint8_t>((guid.Data4[0] & 0x3F) | 0x80);
    return;
  }
  // No system source: 16 bytes from the run-time generator.
  static std::mt19937 gen(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&guid)) ^
                          static_cast<uint32_t>(std::time(nullptr)));
  for (auto& b : bytes) b = static_cast<uint8_t>(gen() & 0xFF);
  std::memcpy(&guid, bytes, 16);
}

void PutHexByte(std::u16string& text, int32_t position, uint8_t value) {
  text[static_cast<size_t>(position - 1)] = kHexDigits[value >> 4];
  text[static_cast<size_t>(position)] = kHexDigits[value & 0xF];
}

void PutHexWord(std::u16string& text, int32_t position, uint16_t value) {
  PutHexByte(text, position, static_cast<uint8_t>(value >> 8));
  PutHexByte(text, position + 2, static_cast<uint8_t>(value));
}

void PutHexDWord(std::u16string& text, int32_t position, uint32_t value) {
  PutHexWord(text, position, static_cast<uint16_t>(value >> 16));
  PutHexWord(text, position + 4, static_cast<uint16_t>(value));
}

void PutGuidDigits(std::u16string& text, int32_t position, const TGUID& guid) {
  PutHexDWord(text, position, guid.Data1);
  text[static_cast<size_t>(position + 7)] = u'-';
  PutHexWord(text, position + 9, guid.Data2);
  text[static_cast<size_t>(position + 12)] = u'-';
  PutHexWord(text, position + 14, guid.Data3);
  text[static_cast<size_t>(position + 17)] = u'-';
  PutHexByte(text, position + 19, guid.Data4[0]);
  PutHexByte(text, position + 21, guid.Data4[1]);
  text[static_cast<size_t>(position + 22)] = u'-';
  for (int i = 0; i < 6; ++i) PutHexByte(text, position + 24 + 2 * i, guid.Data4[2 + i]);
}

std::u16string GUIDToString(const TGUID& guid) {
  std::u16string s(38, u' ');
  s[0] = u'{';
  PutGuidDigits(s, 2, guid);
  s[37] = u'}';
  return s;
}

int32_t EnsureRange(int32_t value, int32_t min, int32_t max) {
  if (value < min) return min;
  if (value > max) return max;
  return value;
}

int32_t MulDivInt(int32_t a, int32_t b, int32_t c) {
  int64_t p = static_cast<int64_t>(a) * b;
  if (c == 0) return p < 0 ? INT32_MIN : (p > 0 ? INT32_MAX : 0);
  return static_cast<int32_t>(p / c);
}

int32_t ReadInt32At(const void* buffer, size_t offset) {
  int32_t v;
  std::memcpy(&v, static_cast<const uint8_t*>(buffer) + offset, 4);
  return v;
}

uint64_t ReadPointerAt(const void* buffer, size_t offset) {
  uint64_t v;
  std::memcpy(&v, static_cast<const uint8_t*>(buffer) + offset, 8);
  return v;
}

float ReadSingleAt(const void* buffer, size_t offset) {
  float v;
  std::memcpy(&v, static_cast<const uint8_t*>(buffer) + offset, 4);
  return v;
}

uint32_t ReadUInt32BEAt(const void* buffer, size_t offset) {
  const uint8_t* b = static_cast<const uint8_t*>(buffer) + offset;
  return (uint32_t(b[0]) << 24) | (uint32_t(b[1]) << 16) | (uint32_t(b[2]) << 8) | b[3];
}

void WriteInt32At(int32_t value, void* buffer, size_t offset) {
  std::memcpy(static_cast<uint8_t*>(buffer) + offset, &value, 4);
}

void WriteSingleAt(float value, void* buffer, size_t offset) {
  std::memcpy(static_cast<uint8_t*>(buffer) + offset, &value, 4);
}

}  // namespace foundation
