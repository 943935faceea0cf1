// UTF-16 <-> UTF-8 for the window area's texts (titles, typed text, the
// clipboard): unpaired surrogates and malformed bytes become U+FFFD.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/os/utf.h"

namespace platform::window::utf {

inline std::string Utf8Of(const char16_t* s, size_t n) { return os::utf8Of(std::u16string_view(s, n)); }

inline std::string Utf8Of(const std::u16string& s) { return Utf8Of(s.data(), s.size()); }

inline std::u16string Utf16Of(const std::string& s) {
  std::u16string out;
  for (size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) {
      cp = c;
      n = 1;
    } else if ((c >> 5) == 6) {
      cp = c & 0x1F;
      n = 2;
    } else if ((c >> 4) == 14) {
      cp = c & 0x0F;
      n = 3;
    } else if ((c >> 3) == 30) {
      cp = c & 0x07;
      n = 4;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (i + n > s.size()) break;
    for (size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    i += n;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  }
  return out;
}

}  // namespace platform::window::utf
