#include "platform/os/paths.h"

#include "platform/os/utf.h"

namespace platform::os {

namespace {

bool isSep(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace

std::string fileNameToBytes(std::u16string_view name) {
  return utf8Of(name, LoneSurrogate::EscapedByte);
}

std::u16string fileNameFromBytes(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t n = bytes.size();
  size_t i = 0;
  auto cont = [&](size_t k) { return i + k < n && (p[i + k] & 0xC0) == 0x80; };
  while (i < n) {
    unsigned char b = p[i];
    if (b < 0x80) {
      out.push_back(b);
      ++i;
      continue;
    }
    uint32_t cp = 0;
    size_t len = 0;
    if (b >= 0xC2 && b <= 0xDF && cont(1)) {
      cp = ((b & 0x1Fu) << 6) | (p[i + 1] & 0x3Fu);
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF && cont(1) && cont(2)) {
      cp = ((b & 0x0Fu) << 12) | ((p[i + 1] & 0x3Fu) << 6) | (p[i + 2] & 0x3Fu);
      // Overlong forms and encoded surrogates are not valid UTF-8.
      if (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) len = 3;
    } else if (b >= 0xF0 && b <= 0xF4 && cont(1) && cont(2) && cont(3)) {
      cp = ((b & 0x07u) << 18) | ((p[i + 1] & 0x3Fu) << 12) | ((p[i + 2] & 0x3Fu) << 6) |
           (p[i + 3] & 0x3Fu);
      if (cp >= 0x10000 && cp <= 0x10FFFF) len = 4;
    }
    if (len == 0) {
      out.push_back(static_cast<char16_t>(0xDC00 + b));
      ++i;
      continue;
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

uint32_t toPosixPath(std::u16string_view path, std::string& out) {
  out.clear();
  if (path.empty()) return 3;
  if (path.find(u'\0') != std::u16string_view::npos) return 123;
  std::u16string_view p = path;
  if (p.size() >= 4 && p[0] == u'\\' && p[1] == u'\\' && p[2] == u'?' && p[3] == u'\\') {
    p.remove_prefix(4);
    // "\\?\UNC\server\share": network names do not exist here.
    if (p.size() >= 3 && (p[0] == u'U' || p[0] == u'u') && (p[1] == u'N' || p[1] == u'n') &&
        (p[2] == u'C' || p[2] == u'c') && (p.size() == 3 || isSep(p[3])))
      return 3;
  } else if (p.size() >= 2 && isSep(p[0]) && isSep(p[1])) {
    return 3;  // a UNC name
  }
  bool absolute = false;
  if (p.size() >= 2 && p[1] == u':') {
    char16_t d = p[0];
    if (d != kRootDrive && d != kRootDrive + (u'a' - u'A')) return 3;
    p.remove_prefix(2);
    // "Z:name" is relative to the drive's current folder, which is the
    // current directory: the only drive is current.
    absolute = !p.empty() && isSep(p[0]);
  } else if (!p.empty() && isSep(p[0])) {
    absolute = true;
  }
  std::u16string buf;
  buf.reserve(p.size() + 1);
  if (absolute) buf.push_back(u'/');
  bool lastSep = absolute;
  for (char16_t c : p) {
    if (isSep(c)) {
      if (!lastSep) buf.push_back(u'/');
      lastSep = true;
    } else {
      buf.push_back(c);
      lastSep = false;
    }
  }
  out = fileNameToBytes(buf);
  if (out.empty()) out = ".";  // "Z:" alone: the drive's current folder
  return 0;
}

std::u16string fromPosixPath(std::string_view posix) {
  std::u16string name = fileNameFromBytes(posix);
  std::u16string out;
  out.reserve(name.size() + 2);
  size_t i = 0;
  if (!name.empty() && name[0] == u'/') {
    out = u"Z:\\";
    while (i < name.size() && name[i] == u'/') ++i;
  }
  bool lastSep = !out.empty();
  for (; i < name.size(); ++i) {
    if (name[i] == u'/') {
      if (!lastSep) out.push_back(u'\\');
      lastSep = true;
    } else {
      out.push_back(name[i]);
      lastSep = false;
    }
  }
  return out;
}

}  // namespace platform::os
