#include "foundation/kpStringUtils.h"

#include <algorithm>
#include <array>

#include "foundation/TextRange.h"
#include "foundation/kpExceptions.h"
#include "foundation/kvCaseFolding.h"
#include "platform/os/codepages.h"

namespace foundation {

namespace {

constexpr int LocalUnits = 2047;   // conversions of fewer than 2048 bytes go through this buffer
constexpr int LocalBytes = 4095;   // conversions of fewer than 4095 bytes go through this buffer

// The two ASCII case tables: a-z to A-Z and A-Z to a-z, every other value to itself.
constexpr std::array<uint8_t, 128> MakeCaseTable(bool upper) {
  std::array<uint8_t, 128> t{};
  for (int i = 0; i < 128; ++i) {
    t[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    if (upper && i >= 'a' && i <= 'z') t[static_cast<size_t>(i)] = static_cast<uint8_t>(i - 32);
    if (!upper && i >= 'A' && i <= 'Z') t[static_cast<size_t>(i)] = static_cast<uint8_t>(i + 32);
  }
  return t;
}
constexpr std::array<uint8_t, 128> UpperTable = MakeCaseTable(true);
constexpr std::array<uint8_t, 128> LowerTable = MakeCaseTable(false);

}  // namespace

void AnsiBytesToUnicode(std::u16string& s, const uint8_t* bytes, size_t length, int start, int count,
                        uint32_t codePage) {
  s.clear();
  if (bytes == nullptr) return;
  size_t first, n;
  ClampBufferRange(length, start, count, first, n);
  if (n == 0) return;
  const char* src = reinterpret_cast<const char*>(bytes + first);
  const int srcLen = static_cast<int>(n);
  if (n < 2048) {
    char16_t local[LocalUnits];
    const int got = platform::os::multiByteToWideChar(codePage, 0, src, srcLen, local, LocalUnits);
    if (got >= 1) s.assign(local, static_cast<size_t>(got));
    return;
  }
  s.assign(n, u'\0');
  const int got = platform::os::multiByteToWideChar(codePage, 0, src, srcLen, s.data(), srcLen);
  if (got < 1) {
    s.clear();
    return;
  }
  s.resize(static_cast<size_t>(got));
}

void UnicodeToAnsiBytes(TByteDynArray& bytes, const char16_t* text, int count, uint32_t codePage) {
  bytes.clear();
  if (text == nullptr || count <= 0) return;
  const int64_t guess = (static_cast<int64_t>(count) + 1) * 2;
  int got = 0;
  if (guess < LocalBytes) {
    char local[LocalBytes];
    got = platform::os::wideCharToMultiByte(codePage, 0, text, count, local, LocalBytes, nullptr, nullptr);
    if (got > 0) bytes.assign(local, local + got);
  } else if (guess <= 0x7FFFFFFF) {
    bytes.assign(static_cast<size_t>(guess), 0);
    got = platform::os::wideCharToMultiByte(codePage, 0, text, count, reinterpret_cast<char*>(bytes.data()),
                                            static_cast<int>(guess), nullptr, nullptr);
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  }
  if (got > 0) return;
  // The first guess was too small (or the text too long for it): ask for the size.
  const int needed = platform::os::wideCharToMultiByte(codePage, 0, text, count, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return;
  bytes.assign(static_cast<size_t>(needed), 0);
  got = platform::os::wideCharToMultiByte(codePage, 0, text, count, reinterpret_cast<char*>(bytes.data()),
                                          needed, nullptr, nullptr);
  bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
}

void UnicodeRangeToAnsiBytes(TByteDynArray& bytes, const std::u16string& s, int start, int count,
                             uint32_t codePage) {
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  if (n == 0) {
    bytes.clear();
    return;
  }
  UnicodeToAnsiBytes(bytes, s.data() + first, static_cast<int>(n), codePage);
}

std::string UnicodeToAnsiRange(const std::u16string& s, int start, int count) {
  TByteDynArray bytes;
  UnicodeRangeToAnsiBytes(bytes, s, start, count, platform::os::CP_ACP);
  return std::string(bytes.begin(), bytes.end());
}

std::string UnicodeToAnsi(const std::u16string& s) {
  return UnicodeToAnsiRange(s, 1, static_cast<int>(std::min<size_t>(s.size(), 0x7FFFFFFF)));
}

std::u16string AnsiToUnicodeRange(const std::string& s, int start, int count) {
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  std::u16string out;
  AnsiBytesToUnicode(out, reinterpret_cast<const uint8_t*>(s.data()), s.size(), static_cast<int>(first),
                     static_cast<int>(n), platform::os::CP_ACP);
  return out;
}

std::u16string AnsiToUnicode(const std::string& s) {
  return AnsiToUnicodeRange(s, 1, static_cast<int>(std::min<size_t>(s.size(), 0x7FFFFFFF)));
}

std::u16string ChangeCaseRange(const std::u16string& s, int start, int count, int mode) {
  QEL_ASSERT(mode == caseUpper || mode == caseLower, "");
  if (start < 1 || static_cast<size_t>(start) > s.size()) return std::u16string();
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  const std::array<uint8_t, 128>& table = mode == caseUpper ? UpperTable : LowerTable;
  std::u16string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n && s[first + i] < 0x80) {
    out.push_back(table[s[first + i]]);
    ++i;
  }
  if (i == n) return out;
  // The rest, ASCII included, goes to the platform as it stands.
  std::u16string rest = s.substr(first + i, n - i);
  const uint32_t len = static_cast<uint32_t>(rest.size());
  const uint32_t mapped = mode == caseUpper ? platform::os::charUpperBuff(rest.data(), len)
                                            : platform::os::charLowerBuff(rest.data(), len);
  out.append(rest, 0, std::min<size_t>(mapped, rest.size()));
  return out;
}

std::u16string UpperCaseStr(const std::u16string& s) {
  return ChangeCaseRange(s, 1, static_cast<int>(std::min<size_t>(s.size(), 0x7FFFFFFF)), caseUpper);
}

std::u16string UpperCaseLeft(const std::u16string& s, int count) { return ChangeCaseRange(s, 1, count, caseUpper); }

std::u16string UpperCaseCopy(const std::u16string& s, int start, int count) {
  return ChangeCaseRange(s, start, count, caseUpper);
}

std::u16string LowerCaseStr(const std::u16string& s) {
  return ChangeCaseRange(s, 1, static_cast<int>(std::min<size_t>(s.size(), 0x7FFFFFFF)), caseLower);
}

std::u16string LowerCaseCopy(const std::u16string& s, int start, int count) {
  return ChangeCaseRange(s, start, count, caseLower);
}

int CompareStrings(const std::u16string& a, const std::u16string& b, bool ignoreCase) {
  const int la = static_cast<int>(std::min<size_t>(a.size(), 0x7FFFFFFF));
  const int lb = static_cast<int>(std::min<size_t>(b.size(), 0x7FFFFFFF));
  if (ignoreCase) return CompareTextRange(a, b, 1, 1, la, lb);
  const int n = std::min(la, lb);
  for (int i = 0; i < n; ++i) {
    if (a[static_cast<size_t>(i)] != b[static_cast<size_t>(i)])
      return static_cast<int>(a[static_cast<size_t>(i)]) - static_cast<int>(b[static_cast<size_t>(i)]);
  }
  return la - lb;
}

int CompareUnitsOrdinal(const std::u16string& a, const std::u16string& b, int startA, int startB, int count) {
  size_t fa, na, fb, nb;
  ClampRange(a.size(), startA, count, fa, na);
  ClampRange(b.size(), startB, count, fb, nb);
  const size_t n = std::min(na, nb);
  for (size_t i = 0; i < n; ++i) {
    if (a[fa + i] != b[fb + i]) return static_cast<int>(a[fa + i]) - static_cast<int>(b[fb + i]);
  }
  return 0;
}

std::u16string CopyUnicode(const std::u16string& s, int start, int count) {
  size_t first, n;
  ClampRange(s.size(), start, count, first, n);
  return s.substr(first, n);
}

}  // namespace foundation
