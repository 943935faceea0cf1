#include "foundation/kvByteStringUtils.h"

#include <algorithm>
#include <climits>

#include "foundation/TextRange.h"
#include "foundation/kvCaseFolding.h"

namespace foundation {

namespace {

inline bool IsHighSurrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLowSurrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// Clamps (start, end) to a buffer of length bytes.
inline void ClampBytes(size_t length, int start, int end, size_t& first, size_t& stop) {
  stop = end < 0 ? 0 : std::min(static_cast<size_t>(end), length);
  first = start < 0 ? 0 : static_cast<size_t>(start);
  if (first > stop) first = stop;
}

// Decodes one sequence without joining surrogates; len receives its byte count
// when complete.
uint32_t DecodeOne(const uint8_t* buffer, size_t length, size_t& pos, int& len) {
  len = 0;
  if (pos >= length) return Utf8Invalid;
  const uint8_t b = buffer[pos];
  if (b < 0x80) {
    ++pos;
    len = 1;
    return b;
  }
  int n;
  uint32_t value;
  if (b < 0xC0 || b >= 0xFE) {
    ++pos;
    while (pos < length && (buffer[pos] & 0xC0) == 0x80) ++pos;
    return Utf8Invalid;
  } else if (b < 0xE0) {
    n = 2;
    value = b & 0x1Fu;
  } else if (b < 0xF0) {
    n = 3;
    value = b & 0x0Fu;
  } else if (b < 0xF8) {
    n = 4;
    value = b & 0x07u;
  } else if (b < 0xFC) {
    n = 5;
    value = b & 0x03u;
  } else {
    n = 6;
    value = b & 0x01u;
  }
  if (length - pos < static_cast<size_t>(n)) {
    pos += static_cast<size_t>(n);
    return Utf8Invalid;
  }
  for (int k = 1; k < n; ++k) {
    const uint8_t c = buffer[pos + static_cast<size_t>(k)];
    if ((c & 0xC0) != 0x80) {
      pos += static_cast<size_t>(k);
      return Utf8Invalid;
    }
    value = (value << 6) | (c & 0x3Fu);
  }
  pos += static_cast<size_t>(n);
  len = n;
  return value;
}

inline uint32_t LowerAscii(uint32_t c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

inline int64_t AsSigned(uint32_t cp) { return cp == Utf8Invalid ? -1 : static_cast<int64_t>(cp); }

inline int ClampDiff(int64_t d) {
  if (d > INT_MAX) return INT_MAX;
  if (d < INT_MIN) return INT_MIN;
  return static_cast<int>(d);
}

// Folds a code point from the UTF-8 side: ASCII by the fast path, the rest by
// the folding table; invalid stays invalid.
inline uint32_t FoldUtf8Side(uint32_t cp) {
  if (cp < 0x80) return LowerAscii(cp);
  if (cp == Utf8Invalid) return cp;
  return FoldCodePoint(cp);
}

// The next code point of a UTF-16 range (pairs joined).
inline uint32_t NextUnicode(const char16_t* s, size_t n, size_t& i) {
  uint32_t c = s[i++];
  if (IsHighSurrogate(c) && i < n && IsLowSurrogate(s[i])) {
    c = ((c - 0xD800) << 10) + (s[i] - 0xDC00u) + 0x10000;
    ++i;
  }
  return c;
}

int CompareWithUnicode(const uint8_t* a, size_t lengthA, int startA, int endA, const std::u16string& s,
                       int start, int count, bool noCase) {
  size_t p, stopA;
  ClampBytes(a == nullptr ? 0 : lengthA, startA, endA, p, stopA);
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  const char16_t* u = s.data() + first;
  size_t i = 0;
  for (;;) {
    const bool aLeft = p < stopA;
    const bool bLeft = i < n;
    if (!aLeft || !bLeft) return aLeft ? 1 : (bLeft ? -1 : 0);
    uint32_t ca = Utf8NextCodePoint(a, stopA, p);
    uint32_t cb = NextUnicode(u, n, i);
    if (noCase) {
      ca = FoldUtf8Side(ca);
      cb = FoldCodePoint(cb);
    }
    if (ca != cb) return ClampDiff(AsSigned(ca) - AsSigned(cb));
  }
}

}  // namespace

uint32_t Utf8NextCodePoint(const uint8_t* buffer, size_t length, size_t& pos) {
  if (buffer == nullptr) return Utf8Invalid;
  int len;
  const uint32_t cp = DecodeOne(buffer, length, pos, len);
  if (cp == Utf8Invalid || !IsHighSurrogate(cp)) return cp;
  size_t next = pos;
  int len2;
  const uint32_t low = DecodeOne(buffer, length, next, len2);
  if (len2 >= 3 && IsLowSurrogate(low)) {
    pos = next;
    return (cp - 0xD800) * 0x400 + (low - 0xDC00) + 0x10000;
  }
  return cp;
}

int CompareUtf8NoCase(const uint8_t* a, size_t lengthA, int startA, int endA, const uint8_t* b, size_t lengthB,
                      int startB, int endB) {
  size_t pa, stopA, pb, stopB;
  ClampBytes(a == nullptr ? 0 : lengthA, startA, endA, pa, stopA);
  ClampBytes(b == nullptr ? 0 : lengthB, startB, endB, pb, stopB);
  for (;;) {
    const bool aLeft = pa < stopA;
    const bool bLeft = pb < stopB;
    if (!aLeft || !bLeft) return aLeft ? 1 : (bLeft ? -1 : 0);
    const uint32_t ca = FoldUtf8Side(Utf8NextCodePoint(a, stopA, pa));
    const uint32_t cb = FoldUtf8Side(Utf8NextCodePoint(b, stopB, pb));
    if (ca != cb) return ClampDiff(AsSigned(ca) - AsSigned(cb));
  }
}

int CompareUtf8WithUnicode(const uint8_t* a, size_t lengthA, int startA, int endA, const std::u16string& s,
                           int start, int count) {
  return CompareWithUnicode(a, lengthA, startA, endA, s, start, count, false);
}

int CompareUtf8WithUnicodeNoCase(const uint8_t* a, size_t lengthA, int startA, int endA,
                                 const std::u16string& s, int start, int count) {
  return CompareWithUnicode(a, lengthA, startA, endA, s, start, count, true);
}

uint32_t HashStep(uint32_t h, uint8_t b) {
  const uint32_t t = h + b;
  return t - ((t << 13) | (t >> 19));
}

uint32_t HashBytes(uint32_t seed, const uint8_t* bytes, size_t length, int start, int end) {
  size_t p, stop;
  ClampBytes(bytes == nullptr ? 0 : length, start, end, p, stop);
  uint32_t h = seed;
  for (; p < stop; ++p) h = HashStep(h, bytes[p]);
  return h;
}

uint32_t HashCodePoint(uint32_t h, uint32_t cp) {
  if (cp < 0x80) return HashStep(h, static_cast<uint8_t>(cp));
  if (cp < 0x800) {
    h = HashStep(h, static_cast<uint8_t>(0xC0 | (cp >> 6)));
    return HashStep(h, static_cast<uint8_t>(0x80 | (cp & 0x3F)));
  }
  if (cp <= 0xFFFF) {
    h = HashStep(h, static_cast<uint8_t>(0xE0 | (cp >> 12)));
    h = HashStep(h, static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F)));
    return HashStep(h, static_cast<uint8_t>(0x80 | (cp & 0x3F)));
  }
  if (cp <= 0x10FFFF) {
    const uint32_t v = cp - 0x10000;
    h = HashCodePoint(h, 0xD800 | (v >> 10));
    return HashCodePoint(h, 0xDC00 | (v & 0x3FF));
  }
  return h;
}

uint32_t HashUtf8(const uint8_t* bytes, size_t length, int start, int end) {
  size_t p, stop;
  ClampBytes(bytes == nullptr ? 0 : length, start, end, p, stop);
  uint32_t h = 0;
  while (p < stop) h = HashCodePoint(h, Utf8NextCodePoint(bytes, stop, p));
  return h;
}

uint32_t HashUtf8NoCase(const uint8_t* bytes, size_t length, int start, int end) {
  size_t p, stop;
  ClampBytes(bytes == nullptr ? 0 : length, start, end, p, stop);
  uint32_t h = 0;
  while (p < stop) {
    const uint32_t cp = Utf8NextCodePoint(bytes, stop, p);
    if (cp < 0x80)
      h = HashStep(h, static_cast<uint8_t>(LowerAscii(cp)));
    else if (cp != Utf8Invalid)
      h = HashCodePoint(h, FoldCodePoint(cp));
  }
  return h;
}

uint32_t HashUnicodeNoCase(const std::u16string& s, int start, int count) {
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  const char16_t* u = s.data() + first;
  uint32_t h = 0;
  size_t i = 0;
  while (i < n) {
    const uint32_t cp = NextUnicode(u, n, i);
    if (cp < 0x80)
      h = HashStep(h, static_cast<uint8_t>(LowerAscii(cp)));
    else
      h = HashCodePoint(h, FoldCodePoint(cp));
  }
  return h;
}

int FormatIntToBuffer(int32_t value, uint8_t* buffer, size_t bufferLength, int pos, int limit) {
  char text[12];
  int len = 0;
  int64_t v = value;
  const bool negative = v < 0;
  if (negative) v = -v;
  char digits[12];
  int nd = 0;
  do {
    digits[nd++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v > 0);
  if (negative) text[len++] = '-';
  while (nd > 0) text[len++] = digits[--nd];
  const size_t at = pos < 0 ? 0 : static_cast<size_t>(pos);
  const size_t stop = buffer == nullptr || limit < 0 ? 0 : std::min(static_cast<size_t>(limit), bufferLength);
  if (at > stop || stop - at < static_cast<size_t>(len)) return -len;
  std::copy(text, text + len, buffer + at);
  return len;
}

}  // namespace foundation
