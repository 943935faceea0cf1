#include "foundation/kvByteString.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "foundation/TextRange.h"
#include "foundation/kpExceptions.h"

namespace foundation {

const TByteString EmptyByteString;

namespace {

inline bool IsDigit(uint8_t b) { return b >= '0' && b <= '9'; }

TSharedBytes MakeShared(const uint8_t* p, size_t n) {
  if (n == 0) return nullptr;
  return std::make_shared<const TByteDynArray>(p, p + n);
}

}  // namespace

// ---- TByteString ------------------------------------------------------------

TByteString TByteString::FromUnicode(const std::u16string& s, int start, int count) {
  TByteDynArray bytes;
  UnicodeToUTF8Bytes(bytes, s, start, count);
  TByteString t;
  t.SetBytes(std::move(bytes));
  return t;
}

TByteString TByteString::FromBytes(std::string_view bytes) {
  TByteString t;
  t.FBytes = MakeShared(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return t;
}

void TByteString::SetBytes(TSharedBytes bytes) {
  if (bytes && bytes->empty()) bytes.reset();
  FBytes = std::move(bytes);
}

void TByteString::SetBytes(TByteDynArray bytes) {
  if (bytes.empty())
    FBytes.reset();
  else
    FBytes = std::make_shared<const TByteDynArray>(std::move(bytes));
}

void TByteString::Clamp(int start, int count, size_t& first, size_t& n) const {
  ClampBufferRange(FBytes ? FBytes->size() : 0, start, count, first, n);
}

int TByteString::ClampCount(int start, int count) const {
  size_t first, n;
  Clamp(start, count, first, n);
  return static_cast<int>(n);
}

TSharedBytes TByteString::SubString(int start, int count, bool forceCopy) const {
  size_t first, n;
  Clamp(start, count, first, n);
  if (n == 0) return nullptr;
  if (!forceCopy && first == 0 && n == FBytes->size()) return FBytes;
  return MakeShared(FBytes->data() + first, n);
}

int TByteString::CopyToBuffer(int start, int count, uint8_t* buffer, size_t bufferLength, int offset) const {
  size_t first, n;
  Clamp(start, count, first, n);
  if (buffer == nullptr) return 0;
  const size_t at = offset < 0 ? 0 : static_cast<size_t>(offset);
  if (at >= bufferLength) return 0;
  n = std::min(n, bufferLength - at);
  if (n > 0) std::memcpy(buffer + at, FBytes->data() + first, n);
  return static_cast<int>(n);
}

bool TByteString::EqualsSub(const TByteString& other, int start, int count) const {
  if (FBytes && FBytes == other.FBytes) {
    // One shared array: equal exactly when the range is the whole text.
    return start <= 0 && static_cast<size_t>(std::max(count, 0)) >= FBytes->size();
  }
  size_t first, n;
  other.Clamp(start, count, first, n);
  if (n != static_cast<size_t>(GetLength())) return false;
  return n == 0 || std::memcmp(FBytes->data(), other.FBytes->data() + first, n) == 0;
}

bool TByteString::EqualsBuffer(const uint8_t* buffer, size_t bufferLength, int start, int count) const {
  if (buffer == nullptr) bufferLength = 0;
  size_t first, n;
  ClampBufferRange(bufferLength, start, count, first, n);
  if (n != static_cast<size_t>(GetLength())) return false;
  return n == 0 || std::memcmp(FBytes->data(), buffer + first, n) == 0;
}

int TByteString::FindCharSet(int pos, const TByteSet& set) const {
  const int len = GetLength();
  for (int i = std::max(pos, 0); i < len; ++i)
    if (set.Contains((*FBytes)[static_cast<size_t>(i)])) return i;
  return len;
}

int TByteString::SkipCharSet(int pos, const TByteSet& set) const {
  const int len = GetLength();
  for (int i = std::max(pos, 0); i < len; ++i)
    if (!set.Contains((*FBytes)[static_cast<size_t>(i)])) return i;
  return len;
}

uint32_t TByteString::HashRange(int start, int count) const {
  size_t first, n;
  Clamp(start, count, first, n);
  return HashUtf8(Data(), static_cast<size_t>(GetLength()), static_cast<int>(first), static_cast<int>(first + n));
}

uint32_t TByteString::HashTextRange(int start, int count) const {
  size_t first, n;
  Clamp(start, count, first, n);
  return HashUtf8NoCase(Data(), static_cast<size_t>(GetLength()), static_cast<int>(first),
                        static_cast<int>(first + n));
}

std::u16string TByteString::ToUnicode(int start, int count) const {
  size_t first, n;
  Clamp(start, count, first, n);
  std::u16string s;
  UTF8BytesToUnicode(Data(), static_cast<size_t>(GetLength()), static_cast<int>(first), static_cast<int>(n), s);
  return s;
}

int TByteString::CompareTextSub(const TByteString& other, int start, int count) const {
  size_t first, n;
  other.Clamp(start, count, first, n);
  return CompareUtf8NoCase(Data(), static_cast<size_t>(GetLength()), 0, GetLength(), other.Data(),
                           static_cast<size_t>(other.GetLength()), static_cast<int>(first),
                           static_cast<int>(first + n));
}

int TByteString::CompareStr(const std::u16string& s, int start, int count) const {
  return CompareUtf8WithUnicode(Data(), static_cast<size_t>(GetLength()), 0, GetLength(), s, start, count);
}

int TByteString::CompareText(const std::u16string& s, int start, int count) const {
  return CompareUtf8WithUnicodeNoCase(Data(), static_cast<size_t>(GetLength()), 0, GetLength(), s, start, count);
}

int TByteString::CompareStrRange(int start, int count, const std::u16string& s, int start2, int count2) const {
  size_t first, n;
  Clamp(start, count, first, n);
  return CompareUtf8WithUnicode(Data(), static_cast<size_t>(GetLength()), static_cast<int>(first),
                                static_cast<int>(first + n), s, start2, count2);
}

int TByteString::CompareTextRange(int start, int count, const std::u16string& s, int start2, int count2) const {
  size_t first, n;
  Clamp(start, count, first, n);
  return CompareUtf8WithUnicodeNoCase(Data(), static_cast<size_t>(GetLength()), static_cast<int>(first),
                                      static_cast<int>(first + n), s, start2, count2);
}

bool TByteString::SkipBlanksAndSign(int& start, int& count) const {
  size_t first, n;
  Clamp(start, count, first, n);
  bool negative = false;
  while (n > 0) {
    const uint8_t b = (*FBytes)[first];
    if (b == 0x08 || b == 0x20) {
      ++first;
      --n;
      continue;
    }
    if (b == '+' || b == '-') {
      negative = b == '-';
      ++first;
      --n;
    }
    break;
  }
  start = static_cast<int>(first);
  count = static_cast<int>(n);
  return negative;
}

int32_t TByteString::ToIntDef(int32_t def, int start, int count) const {
  const bool negative = SkipBlanksAndSign(start, count);
  if (count <= 0) return def;
  const uint8_t* p = FBytes->data() + start;
  for (int i = 0; i < count; ++i)
    if (!IsDigit(p[i])) return def;
  int64_t value = 0;
  for (int i = 0; i < count; ++i) {
    const int digit = p[i] - '0';
    if (value > 214748363) {
      if (count - i > 1) return def;
      const int64_t wide = value * 10 + digit;
      if (!negative && wide > 2147483647) return def;
      if (negative && wide > 2147483648LL) return def;
      value = wide;
      break;
    }
    value = value * 10 + digit;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

int64_t TByteString::ToInt64Def(int64_t def, int start, int count) const {
  const bool negative = SkipBlanksAndSign(start, count);
  if (count <= 0) return def;
  const uint8_t* p = FBytes->data() + start;
  uint64_t value = 0;
  for (int i = 0; i < count; ++i) {
    if (!IsDigit(p[i])) return def;
    const uint64_t digit = static_cast<uint64_t>(p[i] - '0');
    if (value > (static_cast<uint64_t>(INT64_MAX) - digit) / 10) return def;
    value = value * 10 + digit;
  }
  return negative ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
}

double FloatIntPower(double x, int64_t n) {
  if (n == 0) return 1.0;
  uint64_t e = n < 0 ? static_cast<uint64_t>(-(n + 1)) + 1 : static_cast<uint64_t>(n);
  double result = 1.0;
  double base = x;
  while (e > 0) {
    if (e & 1) result *= base;
    e >>= 1;
    if (e > 0) base *= base;
  }
  return n < 0 ? 1.0 / result : result;
}

double TByteString::ToFloatDef(double def, int start, int count) const {
  const bool negative = SkipBlanksAndSign(start, count);
  if (count <= 0) return def;
  const uint8_t* p = FBytes->data() + start;
  double mantissa = 0.0;
  int point = -1;
  int i = 0;
  for (; i < count; ++i) {
    const uint8_t b = p[i];
    if (IsDigit(b)) {
      mantissa = mantissa * 10.0 + (b - '0');
    } else if (b == '.') {
      if (point >= 0) return def;
      point = i;
    } else {
      break;
    }
  }
  int64_t e = point < 0 ? 0 : static_cast<int64_t>(point) - (i - 1);
  if (i < count) {
    if ((p[i] != 'E' && p[i] != 'e') || i + 1 >= count) return def;
    const int32_t exponent = ToIntDef(2147483647, start + i + 1, count - i - 1);
    if (exponent == 2147483647) return def;
    e += exponent;
  }
  // A zero mantissa stays zero whatever the exponent (no 0 x infinity).
  double result = (e == 0 || mantissa == 0.0) ? mantissa : mantissa * FloatIntPower(10.0, e);
  return negative ? -result : result;
}

uint32_t TByteString::HexToIntDef(uint32_t def, int start, int count) const {
  size_t first, n;
  Clamp(start, count, first, n);
  uint32_t value = 0;
  for (size_t i = 0; i < n; ++i) {
    const uint8_t b = (*FBytes)[first + i];
    uint32_t digit;
    if (IsDigit(b))
      digit = b - '0';
    else if (b >= 'A' && b <= 'F')
      digit = b - 'A' + 10;
    else if (b >= 'a' && b <= 'f')
      digit = b - 'a' + 10;
    else
      return def;
    value = value * 16 + digit;
  }
  return value;
}

bool TByteString::ToBoolFlag(int start, int count) const {
  if (start < 0) return false;
  size_t first, n;
  Clamp(start, count, first, n);
  return n == 1 && (*FBytes)[first] == '1';
}

TByteString GuidToByteString(const TGUID& guid) { return TByteString::FromUnicode(GUIDToString(guid)); }

// ---- TByteStringBuilder -------------------------------------------------------

int TByteStringBuilder::InsertSpace(int pos, int count, int fill) {
  if (FBuffer.empty()) {
    if (count <= 0) return 0;
    FBuffer.assign(static_cast<size_t>(std::max(count, 16)), 0);
    FUsed = count;
    if (fill >= 0) std::memset(FBuffer.data(), fill & 0xFF, static_cast<size_t>(count));
    return 0;
  }
  // A negative position, taken as unsigned, lies past the end: append.
  const int at = static_cast<unsigned>(pos) > static_cast<unsigned>(FUsed) ? FUsed : pos;
  if (count <= 0) return at;
  QEL_ASSERT(count <= INT_MAX - FUsed, "");
  const size_t used = static_cast<size_t>(FUsed) + static_cast<size_t>(count);
  size_t capacity = FBuffer.size();
  while (capacity < used) capacity *= 2;
  if (capacity != FBuffer.size()) FBuffer.resize(capacity);
  std::memmove(FBuffer.data() + at + count, FBuffer.data() + at, static_cast<size_t>(FUsed - at));
  if (fill >= 0) std::memset(FBuffer.data() + at, fill & 0xFF, static_cast<size_t>(count));
  FUsed = static_cast<int>(used);
  return at;
}

int TByteStringBuilder::InsertText(int pos, std::string_view text) {
  const int at = InsertSpace(pos, static_cast<int>(text.size()), -1);
  if (!text.empty()) std::memcpy(FBuffer.data() + at, text.data(), text.size());
  return at;
}

int TByteStringBuilder::InsertByteString(int pos, const TByteString& text, int start, int count) {
  const int n = text.ClampCount(start, count);
  const int first = std::max(start, 0);
  const int at = InsertSpace(pos, n, -1);
  if (n > 0) std::memcpy(FBuffer.data() + at, text.Data() + first, static_cast<size_t>(n));
  return at;
}

int TByteStringBuilder::InsertBuffer(int pos, const uint8_t* buffer, size_t bufferLength, int start, int count) {
  if (buffer == nullptr) bufferLength = 0;
  size_t first, n;
  ClampBufferRange(bufferLength, start, count, first, n);
  return InsertText(pos, std::string_view(reinterpret_cast<const char*>(buffer) + first, n));
}

int TByteStringBuilder::InsertUnicode(int pos, const std::u16string& s, int start, int count) {
  const int len = UTF8LengthOfRange(s, start, count);
  const int at = InsertSpace(pos, len, -1);
  if (len <= 0) return at;
  size_t first = start < 1 ? 0 : static_cast<size_t>(start) - 1;
  if (first > s.size()) first = s.size();
  int offset = at;
  EncodeUTF8Into(s, static_cast<int>(first) + 1, count, FBuffer.data(), FBuffer.size(), offset, at + len);
  QEL_ASSERT(offset - at == len, "");
  return at;
}

int TByteStringBuilder::InsertInt(int pos, int32_t value) {
  char text[16];
  const auto r = std::to_chars(text, text + sizeof text, value);
  return InsertText(pos, std::string_view(text, static_cast<size_t>(r.ptr - text)));
}

int TByteStringBuilder::InsertInt64(int pos, int64_t value) {
  char text[24];
  const auto r = std::to_chars(text, text + sizeof text, value);
  return InsertText(pos, std::string_view(text, static_cast<size_t>(r.ptr - text)));
}

int TByteStringBuilder::InsertFloat(int pos, double value, int decimals) {
  decimals = std::clamp(decimals, 0, 64);
  char text[400];
  const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
  std::string_view s = r.ec == std::errc() ? std::string_view(text, static_cast<size_t>(r.ptr - text))
                                           : std::string_view("0");
  while (!s.empty() && static_cast<uint8_t>(s.front()) <= 0x20) s.remove_prefix(1);
  const bool hasExponent = s.find_first_of("eE") != std::string_view::npos;
  if (!hasExponent && s.find('.') != std::string_view::npos) {
    while (!s.empty() && s.back() == '0') s.remove_suffix(1);
    if (!s.empty() && s.back() == '.') s.remove_suffix(1);
  }
  // A value that rounds to zero is written without a sign.
  if (s == "-0") s = "0";
  return InsertText(pos, s);
}

int TByteStringBuilder::InsertGuid(int pos, const TGUID& guid) {
  return InsertUnicode(pos, GUIDToString(guid));
}

void TByteStringBuilder::Finish(TByteString& text) {
  if (FBuffer.empty() || FUsed <= 0) {
    text = TByteString();
  } else {
    FBuffer.resize(static_cast<size_t>(FUsed));
    FBuffer.shrink_to_fit();
    text.SetBytes(std::move(FBuffer));
  }
  FBuffer = TByteDynArray();
  FUsed = 0;
}

}  // namespace foundation
