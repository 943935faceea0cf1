// UTF-16 -> UTF-8, the one encoder of the program: messages, window texts,
// font names and file names all go through it. The callers differ only in
// what a lone surrogate (half of a pair without its other half) becomes.
#pragma once

#include <string>
#include <string_view>

namespace platform::os {

enum class LoneSurrogate {
  // U+FFFD, the replacement character: text for people and for libraries
  // that want valid UTF-8.
  Replace,
  // U+DC80..U+DCFF stand for the byte they escape (see fileNameFromBytes);
  // every other lone surrogate is written as its three-byte sequence, so a
  // file name the kernel gave keeps its exact bytes.
  EscapedByte,
};

// Appends the UTF-8 form of text to out. A valid surrogate pair becomes one
// four-byte sequence.
void appendUtf8(std::string& out, std::u16string_view text, LoneSurrogate lone = LoneSurrogate::Replace);

inline std::string utf8Of(std::u16string_view text, LoneSurrogate lone = LoneSurrogate::Replace) {
  std::string out;
  out.reserve(text.size());
  appendUtf8(out, text, lone);
  return out;
}

}  // namespace platform::os
