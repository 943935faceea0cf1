#include <algorithm>

#include "platform/os/files.h"

namespace platform::os {

void appendCommandWord(std::u16string& line, std::u16string_view word) {
  bool quote = word.empty() || std::any_of(word.begin(), word.end(), [](char16_t c) { return c <= 32 || c == u'"'; });
  if (!line.empty()) line.push_back(u' ');
  if (!quote) {
    line += word;
    return;
  }
  // The splitter toggles its quoted state at every double quote and drops
  // them all, so a quote inside the word is written as a closing and an
  // opening one: the word stays one token, and it reads back without its
  // quotes, as the splitter reads every quote.
  line.push_back(u'"');
  for (char16_t c : word) {
    if (c == u'"') line.push_back(u'"');
    line.push_back(c);
  }
  line.push_back(u'"');
}

}  // namespace platform::os
