#include "platform/os/environment.h"

namespace platform::os {

std::u16string expandEnvironmentStrings(std::u16string_view text) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != u'%') {
      out.push_back(text[i++]);
      continue;
    }
    size_t close = text.find(u'%', i + 1);
    if (close == std::u16string_view::npos) {
      out.append(text.substr(i));
      break;
    }
    std::u16string_view name = text.substr(i + 1, close - i - 1);
    std::optional<std::u16string> value;
    if (!name.empty()) value = getEnvironmentVariable(name);
    if (value) {
      out += *value;
      i = close + 1;
    } else {
      // Unknown: the reference stays; its closing "%" may open the next one.
      out.append(text.substr(i, close - i));
      i = close;
    }
  }
  return out;
}

}  // namespace platform::os
