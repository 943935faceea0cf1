#include "foundation/kvUTF8.h"

#include <algorithm>

#include "foundation/TextRange.h"
#include "foundation/kpExceptions.h"

namespace foundation {

namespace {

inline size_t UnitLength(char16_t u) { return u < 0x80 ? 1 : (u < 0x800 ? 2 : 3); }

inline uint8_t* PutUnit(uint8_t* p, char16_t unit) {
  const uint32_t u = unit;
  if (u < 0x80) {
    *p++ = static_cast<uint8_t>(u);
  } else if (u < 0x800) {
    *p++ = static_cast<uint8_t>(0xC0 | (u >> 6));
    *p++ = static_cast<uint8_t>(0x80 | (u & 0x3F));
  } else {
    *p++ = static_cast<uint8_t>(0xE0 | (u >> 12));
    *p++ = static_cast<uint8_t>(0x80 | ((u >> 6) & 0x3F));
    *p++ = static_cast<uint8_t>(0x80 | (u & 0x3F));
  }
  return p;
}

size_t EncodedLength(const char16_t* s, size_t n) {
  size_t total = 0;
  for (size_t i = 0; i < n; ++i) total += UnitLength(s[i]);
  return total;
}

// Length of the sequence a lead byte starts (0 for a byte that cannot lead).
inline int SequenceLength(uint8_t b) {
  if (b < 0x80) return 1;
  if (b < 0xC0) return 0;
  if (b < 0xE0) return 2;
  if (b < 0xF0) return 3;
  if (b < 0xF8) return 4;
  return 0;
}

inline uint32_t LeadPayload(uint8_t b, int len) {
  switch (len) {
    case 2: return b & 0x1Fu;
    case 3: return b & 0x0Fu;
    case 4: return b & 0x07u;
    default: return b;
  }
}

}  // namespace

int EncodeSurrogatePair(uint32_t cp, char16_t& high, char16_t& low) {
  if (cp < 0x10000) {
    high = static_cast<char16_t>(cp);
    return 0;
  }
  QEL_ASSERT(cp <= 0x10FFFF, "Invalud Unicode Range");
  high = static_cast<char16_t>(0xD800 | ((cp - 0x10000) >> 10));
  low = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
  return 1;
}

int UTF8LengthOfRange(const std::u16string& s, int start, int count) {
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  return static_cast<int>(EncodedLength(s.data() + first, n));
}

std::string UnicodeToUTF8Range(const std::u16string& s, int start, int count) {
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  std::string out(EncodedLength(s.data() + first, n), '\0');
  uint8_t* p = reinterpret_cast<uint8_t*>(out.data());
  for (size_t i = 0; i < n; ++i) p = PutUnit(p, s[first + i]);
  return out;
}

std::string UnicodeToUTF8(const std::u16string& s) {
  return UnicodeToUTF8Range(s, 1, static_cast<int>(std::min<size_t>(s.size(), 0x7FFFFFFF)));
}

void UnicodeToUTF8Bytes(TByteDynArray& bytes, const std::u16string& s, int start, int count) {
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  bytes.assign(EncodedLength(s.data() + first, n), 0);
  uint8_t* p = bytes.data();
  for (size_t i = 0; i < n; ++i) p = PutUnit(p, s[first + i]);
}

int EncodeUTF8Into(const std::u16string& s, int start, int count, uint8_t* buffer, size_t bufferLength,
                   int& offset, int limit) {
  if (start < 1 || offset < 0 || buffer == nullptr) return 0;
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  const size_t stop = limit < 0 ? 0 : std::min(static_cast<size_t>(limit), bufferLength);
  size_t at = static_cast<size_t>(offset);
  size_t done = 0;
  while (done < n) {
    const char16_t u = s[first + done];
    const size_t len = UnitLength(u);
    if (at > stop || stop - at < len) break;
    PutUnit(buffer + at, u);
    at += len;
    ++done;
  }
  offset = static_cast<int>(at);
  return static_cast<int>(done);
}

int ScanUTF8(const uint8_t* buffer, size_t length, int& pos, int& units, int end) {
  units = 0;
  if (pos < 0) pos = 0;
  size_t stop = end < 0 ? 0 : std::min(static_cast<size_t>(end), length);
  if (buffer == nullptr) stop = 0;
  size_t p = static_cast<size_t>(pos);
  if (p >= stop) {
    if (p > stop) pos = static_cast<int>(stop);
    return utf8Empty;
  }
  bool ascii = true;
  while (p < stop) {
    const uint8_t b = buffer[p];
    if (b < 0x80) {
      ++units;
      ++p;
      continue;
    }
    ascii = false;
    const int len = SequenceLength(b);
    if (len == 0) {
      pos = static_cast<int>(p);
      return utf8Invalid;
    }
    uint32_t value = LeadPayload(b, len);
    for (int k = 1; k < len; ++k) {
      if (p + static_cast<size_t>(k) >= stop) {
        pos = static_cast<int>(p);
        return utf8Truncated;
      }
      const uint8_t c = buffer[p + static_cast<size_t>(k)];
      if ((c & 0xC0) != 0x80) {
        pos = static_cast<int>(p);
        return utf8Invalid;
      }
      value = (value << 6) | (c & 0x3F);
    }
    if (len == 4) {
      // Above U+10FFFF no UTF-16 text can hold the value; an overlong form of
      // a value below U+10000 decodes to one unit.
      if (value > 0x10FFFF) {
        pos = static_cast<int>(p);
        return utf8Invalid;
      }
      units += value > 0xFFFF ? 2 : 1;
    } else {
      ++units;
    }
    p += static_cast<size_t>(len);
  }
  pos = static_cast<int>(p);
  return ascii ? utf8Ascii : utf8Valid;
}

void DecodeUTF8Into(const uint8_t* buffer, size_t length, int pos, int end, std::u16string& s) {
  if (buffer == nullptr) return;
  size_t p = pos < 0 ? 0 : static_cast<size_t>(pos);
  const size_t stop = end < 0 ? 0 : std::min(static_cast<size_t>(end), length);
  size_t out = 0;
  const size_t room = s.size();
  while (p < stop && out < room) {
    const uint8_t b = buffer[p];
    if (b < 0x80) {
      s[out++] = b;
      ++p;
      continue;
    }
    const int len = SequenceLength(b);
    if (len == 0 || p + static_cast<size_t>(len) > stop) return;
    uint32_t value = LeadPayload(b, len);
    for (int k = 1; k < len; ++k) {
      const uint8_t c = buffer[p + static_cast<size_t>(k)];
      if ((c & 0xC0) != 0x80) return;
      value = (value << 6) | (c & 0x3F);
    }
    p += static_cast<size_t>(len);
    if (value > 0x10FFFF) return;
    char16_t high, low;
    if (EncodeSurrogatePair(value, high, low) == 0) {
      s[out++] = high;
    } else {
      if (room - out < 2) return;
      s[out++] = high;
      s[out++] = low;
    }
  }
}

bool UTF8BytesToUnicode(const uint8_t* buffer, size_t length, int start, int count, std::u16string& s) {
  s.clear();
  if (buffer == nullptr) length = 0;
  size_t first, n;
  ClampBufferRange(length, start, count, first, n);
  int pos = static_cast<int>(first);
  int units = 0;
  const int end = static_cast<int>(first + n);
  const int kind = ScanUTF8(buffer, length, pos, units, end);
  switch (kind) {
    case utf8Empty:
      return true;
    case utf8Ascii:
      s.assign(buffer + first, buffer + first + n);
      return true;
    case utf8Valid:
      s.assign(static_cast<size_t>(units), u'\0');
      DecodeUTF8Into(buffer, length, static_cast<int>(first), end, s);
      return true;
    default:
      return false;
  }
}

std::u16string UTF8ToUnicode(const std::string& s) {
  std::u16string out;
  UTF8BytesToUnicode(reinterpret_cast<const uint8_t*>(s.data()), s.size(), 0,
                     static_cast<int>(std::min<size_t>(s.size(), 0x7FFFFFFF)), out);
  return out;
}

std::u16string UTF8ToUnicodeRange(const std::string& s, int start, int count) {
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  std::u16string out;
  UTF8BytesToUnicode(reinterpret_cast<const uint8_t*>(s.data()), s.size(), static_cast<int>(first),
                     static_cast<int>(n), out);
  return out;
}

void UTF8BufferToUnicode(std::u16string& s, const uint8_t* buffer, size_t length, int start, int count) {
  UTF8BytesToUnicode(buffer, length, start, count, s);
}

}  // namespace foundation
