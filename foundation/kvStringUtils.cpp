#include "foundation/kvStringUtils.h"

namespace foundation {

namespace {
int32_t Len(std::u16string_view s) { return static_cast<int32_t>(s.size()); }

// Scans first..last (already cut) for the first/last character whose
// membership equals `inSet`.
int32_t ScanRange(std::u16string_view s, const TCharSet& set, int32_t first, int32_t last, bool backward,
                  bool inSet) {
  if (first < 1) first = 1;
  if (last > Len(s)) last = Len(s);
  if (!backward) {
    for (int32_t i = first; i <= last; ++i)
      if (set.Contains(s[static_cast<size_t>(i - 1)]) == inSet) return i;
    return last + 1;
  }
  for (int32_t i = last; i >= first; --i)
    if (set.Contains(s[static_cast<size_t>(i - 1)]) == inSet) return i;
  return first - 1;
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// The conversion of StrToInt; False on any error.
bool TryStrToInt(std::u16string_view s, int32_t& value) {
  size_t i = 0, n = s.size();
  while (i < n && s[i] == u' ') ++i;
  bool negative = false;
  if (i < n && (s[i] == u'+' || s[i] == u'-')) {
    negative = s[i] == u'-';
    ++i;
  }
  bool hex = false;
  if (i < n && s[i] == u'$') {
    hex = true;
    ++i;
  } else if (i < n && (s[i] == u'x' || s[i] == u'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < n && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i >= n) return false;
  uint64_t v = 0;
  for (; i < n; ++i) {
    int d = hex ? HexValue(s[i]) : (s[i] >= u'0' && s[i] <= u'9' ? s[i] - u'0' : -1);
    if (d < 0) return false;
    v = v * (hex ? 16 : 10) + static_cast<uint64_t>(d);
    if (v > 0xFFFFFFFFull) return false;
  }
  if (hex) {
    // Hexadecimal covers all 32 bits, as the run-time's conversion does.
    uint32_t u = static_cast<uint32_t>(v);
    value = static_cast<int32_t>(negative ? 0u - u : u);
    return true;
  }
  if (negative) {
    if (v > 2147483648ull) return false;
    value = static_cast<int32_t>(-static_cast<int64_t>(v));
  } else {
    if (v > 2147483647ull) return false;
    value = static_cast<int32_t>(v);
  }
  return true;
}
}  // namespace

int32_t SkipCharSet(std::u16string_view s, const TCharSet& set, int32_t start) {
  if (start < 1) start = 1;
  for (int32_t i = start; i <= Len(s); ++i)
    if (!set.Contains(s[static_cast<size_t>(i - 1)])) return i;
  return Len(s) + 1;
}

int32_t SkipCharSetRange(std::u16string_view s, const TCharSet& set, int32_t first, int32_t last,
                         bool backward) {
  return ScanRange(s, set, first, last, backward, false);
}

int32_t FindCharSet(std::u16string_view s, const TCharSet& set, int32_t start) {
  if (start < 1) start = 1;
  for (int32_t i = start; i <= Len(s); ++i)
    if (set.Contains(s[static_cast<size_t>(i - 1)])) return i;
  return Len(s) + 1;
}

int32_t FindCharSetRange(std::u16string_view s, const TCharSet& set, int32_t first, int32_t last,
                         bool backward) {
  return ScanRange(s, set, first, last, backward, true);
}

std::u16string TrimSpaces(std::u16string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && s[b] == u' ') ++b;
  while (e > b && s[e - 1] == u' ') --e;
  return std::u16string(s.substr(b, e - b));
}

std::u16string TrimRight(std::u16string_view s) {
  size_t e = s.size();
  while (e > 0 && s[e - 1] <= u' ') --e;
  return std::u16string(s.substr(0, e));
}

std::u16string FormatPercentArgs(std::u16string_view format, std::span<const std::u16string> args) {
  std::u16string out;
  out.reserve(format.size());
  size_t i = 0, n = format.size();
  while (i < n) {
    if (format[i] != u'%') {
      out += format[i++];
      continue;
    }
    ++i;
    uint64_t number = 0;
    while (i < n && format[i] >= u'0' && format[i] <= u'9') {
      if (number <= 0xFFFFFFFFull) number = number * 10 + (format[i] - u'0');
      ++i;
    }
    // The inserted text is never scanned again; the rest of the format is.
    if (number >= 1 && number <= args.size()) out += args[static_cast<size_t>(number - 1)];
  }
  return out;
}

std::u16string FormatPercentArgs(std::u16string_view format, std::initializer_list<std::u16string> args) {
  return FormatPercentArgs(format, std::span<const std::u16string>(args.begin(), args.size()));
}

int32_t StrToInt(std::u16string_view s) {
  int32_t v;
  if (!TryStrToInt(s, v))
    throw EConvertError(
        FormatPercentArgs(u"\"%1\" is not a valid integer value", {std::u16string(s)}));
  return v;
}

int32_t StrToIntDef(std::u16string_view s, int32_t def) {
  int32_t v;
  return TryStrToInt(s, v) ? v : def;
}

bool ParseHexDigits(std::u16string_view s, int32_t position, int32_t count, uint32_t& value) {
  uint32_t v = 0;
  for (int32_t k = 0; k < count; ++k) {
    int64_t p = static_cast<int64_t>(position) + k;
    if (p < 1 || p > Len(s)) {
      value = v;
      return false;
    }
    int d = HexValue(s[static_cast<size_t>(p - 1)]);
    if (d < 0) {
      value = v;
      return false;
    }
    v = (v << 4) | static_cast<uint32_t>(d);
  }
  value = v;
  return true;
}

bool ParseHexWord(std::u16string_view s, int32_t position, int32_t count, uint16_t& value) {
  uint32_t v;
  bool ok = ParseHexDigits(s, position, count, v);
  value = static_cast<uint16_t>(v);
  return ok;
}

bool ParseHexByte(std::u16string_view s, int32_t position, int32_t count, uint8_t& value) {
  uint32_t v;
  bool ok = ParseHexDigits(s, position, count, v);
  value = static_cast<uint8_t>(v);
  return ok;
}

bool TextToGuid(std::u16string_view s, TGUID& guid) {
  if (s.size() != 38 || s[0] != u'{' || s[37] != u'}' || s[9] != u'-' || s[14] != u'-' || s[19] != u'-' ||
      s[24] != u'-')
    return false;
  if (!ParseHexDigits(s, 2, 8, guid.Data1)) return false;
  if (!ParseHexWord(s, 11, 4, guid.Data2)) return false;
  if (!ParseHexWord(s, 16, 4, guid.Data3)) return false;
  if (!ParseHexByte(s, 21, 2, guid.Data4[0])) return false;
  if (!ParseHexByte(s, 23, 2, guid.Data4[1])) return false;
  for (int i = 0; i < 6; ++i)
    if (!ParseHexByte(s, 26 + 2 * i, 2, guid.Data4[2 + i])) return false;
  return true;
}

}  // namespace foundation
