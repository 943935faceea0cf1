// Code-page conversion through iconv, UTF-8 by the system's own rules, and
// case mapping through the C library under a UTF-8 locale object.
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/os/codepages.h"
#include "platform/os/errors.h"

namespace platform::os {

namespace {

std::atomic<uint32_t> gAnsiCodePage{1252};

constexpr uint32_t CP_MACCP = 2;
constexpr uint32_t CP_THREAD_ACP = 3;

uint32_t ResolveCodePage(uint32_t cp) {
  switch (cp) {
    case CP_ACP:
    case CP_THREAD_ACP:
      return gAnsiCodePage.load(std::memory_order_relaxed);
    case CP_OEMCP:
      return 437;
    case CP_MACCP:
      return 10000;
    default:
      return cp;
  }
}

std::string IconvName(uint32_t cp) {
  if (cp == 20127) return "ASCII";
  if (cp == 10000) return "MACINTOSH";
  if (cp >= 28591 && cp <= 28599) return "ISO-8859-" + std::to_string(cp - 28590);
  if (cp == 28605) return "ISO-8859-15";
  if (cp == 20866) return "KOI8-R";
  if (cp == 21866) return "KOI8-U";
  if (cp == 932) return "CP932";
  if (cp == 936) return "GBK";
  if (cp == 949) return "CP949";
  if (cp == 950) return "BIG5";
  return "CP" + std::to_string(cp);
}

// RAII holder of one conversion descriptor.
class Converter {
 public:
  Converter(const char* to, const char* from) : FCd(iconv_open(to, from)) {}
  ~Converter() {
    if (Ok()) iconv_close(FCd);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool Ok() const { return FCd != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return FCd; }

 private:
  iconv_t FCd;
};

inline bool IsHigh(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool IsLow(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

// UTF-8 in: standard sequences and separately written surrogate halves both
// decode; each malformed byte becomes U+FFFD.
std::u16string DecodeUtf8(const unsigned char* s, size_t n) {
  std::u16string out;
  out.reserve(n);
  size_t i = 0;
  while (i < n) {
    const unsigned char b = s[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    int len = 0;
    uint32_t v = 0;
    if (b >= 0xC0 && b <= 0xDF) {
      len = 2;
      v = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      len = 3;
      v = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF7) {
      len = 4;
      v = b & 0x07;
    }
    bool ok = len > 0 && i + static_cast<size_t>(len) <= n;
    for (int k = 1; ok && k < len; ++k) {
      const unsigned char c = s[i + static_cast<size_t>(k)];
      if ((c & 0xC0) != 0x80) ok = false;
      v = (v << 6) | (c & 0x3F);
    }
    if (!ok || v > 0x10FFFF) {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (v > 0xFFFF) {
      v -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 | (v >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 | (v & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(v));
    }
    i += static_cast<size_t>(len);
  }
  return out;
}

// UTF-8 out: one sequence per 16-bit unit.
std::string EncodeUtf8(const char16_t* s, size_t n) {
  std::string out;
  out.reserve(n * 3);
  for (size_t i = 0; i < n; ++i) {
    const uint32_t u = s[i];
    if (u < 0x80) {
      out.push_back(static_cast<char>(u));
    } else if (u < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (u >> 6)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (u >> 12)));
      out.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
  return out;
}

bool DecodeIconv(uint32_t cp, const char* src, size_t n, std::u16string& out) {
  Converter conv("UTF-16LE", IconvName(cp).c_str());
  if (!conv.Ok()) return false;
  out.clear();
  std::string buffer(n * 4 + 16, '\0');
  char* in = const_cast<char*>(src);
  size_t inLeft = n;
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    const size_t r = iconv(conv.Get(), &in, &inLeft, &outPtr, &outLeft);
    const int err = r == static_cast<size_t>(-1) ? errno : 0;
    const size_t produced = buffer.size() - outLeft;
    out.append(reinterpret_cast<const char16_t*>(buffer.data()), produced / 2);
    if (err == 0 || err == E2BIG) continue;
    // A byte the code page does not define (or a cut sequence) stands for
    // itself, so every byte string converts.
    out.push_back(static_cast<unsigned char>(*in));
    ++in;
    --inLeft;
    iconv(conv.Get(), nullptr, nullptr, nullptr, nullptr);
  }
  return true;
}

bool EncodeIconv(uint32_t cp, const char16_t* src, size_t n, const char* defaultChar, bool& usedDefault,
                 std::string& out) {
  Converter conv(IconvName(cp).c_str(), "UTF-16LE");
  if (!conv.Ok()) return false;
  out.clear();
  const char fallback = defaultChar != nullptr ? *defaultChar : '?';
  std::string buffer(n * 4 + 16, '\0');
  char* in = reinterpret_cast<char*>(const_cast<char16_t*>(src));
  size_t inLeft = n * 2;
  while (inLeft > 0) {
    char* outPtr = buffer.data();
    size_t outLeft = buffer.size();
    const size_t r = iconv(conv.Get(), &in, &inLeft, &outPtr, &outLeft);
    const int err = r == static_cast<size_t>(-1) ? errno : 0;
    out.append(buffer.data(), buffer.size() - outLeft);
    if (err == 0 || err == E2BIG) continue;
    // A character the code page cannot hold, or a lone surrogate.
    char16_t unit;
    std::memcpy(&unit, in, 2);
    size_t skip = 2;
    if (IsHigh(unit) && inLeft >= 4) {
      char16_t next;
      std::memcpy(&next, in + 2, 2);
      if (IsLow(next)) skip = 4;
    }
    out.push_back(fallback);
    usedDefault = true;
    in += skip;
    inLeft -= skip;
    iconv(conv.Get(), nullptr, nullptr, nullptr, nullptr);
  }
  return true;
}

locale_t Utf8Locale() {
  static const locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (l == static_cast<locale_t>(0)) l = newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}

template <class Map>
uint32_t MapUnits(char16_t* buffer, uint32_t len, Map map) {
  if (buffer == nullptr) return 0;
  const locale_t loc = Utf8Locale();
  for (uint32_t i = 0; i < len; ++i) {
    const char16_t u = buffer[i];
    if (IsHigh(u) || IsLow(u)) continue;
    const wint_t m = map(static_cast<wint_t>(u), loc);
    if (m <= 0xFFFF && !IsHigh(m) && !IsLow(m)) buffer[i] = static_cast<char16_t>(m);
  }
  return len;
}

// Hands a converted text to the caller: its length in units when dstLen is 0,
// else the text copied into dst when it fits.
template <class C>
int CopyConverted(const std::basic_string<C>& text, C* dst, int dstLen) {
  if (text.size() > 0x7FFFFFFF) {
    setLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  const int size = static_cast<int>(text.size());
  if (dstLen == 0) return size;
  if (size > dstLen) {
    setLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::memcpy(dst, text.data(), text.size() * sizeof(C));
  return size;
}

}  // namespace

uint32_t getACP() { return gAnsiCodePage.load(std::memory_order_relaxed); }
uint32_t getOEMCP() { return 437; }

bool setAnsiCodePage(uint32_t codePage) {
  if (codePage == CP_UTF8) {
    gAnsiCodePage.store(codePage, std::memory_order_relaxed);
    return true;
  }
  if (codePage == CP_ACP || codePage == CP_OEMCP || codePage == CP_MACCP || codePage == CP_THREAD_ACP)
    return false;
  Converter probe("UTF-16LE", IconvName(codePage).c_str());
  if (!probe.Ok()) return false;
  gAnsiCodePage.store(codePage, std::memory_order_relaxed);
  return true;
}

int multiByteToWideChar(uint32_t codePage, uint32_t flags, const char* src, int srcLen, char16_t* dst,
                        int dstLen) {
  if (src == nullptr || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && dst == nullptr)) {
    setLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t n = srcLen == -1 ? std::strlen(src) + 1 : static_cast<size_t>(srcLen);
  const uint32_t cp = ResolveCodePage(codePage);
  std::u16string text;
  if (cp == CP_UTF8) {
    text = DecodeUtf8(reinterpret_cast<const unsigned char*>(src), n);
  } else if (!DecodeIconv(cp, src, n, text)) {
    setLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return CopyConverted(text, dst, dstLen);
}

int wideCharToMultiByte(uint32_t codePage, uint32_t flags, const char16_t* src, int srcLen, char* dst,
                        int dstLen, const char* defaultChar, bool* usedDefault) {
  if (src == nullptr || srcLen == 0 || srcLen < -1 || dstLen < 0 || (dstLen > 0 && dst == nullptr)) {
    setLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  size_t n = static_cast<size_t>(srcLen);
  if (srcLen == -1) {
    n = 0;
    while (src[n] != 0) ++n;
    ++n;
  }
  const uint32_t cp = ResolveCodePage(codePage);
  std::string bytes;
  bool defaulted = false;
  if (cp == CP_UTF8) {
    bytes = EncodeUtf8(src, n);
  } else if (!EncodeIconv(cp, src, n, defaultChar, defaulted, bytes)) {
    setLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (usedDefault != nullptr) *usedDefault = defaulted;
  return CopyConverted(bytes, dst, dstLen);
}

uint32_t charUpperBuff(char16_t* buffer, uint32_t len) {
  return MapUnits(buffer, len, [](wint_t c, locale_t loc) { return towupper_l(c, loc); });
}

uint32_t charLowerBuff(char16_t* buffer, uint32_t len) {
  return MapUnits(buffer, len, [](wint_t c, locale_t loc) { return towlower_l(c, loc); });
}

}  // namespace platform::os
