#include "platform/os/utf.h"

#include <cstdint>

namespace platform::os {

void appendUtf8(std::string& out, std::u16string_view text, LoneSurrogate lone) {
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDFFF) {
      if (c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
        c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
        ++i;
      } else if (lone == LoneSurrogate::Replace) {
        c = 0xFFFD;
      } else if (c >= 0xDC80 && c <= 0xDCFF) {
        out.push_back(static_cast<char>(c - 0xDC00));
        continue;
      }
    }
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
}

}  // namespace platform::os
