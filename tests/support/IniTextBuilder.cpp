#include "tests/support/IniTextBuilder.h"

namespace testsupport {

namespace {

// Decodes standard UTF-8 (the fixtures are written by hand); a malformed byte
// stands for itself.
std::u32string DecodeUtf8(std::string_view s) {
  std::u32string out;
  size_t i = 0;
  while (i < s.size()) {
    const auto b = static_cast<uint8_t>(s[i]);
    int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
    if (extra < 0 || i + static_cast<size_t>(extra) >= s.size()) {
      out.push_back(b);
      ++i;
      continue;
    }
    char32_t cp = extra == 0 ? b : (b & (0x3F >> extra));
    for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (static_cast<uint8_t>(s[i + static_cast<size_t>(k)]) & 0x3F);
    out.push_back(cp);
    i += static_cast<size_t>(extra) + 1;
  }
  return out;
}

// Code page 1252 bytes 0x80-0x9F; 0 marks the five undefined ones.
constexpr char16_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

uint8_t ToCp1252(char32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<uint8_t>(cp);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] != 0 && kCp1252High[i] == cp) return static_cast<uint8_t>(0x80 + i);
  return '?';
}

void Encode(std::vector<uint8_t>& out, std::string_view utf8, IniEncoding encoding) {
  switch (encoding) {
    case IniEncoding::Utf8Bom:
    case IniEncoding::Utf8:
      out.insert(out.end(), utf8.begin(), utf8.end());
      return;
    case IniEncoding::Utf16LeBom:
      for (char32_t cp : DecodeUtf8(utf8)) {
        auto unit = [&](char16_t u) {
          out.push_back(static_cast<uint8_t>(u & 0xFF));
          out.push_back(static_cast<uint8_t>(u >> 8));
        };
        if (cp >= 0x10000) {
          unit(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
          unit(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
          unit(static_cast<char16_t>(cp));
        }
      }
      return;
    case IniEncoding::Cp1252:
      for (char32_t cp : DecodeUtf8(utf8)) out.push_back(ToCp1252(cp));
      return;
  }
}

}  // namespace

const char* IniEncodingName(IniEncoding e) {
  switch (e) {
    case IniEncoding::Utf8Bom: return "UTF-8 with BOM";
    case IniEncoding::Utf8: return "UTF-8 without BOM";
    case IniEncoding::Utf16LeBom: return "UTF-16LE with BOM";
    case IniEncoding::Cp1252: return "CP1252";
  }
  return "?";
}

const char* IniLineEndName(IniLineEnd e) {
  switch (e) {
    case IniLineEnd::CrLf: return "CR LF";
    case IniLineEnd::Lf: return "LF";
    case IniLineEnd::Cr: return "CR";
    case IniLineEnd::LfCr: return "LF CR";
  }
  return "?";
}

std::vector<uint8_t> BuildIniText(const std::vector<std::string>& lines, IniEncoding encoding,
                                  IniLineEnd lineEnd, bool finalLineEnd) {
  std::vector<uint8_t> out;
  if (encoding == IniEncoding::Utf8Bom) out = {0xEF, 0xBB, 0xBF};
  if (encoding == IniEncoding::Utf16LeBom) out = {0xFF, 0xFE};
  const char* end = lineEnd == IniLineEnd::CrLf ? "\r\n" : lineEnd == IniLineEnd::Lf ? "\n"
                    : lineEnd == IniLineEnd::Cr ? "\r" : "\n\r";
  for (size_t i = 0; i < lines.size(); ++i) {
    Encode(out, lines[i], encoding);
    if (i + 1 < lines.size() || finalLineEnd) Encode(out, end, encoding);
  }
  return out;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  for (;;) {
    const size_t lf = text.find('\n', pos);
    if (lf == std::string_view::npos) {
      lines.emplace_back(text.substr(pos));
      break;
    }
    lines.emplace_back(text.substr(pos, lf - pos));
    pos = lf + 1;
  }
  return lines;
}

std::vector<uint8_t> BuildIniText(std::string_view text, IniEncoding encoding, IniLineEnd lineEnd,
                                  bool finalLineEnd) {
  return BuildIniText(SplitLines(text), encoding, lineEnd, finalLineEnd);
}

}  // namespace testsupport
